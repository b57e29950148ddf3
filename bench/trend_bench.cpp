// trend_bench: what the trend window costs over a synthetic day of 430,000 samples
// (bench/trend_day.h), without the window: opening the day (the min/max pyramid, the stages'
// spans and trips), the pixel columns of a 1000-pixel view - the whole day, and views zoomed in
// and panned - by the pyramid and by reading every sample, and the columns drawn with a QPainter
// into a 1000x400 image (two plots: U1-U3 above, f below, the thresholds and the spans).
//
//   trend_bench [--rounds N]
//
// Prints one line per figure (medians of N rounds, 20 by default; worst beside):
//   trend_open_day_ms, trend_columns_day_ms, trend_columns_{6h,1h,10min}_ms, trend_paint_ms,
//   trend_frame_ms, trend_rss_day_mb. Runs offscreen (QT_QPA_PLATFORM=offscreen).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "trend.h"
#include "trend_day.h"

namespace {

using Clock = std::chrono::steady_clock;
using nx480::bench::kDayMillis;
using nx480::bench::kDayStart;
using nx480::bench::Median;
using nx480::bench::Ms;

constexpr int kWidth = 1000;
constexpr int kHeight = 400;

long RssKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long kb = 0;
  while (status >> key)
    if (key == "VmRSS:") return status >> kb ? kb : 0;
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

// The columns drawn: per series a vertical line from the column's lowest to its highest value
// and a line on to the next column's first value; the thresholds across, the spans behind.
void Paint(QImage& image, const std::vector<nx480::TrendColumn>& columns,
           std::span<const nx480::RecordingSample> samples,
           const std::vector<nx480::ThresholdLine>& thresholds,
           const std::vector<nx480::StageSpan>& spans, View view, bool antialiased) {
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, antialiased);
  const QRectF plots[2] = {QRectF(0, 0, kWidth, kHeight * 0.65),
                           QRectF(0, kHeight * 0.65, kWidth, kHeight * 0.35)};
  const auto x = [&](int64_t t) {
    return static_cast<double>(t - view.t0) * kWidth / static_cast<double>(view.t1 - view.t0);
  };
  for (const nx480::StageSpan& s : spans) {
    if (s.end < view.t0 || s.start >= view.t1) continue;
    painter.fillRect(
        QRectF(x(s.start), 0, std::max(1.0, x(s.end) - x(s.start)), kHeight),
        s.kind == nx480::SpanKind::Tripped ? QColor(255, 200, 200) : QColor(255, 235, 200));
  }
  // Each plot's range: its series' extremes and its thresholds.
  double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
  for (const nx480::TrendColumn& c : columns)
    for (int s = 0; s < nx480::kTrendSeries; ++s) {
      const int p = s < 3 ? 0 : 1;
      if (c.min[s] < lo[p]) lo[p] = c.min[s];
      if (c.max[s] > hi[p]) hi[p] = c.max[s];
    }
  for (const nx480::ThresholdLine& t : thresholds) {
    const int p = t.frequency ? 1 : 0;
    lo[p] = std::min(lo[p], t.value);
    hi[p] = std::max(hi[p], t.value);
  }
  const auto y = [&](int p, double v) {
    return plots[p].bottom() - (v - lo[p]) / (hi[p] - lo[p]) * plots[p].height();
  };
  painter.setPen(QPen(Qt::darkGray, 0, Qt::DashLine));
  for (const nx480::ThresholdLine& t : thresholds) {
    const int p = t.frequency ? 1 : 0;
    painter.drawLine(QPointF(0, y(p, t.value)), QPointF(kWidth, y(p, t.value)));
  }
  const QColor colours[nx480::kTrendSeries] = {Qt::darkYellow, Qt::black, Qt::red, Qt::blue};
  std::vector<QLineF> lines;
  lines.reserve(2 * columns.size());
  for (int s = 0; s < nx480::kTrendSeries; ++s) {
    const int p = s < 3 ? 0 : 1;
    lines.clear();
    for (size_t i = 0; i < columns.size(); ++i) {
      const nx480::TrendColumn& c = columns[i];
      if (!c.any || std::isnan(c.min[s])) continue;
      const double px = static_cast<double>(i) + 0.5;
      lines.emplace_back(px, y(p, c.min[s]), px, y(p, c.max[s]));
      if (i + 1 < columns.size() && columns[i + 1].any) {
        const double from = nx480::SeriesValue(samples[c.last], s);
        const double to = nx480::SeriesValue(samples[columns[i + 1].first], s);
        if (!std::isnan(from) && !std::isnan(to))
          lines.emplace_back(px, y(p, from), px + 1, y(p, to));
      }
    }
    painter.setPen(QPen(colours[s], 0));
    painter.drawLines(lines.data(), static_cast<int>(lines.size()));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QGuiApplication app(argc, argv);
  const int rounds = nx480::bench::RoundsOption(argc, argv, 20);
  const long rssBefore = RssKb();
  const std::vector<nx480::RecordingSample> day = nx480::bench::SyntheticDay();

  nx480::SettingsWords record{};
  record[8] = 196, record[9] = 184, record[10] = 253, record[11] = 264, record[16] = 250;
  record[12] = 475, record[13] = 470, record[14] = 515, record[19] = 520;
  const auto thresholds = nx480::ThresholdLines(record, nx480::FirmwareFeaturesOf(14));

  Times open, dayPyramid, dayScan, paint, paintSmooth;
  nx480::TrendPyramid pyramid;
  nx480::StageEvents events;
  for (int r = 0; r < rounds; ++r) {
    auto start = Clock::now();
    pyramid = nx480::TrendPyramid(day);
    events = nx480::FindStageEvents(day);
    open.Add(start);
  }
  const long rssDay = RssKb();

  std::vector<nx480::TrendColumn> columns;
  const View whole{kDayStart, kDayStart + kDayMillis};
  for (int r = 0; r < rounds; ++r) {
    auto start = Clock::now();
    pyramid.Decimate(whole.t0, whole.t1, kWidth, columns);
    dayPyramid.Add(start);
    start = Clock::now();
    nx480::DecimateByScan(day, whole.t0, whole.t1, kWidth, columns);
    dayScan.Add(start);
  }
  std::vector<View> views;
  Times zoomPyramid[std::size(kZooms)], zoomScan[std::size(kZooms)];
  for (size_t z = 0; z < std::size(kZooms); ++z) {
    const std::vector<View> panned = ZoomAndPan(kZooms[z]);
    views.insert(views.end(), panned.begin(), panned.end());
    for (int r = 0; r < rounds; ++r)
      for (const View& v : panned) {
        auto start = Clock::now();
        pyramid.Decimate(v.t0, v.t1, kWidth, columns);
        zoomPyramid[z].Add(start);
        start = Clock::now();
        nx480::DecimateByScan(day, v.t0, v.t1, kWidth, columns);
        zoomScan[z].Add(start);
      }
  }

  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  std::vector<View> paintViews{whole};
  paintViews.insert(paintViews.end(), views.begin(), views.end());
  for (int r = 0; r < rounds; ++r)
    for (const View& v : paintViews) {
      pyramid.Decimate(v.t0, v.t1, kWidth, columns);
      auto start = Clock::now();
      Paint(image, columns, day, thresholds, events.spans, v, false);
      paint.Add(start);
      start = Clock::now();
      Paint(image, columns, day, thresholds, events.spans, v, true);
      paintSmooth.Add(start);
    }
  // A view zoomed in and panned, columns and picture together: one frame.
  Times frame;
  for (int r = 0; r < rounds; ++r)
    for (const View& v : paintViews) {
      auto start = Clock::now();
      pyramid.Decimate(v.t0, v.t1, kWidth, columns);
      Paint(image, columns, day, thresholds, events.spans, v, true);
      frame.Add(start);
    }
  if (argc > 2 && std::string(argv[argc - 2]) == "--save") image.save(argv[argc - 1]);

  std::printf(
      "day: %zu samples, %zu spans, %zu trips; pyramid %.1f MB; %zu zoomed and panned "
      "views; %d rounds\n",
      day.size(), events.spans.size(), events.trips.size(), pyramid.Bytes() / 1048576.0,
      views.size(), rounds);
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
  std::printf(
      "trend_paint_ms: %.2f  (QPainter, 1000x400 image, antialiased, worst %.2f; "
      "aliased %.2f, worst %.2f)\n",
      paintSmooth.Median(), paintSmooth.Worst(), paint.Median(), paint.Worst());
  std::printf("trend_frame_ms: %.2f  (goal < 50; columns and picture of one view, worst %.2f)\n",
              frame.Median(), frame.Worst());
  std::printf(
      "trend_rss_day_mb: %.1f  (goal < 150; VmRSS with the day, its pyramid and spans, "
      "%.1f MB before the day)\n",
      rssDay / 1024.0, rssBefore / 1024.0);
  return 0;
}
