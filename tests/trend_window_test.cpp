// The trend window ("Průběh") against the simulated relay: opened from the live values window,
// a range chosen by keys over a day file with a trip and a damaged line, the relay's thresholds,
// the wheel's zoom; the live recording of a simulator trip followed. Also writes the window's
// picture when NX480_TREND_PICTURE names a file.
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QTreeWidget>
#include <QWheelEvent>
#include <filesystem>
#include <fstream>
#include <map>

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
// file with the trip.
std::string WriteRecording(const std::string& root, uint32_t serial) {
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

}  // namespace

class TrendWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void showsTheRecordedTripWithTheRelaysThresholds() {
    QTemporaryDir data;
    ScopedDataHome home(data.path());
    sim::RelayConfig config;
    sim::PtyRelay relay(config);
    sim::AttachLiveValues(relay);
    relay.Start();
    const std::string file =
        WriteRecording(data.path().toStdString() + "/nx480-pc/recordings", config.serial);
    AppFixture app;
    // Alt+P on the live values window opens the trend; its settings come from the relay.
    QVERIFY(OpenTrend(app, relay));
    TFormTrend& t = app.onLine.Trend();
    Mnemonic(&t, Qt::Key_H);  // the last hour
    QVERIFY2(t.LabelSource->text().endsWith("hodina"), qPrintable(t.LabelSource->text()));

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
          const double at = double((s.start + s.end) / 2 - t.Plot->ViewStart()) /
                            double(t.Plot->ViewEnd() - t.Plot->ViewStart());
          QMouseEvent move(QEvent::MouseMove, QPointF(at * t.Plot->width(), 60), QPointF(),
                           Qt::NoButton, Qt::NoButton, Qt::NoModifier);
          QApplication::sendEvent(t.Plot, &move);
        }
    };
    over(Stage::Uo2);
    QVERIFY2(t.LabelCursor->text().contains("U1 262,0 V   U2 230,5 V   U3 229,8 V   f 50,01 Hz"),
             qPrintable(t.LabelCursor->text()));

    // The U>> line stands at the relay's setting.
    const auto [line, setting] = Uo2Line(t, config);
    QCOMPARE(line, setting);

    // The wheel zooms in around the cursor; "-" zooms out again.
    const int64_t shown = t.Plot->ViewEnd() - t.Plot->ViewStart();
    const QPointF at(t.Plot->width() / 2.0, 50);
    QWheelEvent wheel(at, t.Plot->mapToGlobal(at), {}, {0, 240}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(t.Plot, &wheel);
    const int64_t zoomed = t.Plot->ViewEnd() - t.Plot->ViewStart();
    QVERIFY2(zoomed < shown * 0.7, qPrintable(QString::number(zoomed)));
    QTest::keyClick(t.Plot, Qt::Key_Minus);
    QVERIFY(t.Plot->ViewEnd() - t.Plot->ViewStart() > zoomed);

    // A file chosen from another folder is no recording of this relay: no thresholds.
    const QString other = data.path() + "/other/2026-12-09.csv";
    std::filesystem::create_directories((data.path() + "/other").toStdString());
    std::filesystem::copy_file(file, other.toStdString());
    app.openPath = other;
    Mnemonic(&t, Qt::Key_S);
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
    QVERIFY(t.LabelSource->text().endsWith("10 min") && t.TreeTrips->topLevelItemCount() == 0);
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
};

QTEST_MAIN(TrendWindowTest)
#include "trend_window_test.moc"
