// trend_bench: what the trend window ("Průběh") costs over a synthetic day of 430,000 samples
// (bench/trend_day.h). First without the window: opening the day (the min/max pyramid, the
// stages' spans and trips) and the pixel columns of a 1000-pixel view - the whole day, and views
// zoomed in and panned - by the pyramid and by reading every sample. Then the window itself
// (TFormTrend, offscreen) with the day written as a day file into a temporary $XDG_DATA_HOME:
// the file opened through its "Soubor…" button (the open dialog answering with the file) until
// the file is read (on the window's reading thread, the events served meanwhile), the plot and the
// trip list built and the window painted (repaint(), done before it returns); frames of zooming and
// panning by input events on the focused plot (the wheel, +/-, the arrows, a drag) from the whole
// day down to 10 minutes, each from the event's delivery to the end of the plot's repaint(); and
// the process's memory with the day shown.
//
//   trend_bench [--rounds N] [--save PICTURE]
//
// Prints one line per figure (medians; worst beside): trend_open_day_ms, trend_columns_day_ms,
// trend_columns_{6h,1h,10min}_ms (N rounds, 20 by default), trend_window_open_day_ms,
// trend_window_frame_ms (min(N, 5) rounds), trend_window_rss_day_mb; then the window following
// 25 hours of samples: trend_follow_sample_{1h,24h}_us, trend_follow_rss_24h_mb. --save writes the
// window's picture after the frames. Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include <malloc.h>

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bench_windows.h"
#include "form_trend.h"
#include "recording.h"
#include "trend.h"
#include "trend_day.h"

namespace {

using Clock = std::chrono::steady_clock;
using nx480::bench::kDayMillis;
using nx480::bench::kDayStart;
using nx480::bench::Ms;

constexpr int kWidth = 1000;
constexpr int32_t kSerial = 4817;

long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kb = 0;
  while (status >> key)
    if (key == field + ":") return status >> kb ? kb : 0;
  return 0;
}

struct Times {
  std::vector<double> ms;
  void Add(Clock::time_point start) { ms.push_back(Ms(Clock::now() - start)); }
  double Median() const { return nx480::bench::Median(ms); }
  double Worst() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

// The views a user goes through after the whole day: zoomed in to 6 hours, an hour and 10
// minutes (kZooms), each panned over three widths of itself in steps of a tenth.
struct View {
  int64_t t0, t1;
};
constexpr int64_t kZooms[] = {6 * 3600000, 3600000, 600000};
constexpr const char* kZoomNames[] = {"6h", "1h", "10min"};
std::vector<View> ZoomAndPan(int64_t span) {
  std::vector<View> views;
  for (int64_t step = 0; step < 30; ++step) {
    const int64_t t0 = kDayStart + kDayMillis / 3 + step * span / 10;
    views.push_back({t0, t0 + span});
  }
  return views;
}

// The pyramid's figures over `day`, printed; returns the number of trips.
size_t MeasureColumns(const std::vector<nx480::RecordingSample>& day, int rounds) {
  Times open, dayPyramid, dayScan;
  nx480::TrendPyramid pyramid;
  nx480::StageEvents events;
  for (int r = 0; r < rounds; ++r) {
    auto start = Clock::now();
    pyramid = nx480::TrendPyramid(day);
    events = nx480::FindStageEvents(day);
    open.Add(start);
  }
  std::vector<nx480::TrendColumn> columns;
  for (int r = 0; r < rounds; ++r) {
    auto start = Clock::now();
    pyramid.Decimate(kDayStart, kDayStart + kDayMillis, kWidth, columns);
    dayPyramid.Add(start);
    start = Clock::now();
    nx480::DecimateByScan(day, kDayStart, kDayStart + kDayMillis, kWidth, columns);
    dayScan.Add(start);
  }
  Times zoomPyramid[std::size(kZooms)], zoomScan[std::size(kZooms)];
  for (size_t z = 0; z < std::size(kZooms); ++z)
    for (int r = 0; r < rounds; ++r)
      for (const View& v : ZoomAndPan(kZooms[z])) {
        auto start = Clock::now();
        pyramid.Decimate(v.t0, v.t1, kWidth, columns);
        zoomPyramid[z].Add(start);
        start = Clock::now();
        nx480::DecimateByScan(day, v.t0, v.t1, kWidth, columns);
        zoomScan[z].Add(start);
      }
  std::printf("day: %zu samples, %zu spans, %zu trips; pyramid %.1f MB; %d rounds\n", day.size(),
              events.spans.size(), events.trips.size(), pyramid.Bytes() / 1048576.0, rounds);
  std::printf(
      "trend_open_day_ms: %.1f  (goal < 1000 with the file's reading; pyramid and spans, "
      "worst %.1f)\n",
      open.Median(), open.Worst());
  std::printf(
      "trend_columns_day_ms: %.3f  (1000 px, pyramid, worst %.3f; every sample read: "
      "%.3f)\n",
      dayPyramid.Median(), dayPyramid.Worst(), dayScan.Median());
  for (size_t z = 0; z < std::size(kZooms); ++z)
    std::printf(
        "trend_columns_%s_ms: %.3f  (1000 px, panned, pyramid, worst %.3f; every "
        "sample read: %.3f, worst %.3f)\n",
        kZoomNames[z], zoomPyramid[z].Median(), zoomPyramid[z].Worst(), zoomScan[z].Median(),
        zoomScan[z].Worst());
  return events.trips.size();
}

// The day as relay kSerial's day file under `root`; its path, empty after a message.
std::string WriteDayFile(const std::string& root, const std::vector<nx480::RecordingSample>& day) {
  const std::string folder = root + "/" + nx480::RecordingFolderName(kSerial);
  std::filesystem::create_directories(folder);
  std::string text = nx480::RecordingHeader();
  for (const nx480::RecordingSample& s : day) text += nx480::RecordingLine(s);
  const std::string path = folder + "/" + nx480::RecordingDay(day.front()) + ".csv";
  nx480::FileError error;
  if (!nx480::WriteFileAtomically(
          path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, error)) {
    std::fprintf(stderr, "trend_bench: the day file cannot be written: %s\n", path.c_str());
    return {};
  }
  return path;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint;
    return false;
  }
};

void Click(QWidget* widget, QPointF at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &release);
}

// One frame: `deliver` sends the input, then the plot is repainted before it returns (the
// window's other widgets the input changed are painted in the same pass). The time, and
// whether the plot was painted, are kept.
struct Frames {
  TrendPlot* plot;
  PaintCounter* counter;
  Times times;
  int unpainted = 0;
  template <typename Deliver>
  void Frame(Deliver deliver) {
    const int paints = counter->paints;
    const auto start = Clock::now();
    deliver();
    plot->repaint();
    times.Add(start);
    unpainted += counter->paints == paints;
    QApplication::processEvents();  // what the input posted, outside the frame
  }
  void Key(int key) {
    const QString text = key == Qt::Key_Plus ? "+" : key == Qt::Key_Minus ? "-" : "";
    Frame([&] {
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
      QApplication::sendEvent(QApplication::focusWidget(), &press);
    });
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(QApplication::focusWidget(), &release);
  }
  void Wheel(double x) {
    Frame([&] {
      const QPointF at(x, plot->height() / 2.0);
      QWheelEvent wheel(at, plot->mapToGlobal(at), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                        Qt::NoScrollPhase, false);
      QApplication::sendEvent(plot, &wheel);
    });
  }
  // A drag by the left button from x over `steps` moves of `dx` pixels, each move a frame.
  void Drag(double x, double dx, int steps) {
    const double y = plot->height() / 2.0;
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(x, y), plot->mapToGlobal(QPointF(x, y)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(plot, &press);
    for (int i = 1; i <= steps; ++i)
      Frame([&] {
        const QPointF at(x + i * dx, y);
        QMouseEvent move(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(plot, &move);
      });
    const QPointF end(x + steps * dx, y);
    QMouseEvent release(QEvent::MouseButtonRelease, end, plot->mapToGlobal(end), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(plot, &release);
  }
  int64_t Span() const { return plot->ViewEnd() - plot->ViewStart(); }
};

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int rounds = nx480::bench::RoundsOption(argc, argv, 20);
  const int windowRounds = std::min(rounds, 5);
  const std::optional<std::string> data = nx480::bench::TemporaryFolder("trend_bench");
  if (!data) return 1;
  struct Removed {  // the folder goes however the benchmark ends
    std::string path;
    ~Removed() { std::filesystem::remove_all(path); }
  } removed{*data};
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(*data));
  const std::optional<std::string> root = nx480::RecordingRoot();

  std::string path;
  size_t trips = 0;
  {
    const std::vector<nx480::RecordingSample> day = nx480::bench::SyntheticDay();
    trips = MeasureColumns(day, rounds);
    path = WriteDayFile(*root, day);
  }
  // What this benchmark held of its own goes back to the system: the memory measured is the
  // window's.
  malloc_trim(0);
  if (path.empty()) return 1;

  // The window as the live values window makes it, for relay kSerial (not connected: its
  // settings as the relay's read hands them over).
  TFormTrend trend;
  nx480::RelaySession session;
  session.serialNumber = kSerial;
  session.firmware = nx480::FirmwareFeaturesOf(14);
  trend.SetSession(session);
  AppDialogs().chooseOpenFile = [&](QWidget*, const FileDialogSpec&, const QString&) {
    return QString::fromStdString(path);
  };
  AppDialogs().error = [](QWidget*, const QString& title, const QString& text) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
  };
  trend.show();
  trend.activateWindow();
  if (!nx480::bench::RunUntil([&] { return trend.isActiveWindow(); },
                              std::chrono::milliseconds(3000))) {
    std::fprintf(stderr, "trend_bench: the window does not become active\n");
    return 1;
  }
  nx480::SettingsWords record{};
  record[8] = 196, record[9] = 184, record[10] = 253, record[11] = 264, record[16] = 250;
  record[12] = 475, record[13] = 470, record[14] = 515, record[19] = 520;
  trend.TakeSettings(record);
  nx480::bench::Pump(std::chrono::milliseconds(100));
  const long rssBefore = StatusKb("VmRSS");

  PaintCounter counter;
  trend.Plot->installEventFilter(&counter);
  Times open;
  int unpainted = 0;
  long rssFirst = 0, rssDay = 0;  // after the first open, the most after any
  for (int r = 0; r < windowRounds; ++r) {
    const int paints = counter.paints;
    const auto start = Clock::now();
    Click(trend.ButtonFile, trend.ButtonFile->rect().center());
    if (!nx480::bench::RunUntil([&] { return !trend.Loading(); }, std::chrono::seconds(60))) {
      std::fprintf(stderr, "trend_bench: the day file is not read\n");
      return 1;
    }
    trend.repaint();
    open.Add(start);
    unpainted += counter.paints == paints;
    nx480::bench::Pump(std::chrono::milliseconds(50));
    const long rss = StatusKb("VmRSS");
    if (r == 0) rssFirst = rss;
    rssDay = std::max(rssDay, rss);
  }
  // The whole day shown, every line read, every trip listed, the thresholds drawn.
  if (trend.LabelSource->text() != QString::fromStdString(std::filesystem::path(path).filename()) ||
      trend.Plot->ViewEnd() - trend.Plot->ViewStart() < kDayMillis - 1000 || trend.BadLines() > 0 ||
      trend.TreeTrips->topLevelItemCount() != static_cast<int>(trips) ||
      trend.Plot->Thresholds().empty() || unpainted > 0) {
    std::fprintf(stderr, "trend_bench: the window does not show the day: %s; %s\n",
                 qPrintable(trend.LabelSource->text()), qPrintable(trend.LabelNote->text()));
    return 1;
  }

  // From the whole day down to 10 minutes by the wheel, panned by the arrows and a drag at each
  // step; out again by "-" with a pan each step, and in by "+".
  trend.Plot->setFocus(Qt::OtherFocusReason);
  if (QApplication::focusWidget() != trend.Plot) {
    std::fprintf(stderr, "trend_bench: the plot does not take the focus\n");
    return 1;
  }
  Frames frames{trend.Plot, &counter, {}};
  int64_t narrowest = frames.Span();
  for (int r = 0; r < windowRounds; ++r) {
    int steps = 0;
    for (; frames.Span() > 600'000; ++steps) {
      frames.Wheel(trend.Plot->width() * (0.3 + 0.4 * (steps % 3) / 2.0));
      frames.Key(Qt::Key_Right);
      frames.Key(Qt::Key_Left);
      frames.Drag(trend.Plot->width() / 2.0, -25, 3);
    }
    narrowest = std::min(narrowest, frames.Span());
    for (int i = 0; i < steps; ++i) {
      frames.Key(Qt::Key_Minus);
      frames.Key(i % 2 ? Qt::Key_Left : Qt::Key_Right);
    }
    for (int i = 0; i < steps; ++i) frames.Key(Qt::Key_Plus);
    for (int i = 0; i < steps; ++i) frames.Key(Qt::Key_Minus);
  }
  if (argc > 2 && std::string(argv[argc - 2]) == "--save") trend.grab().save(argv[argc - 1]);

  std::printf(
      "window: day file %.1f MB, %zu lines, %d trips listed; plot %dx%d; %zu frames, %d of "
      "them without a paint of the plot\n",
      std::filesystem::file_size(path) / 1048576.0, nx480::bench::kDaySamples,
      trend.TreeTrips->topLevelItemCount(), trend.Plot->width(), trend.Plot->height(),
      frames.times.ms.size(), frames.unpainted);
  std::printf(
      "trend_window_open_day_ms: %.0f  (goal < 1000; worst %.0f; \"Soubor…\" clicked until the "
      "day file is read, the plot and the trip list are built and the window is painted by its "
      "repaint(); median of %d)\n",
      open.Median(), open.Worst(), windowRounds);
  std::printf(
      "trend_window_frame_ms: %.2f  (goal: worst < 50; worst %.2f; %zu frames of wheel, +/-, "
      "arrow keys and drag on the focused plot, views from the day down to %.1f min; each from "
      "the event's delivery to the end of the plot's repaint())\n",
      frames.times.Median(), frames.times.Worst(), frames.times.ms.size(), narrowest / 60000.0);
  std::printf(
      "trend_window_rss_day_mb: %.1f  (goal < 150; VmRSS of the process, the trend window "
      "showing the day, the most after any of %d opens of it; %.1f MB after the first, %.1f MB "
      "before opening)\n",
      rssDay / 1024.0, windowRounds, rssFirst / 1024.0, rssBefore / 1024.0);

  // Left open on "den" while the relay records: 25 hours at 5 samples a second, U< picked up in
  // every other sample (a span closes every 0.4 s), each sample handed over as the live values
  // window does (TakeRecordedSample: the pyramid, the stages' events, the trim; the view's
  // columns are cut when it is next painted, as trend_window_frame_ms measures). The cost per
  // sample over 5000 samples after 1 hour and after 24 hours, and the process's memory after 24
  // hours (and after 25, the last day kept).
  Click(trend.ButtonDay, trend.ButtonDay->rect().center());
  nx480::bench::Pump(std::chrono::milliseconds(50));
  malloc_trim(0);
  const long rssFollowBefore = StatusKb("VmRSS");
  constexpr int64_t kHourSamples = 18'000;
  const int64_t followStart = QDateTime::currentMSecsSinceEpoch();
  double perSample[2] = {0, 0};
  const int64_t marks[2] = {kHourSamples, 24 * kHourSamples};
  Clock::time_point blockStart{};
  long rssDayFollowed = 0;
  for (int64_t i = 0; i < 25 * kHourSamples + 300; ++i) {  // the first trim a minute past 25 h
    for (int m = 0; m < 2; ++m)
      if (i == marks[m]) blockStart = Clock::now();
    nx480::RecordingSample s;
    s.pcMillis = followStart + i * 200;
    s.utcOffsetMinutes = 60;
    s.u[0] = 230 + (i % 7) * 0.1, s.u[1] = 231, s.u[2] = 229;
    s.f = 50;
    if (i % 2) s.pickedUp = 1u << static_cast<int>(nx480::Stage::Uu1);
    trend.TakeRecordedSample(kSerial, s);
    for (int m = 0; m < 2; ++m)
      if (i == marks[m] + 4999) perSample[m] = Ms(Clock::now() - blockStart) * 1000.0 / 5000;
    if (i % 20'000 == 0) QApplication::processEvents();
    if (i == 24 * kHourSamples) {
      malloc_trim(0);
      rssDayFollowed = StatusKb("VmRSS");
    }
  }
  malloc_trim(0);
  const long rssFollow = StatusKb("VmRSS");
  if (trend.Plot->RangeEnd() <= followStart + 25 * 3'600'000 ||
      trend.Plot->RangeStart() <= followStart) {  // followed, and trimmed
    std::fprintf(stderr, "trend_bench: the window does not follow the samples\n");
    return 1;
  }
  std::printf(
      "trend_follow_sample_1h_us: %.1f  (goal: flat, < 2000; the window's work per sample "
      "handed over, U< flapping every other sample at 5 samples/s, after 1 h; mean of 5000; the "
      "columns cut once per painting, not per sample: trend_window_frame_ms)\n",
      perSample[0]);
  std::printf(
      "trend_follow_sample_24h_us: %.1f  (goal: flat, about the 1 h figure, < 2000; the same "
      "after 24 h, the \"den\" view holding a day)\n",
      perSample[1]);
  std::printf(
      "trend_follow_rss_24h_mb: %.1f  (goal < 150; VmRSS of the process after 24 h of samples "
      "followed; %.1f MB after 25 h, the last day kept; %.1f MB before)\n",
      rssDayFollowed / 1024.0, rssFollow / 1024.0, rssFollowBefore / 1024.0);
  return frames.unpainted == 0 ? 0 : 1;
}
