// The trend window ("Průběh") against the simulated relay: opened from the live values window,
// a range chosen by keys over a day file with a trip and a damaged line, the relay's thresholds
// and their labels, the axes and the heading through zoom (wheel, +/-) and pan, never an empty
// view; the live recording of a simulator trip followed; Esc, and the window on screen wherever
// the live values window is. Also writes the window's picture when NX480_TREND_PICTURE names a
// file.
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QTreeWidget>
#include <QWheelEvent>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "form_trend.h"
#include "recording.h"
#include "relay_live.h"
#include "relay_model.h"
#include "settings_table.h"
#include "window_fixture.h"

namespace sim = nx480::sim;
using nx480::Stage;

namespace {

// Two minutes of samples every 200 ms ending 30 s ago, U1 rising over the U>> setting: picked
// up at 60 s, tripped at 61.6 s, back at 80 s; a damaged line among them. Written to the day
// files of relay `serial` under `root` (two when the two minutes straddle midnight). Returns the
// file with the trip, and the times of the first and the last sample in `span`.
std::string WriteRecording(const std::string& root, uint32_t serial, std::vector<int64_t>& span) {
  nx480::RecordingSample now;
  nx480::StampNow(now);
  std::map<std::string, std::string> files;
  std::string tripDay;
  for (int i = 0; i < 600; ++i) {
    nx480::RecordingSample s = now;
    s.pcMillis = now.pcMillis - 150'000 + 200 * i;
    const bool high = i >= 300 && i < 400;
    s.u[0] = high ? 262.0 : 231.0;
    s.u[1] = 230.5;
    s.u[2] = 229.8;
    s.f = 50.01;
    if (high) s.pickedUp = 1u << static_cast<int>(Stage::Uo2);
    if (i >= 308 && i < 400) s.tripped = 1u << static_cast<int>(Stage::Uo2);
    std::string& text = files[nx480::RecordingDay(s)];
    if (text.empty()) text = nx480::RecordingHeader();
    text += nx480::RecordingLine(s);
    if (i == 100) text += "2026-12-10T,cut\n";
    if (i == 308) tripDay = nx480::RecordingDay(s);
    if (i == 0 || i == 599) span.push_back(s.pcMillis);
  }
  const std::string folder = root + "/" + nx480::RecordingFolderName(serial);
  std::filesystem::create_directories(folder);
  for (const auto& [day, text] : files) std::ofstream(folder + "/" + day + ".csv") << text;
  return folder + "/" + tripDay + ".csv";
}

void Mnemonic(QWidget* window, Qt::Key key) {
  QWidget* focus = QApplication::focusWidget();
  QTest::keyClick(focus && focus->window() == window ? focus : window, key, Qt::AltModifier);
  QVERIFY(ButtonsReleased());  // a mnemonic clicks its button after its animation
}

// Connected to `relay`, Alt+P in the live values window: the trend open, active, with the relay's
// thresholds.
bool OpenTrend(AppFixture& app, sim::PtyRelay& relay) {
  app.Connect(relay);
  if (!QTest::qWaitFor([&] { return app.onLine.isVisible(); }, 10000)) return false;
  app.onLine.activateWindow();
  if (!QTest::qWaitForWindowActive(&app.onLine)) return false;
  Mnemonic(&app.onLine, Qt::Key_P);
  TFormTrend& t = app.onLine.Trend();
  if (!QTest::qWaitFor([&] { return !t.Plot->Thresholds().empty(); }, 10000)) return false;
  t.activateWindow();
  return QTest::qWaitForWindowActive(&t);
}

// The plot's U>> line and the relay's U>> setting in volts.
std::pair<double, double> Uo2Line(const TFormTrend& t, const sim::RelayConfig& config) {
  nx480::SettingsWords words{};
  const auto factory = sim::DefaultSettings(config.version);
  std::copy(factory.begin(), factory.end(), words.begin());
  const auto line = std::find_if(t.Plot->Thresholds().begin(), t.Plot->Thresholds().end(),
                                 [](const auto& l) { return l.stage == Stage::Uo2; });
  return {line != t.Plot->Thresholds().end() ? line->value : -1,
          nx480::ParameterValue(words, *nx480::FindSettingsParameter("Uo2"),
                                nx480::FirmwareFeaturesOf(14))};
}

// What a user sees of the plot: it painted, its labels as drawn.
void Look(TrendPlot* plot) {
  plot->grab();
}

bool AnySample(const TrendPlot* plot) {
  return std::any_of(plot->Columns().begin(), plot->Columns().end(),
                     [](const nx480::TrendColumn& c) { return c.any; });
}

// The time axis as drawn: three labels or more, inside the view, a round step apart in local
// time, each the local time of its mark ("HH:mm", "HH:mm:ss" below a minute, the date at
// midnight).
void CheckTimeLabels(const TrendPlot* plot) {
  const auto& labels = plot->TimeLabels();
  QVERIFY2(labels.size() >= 3, qPrintable(QString::number(labels.size())));
  const int64_t step = labels[1].t - labels[0].t;
  for (size_t i = 0; i < labels.size(); ++i) {
    const auto& l = labels[i];
    QVERIFY(l.t >= plot->ViewStart() && l.t < plot->ViewEnd());
    if (i > 0) QCOMPARE(l.t - labels[i - 1].t, step);
    const QDateTime local =
        QDateTime::fromMSecsSinceEpoch(l.t, QTimeZone(plot->UtcOffsetAt(l.t) * 60));
    QVERIFY2((l.t + local.offsetFromUtc() * 1000LL) % step == 0, qPrintable(l.text));
    const QString want = local.time() == QTime(0, 0) ? local.toString("d.M.")
                         : step < 60'000             ? local.toString("HH:mm:ss")
                                                     : local.toString("HH:mm");
    QCOMPARE(l.text, want);
  }
}

// No threshold's label over a column's values (U1-U3 or f, its lowest to its highest).
void CheckLabelsOffData(const TrendPlot* plot) {
  const double left = plot->DataRect().left();
  for (const auto& label : plot->ThresholdLabels()) {
    const bool frequency = label.text.endsWith("Hz");
    for (int c = int(label.box.left() - left); c < std::ceil(label.box.right() - left); ++c) {
      if (c < 0 || c >= int(plot->Columns().size()) || !plot->Columns()[c].any) continue;
      for (int s = frequency ? 3 : 0; s < (frequency ? 4 : 3); ++s) {
        const double top = plot->YOf(frequency, plot->Columns()[c].max[s]);
        const double bottom = plot->YOf(frequency, plot->Columns()[c].min[s]);
        QVERIFY2(bottom <= label.box.top() || top >= label.box.bottom(),
                 qPrintable(QString("%1 over column %2").arg(label.text).arg(c)));
      }
    }
  }
}

// The heading for a view other than the one first shown: the source, from - to.
QString FromTo(const QString& source, const TrendPlot* plot) {
  const auto local = [&](int64_t t) {
    return QDateTime::fromMSecsSinceEpoch(t, QTimeZone(plot->UtcOffsetAt(t) * 60));
  };
  const QDateTime from = local(plot->ViewStart()), to = local(plot->ViewEnd());
  return source + ", " + from.toString("d.M. HH:mm:ss") + " – " +
         to.toString(from.date() == to.date() ? "HH:mm:ss" : "d.M. HH:mm:ss");
}

void Wheel(TrendPlot* plot, double x, int steps) {
  const QPointF at(x, 50);
  QWheelEvent wheel(at, plot->mapToGlobal(at), {}, {0, 120 * steps}, Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(plot, &wheel);
}

}  // namespace

class TrendWindowTest : public QObject {
  Q_OBJECT
 private slots:
  // Local time half an hour off the hours of UTC: the time axis' marks and labels must follow it.
  void initTestCase() {
    ::setenv("TZ", "IST-5:30", 1);
    ::tzset();
  }

  void showsTheRecordedTripWithTheRelaysThresholds() {
    QTemporaryDir data;
    ScopedDataHome home(data.path());
    sim::RelayConfig config;
    sim::PtyRelay relay(config);
    sim::AttachLiveValues(relay);
    relay.Start();
    std::vector<int64_t> recording;  // the times of its first and last sample
    const std::string file = WriteRecording(data.path().toStdString() + "/nx480-pc/recordings",
                                            config.serial, recording);
    AppFixture app;
    // Alt+P on the live values window opens the trend; its settings come from the relay.
    QVERIFY(OpenTrend(app, relay));
    TFormTrend& t = app.onLine.Trend();
    Mnemonic(&t, Qt::Key_H);  // the last hour
    QCOMPARE(t.LabelSource->text(), QString("Relé 1234, poslední hodina"));

    QCOMPARE(t.TreeTrips->topLevelItemCount(), 1);
    const QTreeWidgetItem* trip = t.TreeTrips->topLevelItem(0);
    QCOMPARE(trip->text(1), QString("U>>"));
    QCOMPARE(trip->text(2), QString("262,0"));
    // Picked up in the sample 1.6 s before, each edge known to 0.2 s.
    QCOMPARE(trip->text(6), QString("1,6 s (1,4–1,8 s)"));
    QVERIFY2(t.LabelTrips->text().contains("po 0,20 s"), qPrintable(t.LabelTrips->text()));
    QVERIFY(t.LabelNote->text().contains("Vynecháno řádků: 1"));
    int tripSpans = 0;
    for (const nx480::StageSpan& s : t.Plot->Spans())
      tripSpans += s.stage == Stage::Uo2 && s.kind == nx480::SpanKind::Tripped;
    QCOMPARE(tripSpans, 1);
    // The cursor line over the trip reads its values out.
    const auto over = [&](Stage stage) {
      for (const nx480::StageSpan& s : t.Plot->Spans())
        if (s.stage == stage && s.kind == nx480::SpanKind::Tripped) {
          QMouseEvent move(QEvent::MouseMove, QPointF(t.Plot->XOf((s.start + s.end) / 2), 60),
                           QPointF(), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
          QApplication::sendEvent(t.Plot, &move);
        }
    };
    over(Stage::Uo2);
    QVERIFY2(t.LabelCursor->text().contains("U1 262,0 V   U2 230,5 V   U3 229,8 V   f 50,01 Hz"),
             qPrintable(t.LabelCursor->text()));

    // The U>> line stands at the relay's setting; U> (10-minute) has the same value: one line,
    // named once, its label off the recording (at the hour's right end).
    const auto [line, setting] = Uo2Line(t, config);
    QCOMPARE(line, setting);
    Look(t.Plot);
    QStringList captions;
    for (const auto& l : t.Plot->ThresholdLabels()) captions << l.text;
    QCOMPARE(captions, QStringList({"U< 196 V", "U<< 184 V", "U> U>> 253 V", "U>>> 264 V",
                                    "f< 47,5 Hz", "f<< 47,0 Hz", "f> 51,5 Hz", "f>> 52,0 Hz"}));
    CheckLabelsOffData(t.Plot);
    Mnemonic(&t, Qt::Key_1);
    Look(t.Plot);
    CheckLabelsOffData(t.Plot);
    Mnemonic(&t, Qt::Key_H);
    for (int p = 0; p < 2; ++p) QVERIFY(t.Plot->ValueLabels(p).size() >= 3);
    CheckTimeLabels(t.Plot);

    // "+" zooms about the recording, not the hour's empty middle.
    QTest::keyClick(t.Plot, Qt::Key_Plus);
    QVERIFY(t.Plot->ViewStart() <= recording.front() && t.Plot->ViewEnd() > recording.back());
    // The wheel zooms about the cursor, the axis and the heading following; the arrows pan.
    Mnemonic(&t, Qt::Key_H);
    const double x = t.Plot->XOf(recording.front() + 60'000);
    const auto timeAt = [&](double x) {
      const QRectF area = t.Plot->DataRect();
      return t.Plot->ViewStart() + static_cast<int64_t>((x - area.left()) / area.width() *
                                                        (t.Plot->ViewEnd() - t.Plot->ViewStart()));
    };
    const int64_t under = timeAt(x), hour = t.Plot->ViewEnd() - t.Plot->ViewStart();
    Wheel(t.Plot, x, 2);
    QVERIFY(t.Plot->ViewEnd() - t.Plot->ViewStart() < hour * 0.7);
    QVERIFY(std::abs(timeAt(x) - under) <= hour / t.Plot->DataRect().width());
    Look(t.Plot);
    CheckTimeLabels(t.Plot);
    QCOMPARE(t.LabelSource->text(), FromTo("Relé 1234", t.Plot));
    QTest::keyClick(t.Plot, Qt::Key_Left);
    Look(t.Plot);
    CheckTimeLabels(t.Plot);
    QCOMPARE(t.LabelSource->text(), FromTo("Relé 1234", t.Plot));

    // Two minutes about the trip, the recording in the view's left part: "+" zooms about the
    // middle of what it shows of the recording, and centres it.
    Mnemonic(&t, Qt::Key_1);
    Wheel(t.Plot, t.Plot->XOf(recording.front() + 60'000), 7);
    const auto dataMiddle = [&] {
      const auto& columns = t.Plot->Columns();
      int first = -1, last = -1;
      for (int c = 0; c < int(columns.size()); ++c)
        if (columns[c].any) (first < 0 ? first : last) = c, last = c;
      return t.Plot->ViewStart() +
             int64_t((first + last + 1) / 2.0 * (t.Plot->ViewEnd() - t.Plot->ViewStart()) /
                     columns.size());
    };
    const int64_t middle = dataMiddle();
    QVERIFY(std::abs(t.Plot->XOf(middle) - t.Plot->DataRect().center().x()) > 60);
    QTest::keyClick(t.Plot, Qt::Key_Plus);
    QVERIFY2(std::abs(t.Plot->XOf(middle) - t.Plot->DataRect().center().x()) < 3,
             qPrintable(QString::number(t.Plot->XOf(middle))));

    // Zoomed in by the wheel over the empty part of the hour, or by "+" down to the narrowest
    // view: never an empty view.
    Mnemonic(&t, Qt::Key_H);
    for (int i = 0; i < 12; ++i) {
      Wheel(t.Plot, t.Plot->DataRect().left() + 2, 1);
      QVERIFY2(AnySample(t.Plot), qPrintable(t.LabelSource->text()));
    }
    for (int i = 0; i < 40; ++i) {
      QTest::keyClick(t.Plot, Qt::Key_Plus);
      QVERIFY(AnySample(t.Plot));
    }
    QCOMPARE(t.Plot->ViewEnd() - t.Plot->ViewStart(), TrendPlot::kMinViewMs);
    Look(t.Plot);
    CheckTimeLabels(t.Plot);

    // "den" shows the span recorded, not 24 hours.
    Mnemonic(&t, Qt::Key_D);
    QCOMPARE(t.LabelSource->text(), QString("Relé 1234, poslední den"));
    QCOMPARE(t.Plot->ViewStart(), recording.front());
    QCOMPARE(t.Plot->RangeStart(), recording.front());
    QVERIFY(t.Plot->ViewEnd() - t.Plot->ViewStart() < 3'600'000);
    Look(t.Plot);
    CheckTimeLabels(t.Plot);
    // While the relay records, the day's view takes in each new sample, from the same start.
    const int64_t dayEnd = t.Plot->RangeEnd();
    QVERIFY(WaitUntil([&] { return t.Plot->RangeEnd() > dayEnd + 500; }, 10000));
    QCOMPARE(t.Plot->ViewStart(), recording.front());
    QCOMPARE(t.Plot->ViewEnd(), t.Plot->RangeEnd());
    QCOMPARE(t.LabelSource->text(), QString("Relé 1234, poslední den"));

    // A file chosen from another folder is no recording of this relay: no thresholds.
    const QString other = data.path() + "/other/2026-12-09.csv";
    std::filesystem::create_directories((data.path() + "/other").toStdString());
    std::filesystem::copy_file(file, other.toStdString());
    app.openPath = other;
    Mnemonic(&t, Qt::Key_S);
    QVERIFY(WaitUntil([&] { return !t.Loading(); }, 30000));
    QCOMPARE(t.LabelSource->text(), QString("2026-12-09.csv"));
    QTest::keyClick(t.Plot, Qt::Key_Plus);
    QCOMPARE(t.LabelSource->text(), FromTo("2026-12-09.csv", t.Plot));
    for (int i = 0; i < 3; ++i) QTest::keyClick(t.Plot, Qt::Key_Minus);
    QCOMPARE(t.LabelSource->text(), QString("2026-12-09.csv"));
    QCOMPARE(t.TreeTrips->topLevelItemCount(), 1);
    QVERIFY(t.Plot->Thresholds().empty());
    QVERIFY(t.LabelNote->text().contains("Bez nastavení relé"));

    if (const QByteArray picture = qgetenv("NX480_TREND_PICTURE"); !picture.isEmpty()) {
      Mnemonic(&t, Qt::Key_1);  // the last 10 minutes, the cursor on the trip
      over(Stage::Uo2);
      t.grab().save(QString::fromLocal8Bit(picture));
      app.onLine.grab().save(QString::fromLocal8Bit(picture).replace(".png", "-live.png"));
    }
    QTest::keyClick(app.onLine.EditFocus, Qt::Key_F1);  // disconnect
  }

  // End to end: the relay trips U>> by its configuration (as nx480-sim --trip 'U>>:10:3:5' sets
  // it) while the live values window records. "Průběh" on "10 min" follows the recording without
  // a button: the view's end moves along, the trip comes into the plot and the list as the day
  // file has it; zoomed in and panned left, the view stays.
  void followsTheLiveRecordingOfATrip() {
    using namespace std::chrono_literals;
    QTemporaryDir data;
    ScopedDataHome home(data.path());
    sim::RelayConfig config;
    config.trips = {{"U>>", 10s, 3s, 8s}};  // well after the trend is open, on a slow machine too
    sim::PtyRelay relay(config);
    sim::AttachLiveValues(relay);
    relay.Start();
    AppFixture app;
    QVERIFY(OpenTrend(app, relay));
    TFormTrend& t = app.onLine.Trend();
    Mnemonic(&t, Qt::Key_1);
    QVERIFY(t.LabelSource->text().endsWith("poslední 10 minut") &&
            t.TreeTrips->topLevelItemCount() == 0);
    const int64_t end = t.Plot->ViewEnd();
    QVERIFY(WaitUntil([&] { return t.Plot->ViewEnd() > end + 1000; }, 10000));
    QCOMPARE(t.Plot->ViewEnd(), t.Plot->RangeEnd());
    QVERIFY(WaitUntil([&] { return t.TreeTrips->topLevelItemCount() > 0; }, 30000));
    const auto& spans = t.Plot->Spans();  // the relay trips without a pick-up
    QVERIFY(spans.size() == 1 && spans[0].stage == Stage::Uo2 &&
            spans[0].kind == nx480::SpanKind::Tripped);
    const auto [line, setting] = Uo2Line(t, config);
    QCOMPARE(line, setting);

    // Zoomed in and panned left: the samples still come, the view stays.
    QTest::mouseClick(t.Plot, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::keyClick(t.Plot, Qt::Key_Plus);
    QTest::keyClick(t.Plot, Qt::Key_Left);
    const int64_t view0 = t.Plot->ViewStart(), view1 = t.Plot->ViewEnd();
    const int64_t range = t.Plot->RangeEnd();
    QVERIFY(WaitUntil([&] { return t.Plot->RangeEnd() > range + 1000; }, 10000));
    QVERIFY(t.Plot->ViewStart() == view0 && t.Plot->ViewEnd() == view1);

    // The listed trip is the day file's first sample with U>> tripped; no pick-up was seen, so
    // the delay lies within the time since the sample before.
    const std::string path = app.onLine.Recorder()->Path();
    QTest::keyClick(app.onLine.EditFocus, Qt::Key_F1);  // the recording written
    QVERIFY(WaitUntil([&] { return !app.onLine.isVisible(); }, 10000));
    const QTreeWidgetItem* row = t.TreeTrips->topLevelItem(0);
    nx480::RecordingRead file;
    nx480::FileError error;
    QVERIFY(nx480::ReadRecording(path, file, error));
    size_t at = 1;
    while (at < file.samples.size() && !file.samples[at].Tripped(Stage::Uo2)) ++at;
    QVERIFY(at < file.samples.size());
    const nx480::RecordingSample& s = file.samples[at];
    const int64_t gap = s.pcMillis - file.samples[at - 1].pcMillis;
    const QDateTime time =
        QDateTime::fromMSecsSinceEpoch(s.pcMillis, QTimeZone(s.utcOffsetMinutes * 60));
    QCOMPARE(row->text(0), time.toString("d.M. HH:mm:ss,zzz").chopped(2));
    QCOMPARE(row->text(1), QString("U>>"));
    QCOMPARE(row->text(6),
             "0,0 s (0,0–" + QString::number(gap / 1000.0, 'f', 1).replace('.', ',') + " s)");
  }

  // A day file of an hour, the PC's clock set back 30 minutes, another hour, chosen by "Soubor":
  // every line is in the plot, the step is counted, the cursor reads each hour's times as
  // recorded.
  void aClockSetBackHidesNothing() {
    QTemporaryDir data;
    const int64_t ten = 1796893200000;  // 2026-12-10 10:00 +01:00
    std::string text = nx480::RecordingHeader();
    for (int i = 0; i < 7200; ++i) {
      nx480::RecordingSample s;
      s.pcMillis = ten + int64_t{i} * 1000 - (i >= 3600 ? 1'800'000 : 0);
      s.utcOffsetMinutes = 60;
      s.u[0] = s.u[1] = s.u[2] = 230;
      s.f = 50;
      text += nx480::RecordingLine(s);
    }
    const QString path = data.filePath("2026-12-10.csv");
    std::ofstream(path.toStdString()) << text;
    AppFixture app;
    TFormTrend& t = app.onLine.Trend();
    t.show();
    t.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&t));
    app.openPath = path;
    Mnemonic(&t, Qt::Key_S);
    QVERIFY(WaitUntil([&] { return !t.Loading(); }, 30000));
    QCOMPARE(t.LabelSource->text(), QString("2026-12-10.csv"));
    const auto& columns = t.Plot->Columns();
    const auto first = std::find_if(columns.begin(), columns.end(), [](auto& c) { return c.any; });
    const auto last = std::find_if(columns.rbegin(), columns.rend(), [](auto& c) { return c.any; });
    QVERIFY(first != columns.end());
    QCOMPARE(first->first, size_t{0});
    QCOMPARE(last->last, size_t{7199});
    QVERIFY2(t.LabelNote->text().contains("Hodiny PC vráceny zpět: 1×") &&
                 !t.LabelNote->text().contains("Vynecháno"),
             qPrintable(t.LabelNote->text()));
    const auto cursorAt = [&](int column) {
      QMouseEvent move(QEvent::MouseMove, QPointF(t.Plot->DataRect().left() + column + 0.5, 60),
                       QPointF(), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(t.Plot, &move);
      return t.LabelCursor->text();
    };
    QVERIFY2(cursorAt(first - columns.begin()).startsWith("10.12. 10:00:"),
             qPrintable(cursorAt(first - columns.begin())));
    QVERIFY2(cursorAt(int(columns.rend() - last) - 1).startsWith("10.12. 11:29:5"),
             qPrintable(cursorAt(int(columns.rend() - last) - 1)));
  }

  // "Soubor" reads on a thread of its own, the heading saying so at once; a 500 MB file is refused
  // by its size with a message naming it.
  void aHugeFileIsRefusedByItsSize() {
    QTemporaryDir data;
    const QString path = data.filePath("2026-12-10.csv");
    std::ofstream(path.toStdString()) << nx480::RecordingHeader();
    std::filesystem::resize_file(path.toStdString(), 500'000'000);  // sparse: no data written
    AppFixture app;
    TFormTrend& t = app.onLine.Trend();
    t.show();
    t.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&t));
    app.openPath = path;
    t.ButtonFile->setFocus();
    QTest::keyClick(t.ButtonFile, Qt::Key_Space);
    QVERIFY(t.Loading());
    QVERIFY2(t.LabelSource->text().startsWith("Načítám 2026-12-10.csv…"),
             qPrintable(t.LabelSource->text()));
    QCOMPARE(t.cursor().shape(), Qt::BusyCursor);
    QVERIFY(WaitUntil([&] { return !t.Loading(); }, 30000));
    QVERIFY2(t.LabelNote->text().contains("Soubor je příliš velký: 500 MB"),
             qPrintable(t.LabelNote->text()));
    QCOMPARE(t.cursor().shape(), Qt::ArrowCursor);
  }

  // Left open on "den" while the relay records for 25 hours (a sample every 10 s, U< picked up
  // every other one, a trip at each full hour): it keeps the last 24 hours whole and lets the
  // rest go; the spans and trips are those of what it keeps, in order.
  void aWindowLeftOpenKeepsADay() {
    QTemporaryDir data;
    ScopedDataHome home(data.path());
    AppFixture app;
    TFormTrend& t = app.onLine.Trend();
    nx480::RelaySession session;
    session.serialNumber = 4817;
    session.firmware = nx480::FirmwareFeaturesOf(14);
    t.SetSession(session);
    t.show();
    t.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&t));
    Mnemonic(&t, Qt::Key_D);
    const int64_t start = QDateTime::currentMSecsSinceEpoch();
    std::vector<nx480::RecordingSample> sent;
    for (int i = 0; i < 25 * 360 + 3; ++i) {  // the last hour's trim just made
      nx480::RecordingSample s;
      s.pcMillis = start + int64_t{i} * 10'000;
      s.utcOffsetMinutes = 60;
      s.u[0] = s.u[1] = s.u[2] = 230;
      s.f = 50;
      if (i % 2) s.pickedUp = 1u << static_cast<int>(Stage::Uu1);
      if (i % 360 == 1) s.tripped = 1u << static_cast<int>(Stage::Uu1);
      t.TakeRecordedSample(4817, s);
      sent.push_back(s);
    }
    const int64_t newest = sent.back().pcMillis;
    QVERIFY2(t.Plot->RangeStart() <= newest - TFormTrend::kKeptMs &&
                 t.Plot->RangeStart() > newest - TFormTrend::kKeptMs - 3'600'000,
             qPrintable(QString::number((newest - t.Plot->RangeStart()) / 60000.0)));
    QCOMPARE(t.Plot->ViewStart(), t.Plot->RangeStart());  // "den" shows all it keeps
    std::vector<nx480::RecordingSample> kept;
    for (const nx480::RecordingSample& s : sent)
      if (s.pcMillis >= t.Plot->RangeStart()) kept.push_back(s);
    const nx480::StageEvents want = nx480::FindStageEvents(kept);
    const std::vector<nx480::StageSpan> spans = t.Plot->Spans();
    QCOMPARE(spans.size(), want.spans.size());
    for (size_t i = 0; i < spans.size(); ++i)
      QVERIFY(spans[i].start == want.spans[i].start && spans[i].end == want.spans[i].end &&
              spans[i].stage == want.spans[i].stage && spans[i].kind == want.spans[i].kind);
    QCOMPARE(t.TreeTrips->topLevelItemCount(), static_cast<int>(want.trips.size()));
    QVERIFY(want.trips.size() >= 24);
  }

  // Samples taken in between two paintings: the next one shows them all; with the cursor held
  // over the newest column it reads the newest sample out.
  void aPaintingShowsTheSamplesTakenMeanwhile() {
    QTemporaryDir data;
    ScopedDataHome home(data.path());
    AppFixture app;
    TFormTrend& t = app.onLine.Trend();
    nx480::RelaySession session;
    session.serialNumber = 4817;
    t.SetSession(session);
    t.show();
    t.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&t));
    Mnemonic(&t, Qt::Key_D);
    Look(t.Plot);
    const int64_t start = QDateTime::currentMSecsSinceEpoch();
    const auto take = [&](int from, int end) {
      for (int i = from; i < end; ++i) {
        nx480::RecordingSample s;
        s.pcMillis = start + int64_t{i} * 10'000;
        s.utcOffsetMinutes = 60;
        s.u[0] = 400 + i, s.u[1] = s.u[2] = 230;
        s.f = 50;
        t.TakeRecordedSample(4817, s);
      }
    };
    const auto volts = [&](double lo, double hi) {  // within the voltage plot as painted
      const double top = t.Plot->YOf(false, hi), bottom = t.Plot->YOf(false, lo);
      return top >= 0 && bottom <= t.Plot->DataRect().bottom() && top < bottom;
    };
    take(0, 10);
    Look(t.Plot);
    QVERIFY(volts(400, 409));
    const QRectF shown = t.Plot->DataRect();
    QMouseEvent move(QEvent::MouseMove, QPointF(shown.right() - 0.5, 60), QPointF(), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(t.Plot, &move);
    QCOMPARE(t.Plot->CursorColumn(), static_cast<int>(shown.width()) - 1);
    QVERIFY2(t.LabelCursor->text().contains("U1 409,0 V"), qPrintable(t.LabelCursor->text()));
    take(10, 30);
    Look(t.Plot);
    QVERIFY2(t.LabelCursor->text().contains("U1 429,0 V"), qPrintable(t.LabelCursor->text()));
    QVERIFY(volts(400, 429));
  }

  // Esc closes the window wherever its focus is; Alt+P opens it again wholly on the screen,
  // wherever the live values window stands (past the bottom right corner, the top left, the
  // right edge) and wherever the window was left (dragged half off the screen).
  void escClosesAndItOpensOnScreen() {
    QTemporaryDir data;
    ScopedDataHome home(data.path());
    sim::RelayConfig config;
    sim::PtyRelay relay(config);
    sim::AttachLiveValues(relay);
    relay.Start();
    AppFixture app;
    app.Connect(relay);
    QVERIFY(WaitUntil([&] { return app.onLine.isVisible(); }, 10000));
    TFormTrend& t = app.onLine.Trend();
    const QRect screen = app.onLine.screen()->availableGeometry();
    // The live values window moved to `live`, Alt+P there: the trend shown wholly on the screen.
    const auto open = [&](QPoint live) {
      app.onLine.move(live);
      app.onLine.activateWindow();
      if (!QTest::qWaitForWindowActive(&app.onLine)) return false;
      QTest::keyClick(&app.onLine, Qt::Key_P, Qt::AltModifier);
      if (!WaitUntil([&] { return t.isVisible(); }, 10000)) return false;
      if (!screen.contains(t.frameGeometry())) {
        qWarning() << "off the screen:" << t.frameGeometry() << "on" << screen;
        return false;
      }
      t.activateWindow();
      return QTest::qWaitForWindowActive(&t);
    };
    QVERIFY(open(screen.bottomRight() - QPoint(100, 80)));
    const struct {
      const char* what;
      QWidget* click;  // clicked to take the focus
      QPoint live;
      std::optional<QPoint> trend;  // where the window is dragged before Esc
    } cases[] = {
        {"the plot", t.Plot, screen.topLeft(), {}},
        {"the trips", t.TreeTrips->viewport(), screen.topRight() + QPoint(-300, 150), {}},
        {"a button", t.Button10Min, screen.topLeft() + QPoint(100, 100),
         screen.bottomRight() - QPoint(200, 200)},
    };
    for (const auto& c : cases) {
      if (c.trend) t.move(*c.trend);
      QTest::mouseClick(c.click, Qt::LeftButton, {}, QPoint(5, 5));
      QVERIFY(ButtonsReleased());
      QVERIFY(WaitUntil(
          [&] {
            return QApplication::focusWidget() == c.click ||
                   QApplication::focusWidget() == c.click->parentWidget();
          },
          10000));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
      QVERIFY2(!t.isVisible(), c.what);
      QVERIFY(app.onLine.isVisible());  // Esc closes the trend only
      QVERIFY2(open(c.live), c.what);
    }
    QTest::keyClick(app.onLine.EditFocus, Qt::Key_F1);  // disconnect
  }
};

QTEST_MAIN(TrendWindowTest)
#include "trend_window_test.moc"
