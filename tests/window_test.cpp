// The main window, its connection states and F1 from every window, offscreen, against
// simulated relays.
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <set>

#include "connection.h"
#include "firmware_image.h"
#include "form_history.h"
#include "form_trend.h"
#include "frame_log.h"
#include "page_calibration.h"
#include "page_clock.h"
#include "page_upload.h"
#include "pty.h"
#include "signal_close.h"
#include "window_fixture.h"

using namespace std::chrono_literals;
namespace sim = nx480::sim;

namespace {

std::unique_ptr<sim::PtyRelay> StartRelay(const std::string& name, uint32_t serial,
                                          bool temperature = false) {
  sim::RelayConfig config;
  config.name = name;
  config.serial = serial;
  config.temperature = temperature;
  auto relay = std::make_unique<sim::PtyRelay>(config);
  relay->Start();
  return relay;
}

uint64_t Requests(const sim::PtyRelay& relay) {
  return relay.Counters().model.requests;
}

// True when a descriptor of this process refers to `path` (also once its device has vanished).
bool ProcessHolds(const std::string& path) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code e;
    const std::string target = std::filesystem::read_symlink(entry.path(), e).string();
    if (target == path || target == path + " (deleted)") return true;
  }
  return false;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

  using App = AppFixture;

 private slots:
  void serviceSwitchFromTheFirstArgumentOnly() {
    using V = std::vector<std::string>;
    QCOMPARE(nx480::ServiceModeFromArguments(V{}), false);
    QVERIFY(nx480::ServiceModeFromArguments(V{"/servis"}));
    QVERIFY(nx480::ServiceModeFromArguments(V{"/SERVIS"}));
    QVERIFY(!nx480::ServiceModeFromArguments(V{"/Servis"}));
    QVERIFY(!nx480::ServiceModeFromArguments(V{"-x", "/servis"}));
    QVERIFY(!nx480::ServiceModeFromArguments(V{"/servis2"}));
    App app({"/SERVIS", "more"});
    QVERIFY(app.main.Session().serviceMode);
    // --demo stands anywhere; /servis is first among the others.
    App demo({"--demo", "/servis"});
    QVERIFY(demo.main.Demo());
    QVERIFY(demo.main.Session().serviceMode);
  }

  void initialStateAndLayout() {
    App app;
    TFormMain& m = app.main;
    QCOMPARE(m.windowTitle(), QString("NX480 - PC     v1.14.d"));
    QCOMPARE(m.size(), QSize(451, 142));
    QCOMPARE(m.ButtonConnect->text(), QString("&Připojit F1"));
    QCOMPARE(m.ButtonConnect->geometry(), QRect(244, 16, 197, 25));
    QCOMPARE(m.ButtonSetup->geometry(), QRect(136, 96, 73, 25));
    QCOMPARE(m.ButtonHistory->geometry(), QRect(244, 96, 77, 25));
    QCOMPARE(m.ButtonCancel->geometry(), QRect(360, 96, 81, 25));
    QCOMPARE(m.EditVersion->geometry(), QRect(136, 56, 305, 24));
    QCOMPARE(m.Image1->geometry(), QRect(16, 16, 105, 49));
    QCOMPARE(m.LabelVersion->text(), QString("Verze zařízení"));
    QVERIFY(m.EditVersion->isReadOnly());
    QVERIFY(m.EditVersion->font().bold());
    QCOMPARE(m.EditVersion->font().pixelSize(), 15);
    QVERIFY(!m.ButtonSetup->isEnabled());
    QVERIFY(!m.ButtonHistory->isEnabled());
    QVERIFY(m.EditVersion->text().isEmpty());
    QVERIFY(!m.Modbus().PortIsOpen());
    QVERIFY(!m.Modbus().IsRunning());
    QVERIFY(!m.Session().serviceMode);
    QVERIFY(!m.Session().hasTemperature);
    QVERIFY(!app.onLine.isVisible());
  }

  void searchSkipsToTheFirstMatchingRelayAndF1Disconnects() {
    auto stranger = StartRelay("MX200", 55);
    auto relay = StartRelay("NX480", 1234);
    auto later = StartRelay("NX480", 999);
    App app;
    app.Ports(
        {"/nonexistent/ttyUSB7", stranger->SlavePath(), relay->SlavePath(), later->SlavePath()});
    app.setup.show();

    QTest::keyClick(app.main.ButtonConnect, Qt::Key_F1);
    TFormMain& m = app.main;
    QVERIFY(app.errors.isEmpty());
    QCOMPARE(m.EditVersion->text(), QString("NX480 - 1.14.d,   s/n:001234"));
    QCOMPARE(QString::fromStdString(m.Session().identText), QString("NX480 - 1.14.d"));
    QCOMPARE(m.Session().firmware.minor, 14);
    QVERIFY(!m.Session().hasTemperature);
    QCOMPARE(m.ButtonConnect->text(), QString("Od&pojit F1"));
    QVERIFY(m.ButtonSetup->isEnabled());
    QVERIFY(m.ButtonHistory->isEnabled());
    QVERIFY(m.Modbus().PortIsOpen());
    QVERIFY(m.Modbus().IsRunning());
    QVERIFY(app.onLine.isVisible());
    QCOMPARE(Requests(*stranger), uint64_t(1));  // asked who it is, then closed
    QCOMPARE(Requests(*later), uint64_t(0));     // the first match wins

    // The live values window's timer asks the running worker for work.
    QVERIFY(QTest::qWaitFor([&] { return app.onLine.LiveRequest.Value() != 0; }, 10000));

    // F1 in the settings window disconnects; it stays open.
    QTest::keyClick(&app.setup, Qt::Key_F1, Qt::ShiftModifier);
    QCOMPARE(m.ButtonConnect->text(), QString("Při&pojit F1"));
    QVERIFY(!m.ButtonSetup->isEnabled());
    QVERIFY(!m.ButtonHistory->isEnabled());
    QVERIFY(m.EditVersion->text().isEmpty());
    QVERIFY(!m.Modbus().PortIsOpen());
    QVERIFY(!m.Modbus().IsRunning());
    QVERIFY(!app.onLine.isVisible());
    QVERIFY(app.setup.isVisible());
    QCOMPARE(m.Session().firmware.minor, 14);  // kept after the disconnect

    // F1 in the history window connects again, F1 in the live window disconnects.
    QTest::keyClick(&app.history, Qt::Key_F1, Qt::ControlModifier);
    QVERIFY(m.Modbus().PortIsOpen());
    QTest::keyClick(&app.onLine, Qt::Key_F1, Qt::AltModifier);
    QVERIFY(!m.Modbus().PortIsOpen());
    // Other keys do nothing.
    QTest::keyClick(&app.setup, Qt::Key_F2);
    QVERIFY(!m.Modbus().PortIsOpen());
  }

  // --demo: the title says so, F1 finds the relay inside the program on its port "demo" (no
  // serial port tried), and the live values window shows its values moving.
  void theDemoRelayIsFoundByF1AndItsValuesMove() {
    App app({"--demo"});
    TFormMain& m = app.main;
    QCOMPARE(m.windowTitle(), QString("NX480 - PC     v1.14.d     Ukázkové relé"));
    QTest::keyClick(m.ButtonConnect, Qt::Key_F1);
    QVERIFY2(app.errors.isEmpty(), qPrintable(app.errors.join("\n")));
    QCOMPARE(m.Session().port, std::string("demo"));
    QCOMPARE(m.EditVersion->text(), QString("NX480 - 1.14.d,   s/n:999999"));
    QVERIFY(app.onLine.isVisible());
    QSet<QString> shown;
    QTRY_VERIFY_WITH_TIMEOUT(
        (app.onLine.EditF->text().isEmpty() || (shown << app.onLine.EditF->text(), true)) &&
            shown.size() >= 3,
        30000);
    QTest::keyClick(m.ButtonConnect, Qt::Key_F1);
    QVERIFY(!m.Modbus().PortIsOpen());
  }

  void temperatureVariantIsRecordedAndShownWithADash() {
    auto relay = StartRelay("", 0, true);
    App app;
    app.Ports({relay->SlavePath()});
    app.main.ButtonConnectClick();
    QVERIFY(app.main.Session().hasTemperature);
    // Serial number 0 adds nothing to the version line.
    QCOMPARE(app.main.EditVersion->text(), QString("NX480 -   1.14.d"));
    app.main.ButtonConnectClick();
  }

  void noRelayGivesTheErrorAndAbsentPortsCostNothing() {
    App app;
    std::vector<std::string> absent;
    for (int i = 0; i < 256; ++i) absent.push_back("/nonexistent/tty" + std::to_string(i));
    app.Ports(absent);
    const auto t0 = std::chrono::steady_clock::now();
    QTest::keyClick(&app.main, Qt::Key_F1);
    QVERIFY(std::chrono::steady_clock::now() - t0 < 2s);
    QCOMPARE(app.errors, QStringList{"Chyba|Zařízení není připojeno nebo nekomunikuje\n"
                                     "Zkoušené porty: /nonexistent/tty0, /nonexistent/tty1, "
                                     "/nonexistent/tty2, /nonexistent/tty3, /nonexistent/tty4, "
                                     "/nonexistent/tty5 a další (250): zařízení neexistuje"});
    QCOMPARE(app.main.ButtonConnect->text(), QString("&Připojit F1"));
    QVERIFY(!app.main.ButtonSetup->isEnabled());

    // Each port tried, and why it was passed over, on the second line; none at all said too.
    auto stranger = StartRelay("MX200 other", 1);
    PtyPair silent;
    QVERIFY(silent.ok());
    const std::string strangerPort = stranger->SlavePath();
    const struct {
      std::vector<std::string> ports;
      QString second;
    } searches[] = {
        {{"/nonexistent/a", strangerPort, silent.path(), "/nonexistent/b"},
         QString("Zkoušené porty: /nonexistent/a, /nonexistent/b: zařízení neexistuje; %1: "
                 "odpověděl jiný přístroj („MX200 other   1.14.d“); %2: přístroj NX480 "
                 "neodpověděl")
             .arg(QString::fromStdString(strangerPort), QString::fromStdString(silent.path()))},
        {{"/dev/null"}, "Zkoušené porty: /dev/null: není sériový port"},
        {{}, "Nebyl nalezen žádný sériový port."},
    };
    for (const auto& c : searches) {
      app.errors.clear();
      app.Ports(c.ports);
      QTest::keyClick(&app.main, Qt::Key_F1);
      QCOMPARE(app.errors,
               QStringList{"Chyba|Zařízení není připojeno nebo nekomunikuje\n" + c.second});
    }

    // What the search learned about ports it could not open is said after the ports.
    const struct {
      nx480::SearchProblems problems;
      QString says;
    } cases[] = {
        {{"/dev/ttyUSB0", "dialout", ""}, "ve skupině „dialout“ (sudo adduser $USER dialout"},
        {{"/dev/ttyS0", "uucp", ""}, "ve skupině „uucp“ (sudo adduser $USER uucp"},
        {{"/dev/ttyUSB1", "root", ""}, "KERNEL==\"ttyUSB1\", GROUP=\"dialout\""},
        {{"/dev/ttyS1", "", ""}, "Přístup k portu /dev/ttyS1 byl odepřen."},
        {{"", "", "/dev/ttyACM0"}, "Port /dev/ttyACM0 je obsazen jiným programem"},
    };
    for (const auto& c : cases) {
      nx480::SearchResult result;
      result.problems = c.problems;
      result.tried = {{"/dev/ttyS9", nx480::PortFailure::NoAnswer, {}}};
      const QString text = NoRelayMessage(result);
      QVERIFY2(text.startsWith("Zařízení není připojeno nebo nekomunikuje\nZkoušené porty: "
                               "/dev/ttyS9: přístroj NX480 neodpověděl\n"),
               qPrintable(text));
      QVERIFY2(text.contains(c.says), qPrintable(text));
    }
    nx480::SearchResult rootOnly;
    rootOnly.problems = {"/dev/ttyUSB1", "root", ""};
    QVERIFY(!NoRelayMessage(rootOnly).contains("skupině „root“"));

    // A port that another program holds is named, not passed over in silence.
    auto relay = StartRelay("NX480", 1);
    nx480::TModbus other;
    QVERIFY(other.OpenPort(relay->SlavePath(), nx480::RelayLine(), 50));
    app.errors.clear();
    app.Ports({relay->SlavePath()});
    app.main.ButtonConnectClick();
    QCOMPARE(app.errors.size(), 1);
    QVERIFY2(app.errors[0].contains(
                 QString("Port %1 je obsazen").arg(QString::fromStdString(relay->SlavePath()))),
             qPrintable(app.errors[0]));
    other.ClosePort();
  }

  void connectClearsTheDeclaredRequestsAndStopsAnUpload() {
    App app({"/servis"});  // every page, so every request
    app.Ports({});         // no relay: the worker stays parked, only the button clears anything
    // Every request that a window declares is bound to its own slot, and the connect button
    // drops exactly those declared to be dropped.
    std::set<nx480::RequestSlot> bound, dropped;
    std::vector<nx480::RequestDecl> all;
    for (RelayWindow* w :
         std::initializer_list<RelayWindow*>{&app.onLine, &app.setup, &app.history, &app.record,
                                             &app.onLine.Trend(), &app.journal}) {
      for (nx480::RequestDecl& d : w->Requests()) all.push_back(d);
    }
    for (const nx480::RequestDecl& d : all) {
      QVERIFY2(bound.insert(d.slot).second, nx480::RequestSlotName(d.slot));
      if (d.clearedOnConnect) dropped.insert(d.slot);
      if (d.slot != nx480::kUploadLength) d.request->Set(1);  // an upload: below
    }
    QCOMPARE(int(bound.size()), int(nx480::kRequestSlotCount));
    const std::set<nx480::RequestSlot> expected{
        nx480::kReadParamsRequest,      nx480::kWriteParamsRequest,
        nx480::kReadClockRequest,       nx480::kWriteClockRequest,
        nx480::kReadCalibrationRequest, nx480::kWriteCalibrationRequest,
        nx480::kClearHistoryRequest,    nx480::kHistoryRequest,
        nx480::kRecordRequest,          nx480::kRelayCommand,
        nx480::kTrendSettingsRequest,   nx480::kJournalReadRequest};
    QVERIFY(dropped == expected);
    app.main.ButtonConnectClick();
    QCOMPARE(app.errors.size(), 1);
    for (const nx480::RequestDecl& d : all) {
      if (d.slot == nx480::kUploadLength) continue;
      QVERIFY2(d.request->Pending() == !d.clearedOnConnect, nx480::RequestSlotName(d.slot));
    }
    QVERIFY(app.setup.Upload().UploadResultText.isEmpty());

    // A running upload is stopped by the button, whichever way it goes.
    app.setup.Upload().UploadLength.Set(32768);
    app.main.ButtonConnectClick();
    QCOMPARE(app.setup.Upload().UploadResultText, QString("...Přerušeno"));
    QVERIFY(app.setup.Upload().UploadAbort.load());
  }

  void theSessionReachesEveryWindowAndTheWorker() {
    sim::RelayConfig config;
    config.version = "1.07";
    config.temperature = true;
    auto relay = StartRelay(config);
    App app({"/servis"});
    app.Connect(*relay);
    const nx480::RelaySession& s = app.main.Session();
    QVERIFY(s.connected);
    QCOMPARE(s.firmware.minor, 7);
    QVERIFY(s.hasTemperature && s.serviceMode);
    QCOMPARE(s.serialNumber, 1234);
    QCOMPARE(s.port, relay->SlavePath());
    for (RelayWindow* w :
         std::initializer_list<RelayWindow*>{&app.onLine, &app.setup, &app.history})
      QVERIFY(w->Session() == s);
    app.main.ButtonConnectClick();
    QVERIFY(app.main.Modbus().Session() == s);  // the worker's copy, read while it is parked
    QVERIFY(!app.setup.Session().connected);
    QCOMPARE(app.setup.Session().firmware.minor, 7);  // kept until the next connection
  }

  void framesGoToTheirLoggingCategory() {
    QVERIFY(!lcFrames().isDebugEnabled());  // off unless the logging rules switch it on
    auto relay = StartRelay("NX480", 1);
    nx480::TModbus link;
    std::vector<nx480::FrameEvent> events;
    std::vector<std::vector<uint8_t>> bytes;
    link.SetTraceHook([&](const nx480::FrameEvent& e) {
      events.push_back(e);
      bytes.emplace_back(e.bytes.begin(), e.bytes.end());
    });
    QVERIFY(link.OpenPort(relay->SlavePath(), nx480::RelayLine(), 50));
    std::string text;
    QVERIFY(link.Identify(text));
    QCOMPARE(int(events.size()), 2);
    QCOMPARE(bytes[0], (std::vector<uint8_t>{0x01, 0x11, 0xC0, 0x2C}));
    QCOMPARE(int(bytes[1].size()), 30);
    QCOMPARE(QString(events[1].transaction), QString("connection"));
    nx480::FrameEvent e = events[1];
    e.bytes = {bytes[1].data(), 4};
    e.sinceRequest = std::chrono::microseconds(3100);
    QCOMPARE(FormatFrame(e),
             QString("<- +3.1 ms connection/identification good (4 bytes): 01 11 19 4E"));
    link.ClosePort();
  }

  void disconnectWhileTheWorkerWaitsForTheUiThread() {
    auto relay = StartRelay("NX480", 1);
    App app;
    app.Ports({relay->SlavePath()});
    // A live transaction that hands over to the window each time, as the real ones do.
    std::atomic<int> shown{0};
    int handedOver = 0;
    int seen = 0;
    app.main.Modbus().Bind({.slot = nx480::kLiveRequest,
                            .request = &app.onLine.LiveRequest,
                            .transaction = [&](nx480::TModbus& link) {
                              ++handedOver;
                              link.Synchronize([&] {
                                seen = handedOver;
                                ++shown;
                              });
                            }});
    for (int round = 0; round < 5; ++round) {
      QTest::keyClick(&app.main, Qt::Key_F1);
      QVERIFY(app.main.Modbus().PortIsOpen());
      QVERIFY(QTest::qWaitFor([&] { return shown.load() > round; }, 10000));
      // Twice in quick succession: the second press disconnects at once.
      QTest::keyClick(&app.main, Qt::Key_F1);
      QVERIFY(!app.main.Modbus().PortIsOpen());
      QVERIFY(app.main.Modbus().IsParked());
    }
    QCOMPARE(seen, handedOver);
  }

  void escapeWithoutModifiersOnly() {
    App app;
    app.Ports({});
    QTest::keyClick(&app.main, Qt::Key_Escape, Qt::ShiftModifier);
    QTest::keyClick(&app.main, Qt::Key_Escape, Qt::ControlModifier);
    QVERIFY(app.errors.isEmpty());
    QTest::keyClick(&app.main, Qt::Key_Escape);  // the connect button: a search, no relay
    QCOMPARE(app.errors.size(), 1);
  }

  void theLiveWindowIgnoresTheWindowManagersClose() {
    auto relay = StartRelay("NX480", 1);
    App app;
    app.Ports({relay->SlavePath()});
    app.main.ButtonConnectClick();
    QVERIFY(app.onLine.isVisible());
    app.onLine.close();  // as Alt+F4 or a task bar asks for it
    QVERIFY(app.onLine.isVisible());
    QCloseEvent request;
    QApplication::sendEvent(&app.onLine, &request);
    QVERIFY(!request.isAccepted());
    QVERIFY(app.onLine.isVisible());
    QVERIFY(app.onLine.Timer1->isActive());
    app.main.ButtonConnectClick();  // the program's own close still works
    QVERIFY(!app.onLine.isVisible());
  }

  void aVanishedRelayDisconnectsByItselfAndIsFoundAgain() {
    auto relay = StartRelay("NX480", 1);
    App app;
    app.main.ListPorts = [&] { return std::vector<std::string>{relay->SlavePath()}; };
    QTest::keyClick(&app.main, Qt::Key_F1);
    QVERIFY(app.main.Modbus().PortIsOpen());
    QVERIFY(QTest::qWaitFor([&] { return !app.onLine.EditU1->text().isEmpty(); }, 10000));

    // Unplugged while the live values refresh.
    std::string path = relay->SlavePath();
    relay->Stop();
    QVERIFY(QTest::qWaitFor([&] { return !app.main.Modbus().PortIsOpen(); }, 10000));
    QCOMPARE(app.main.ButtonConnect->text(), QString("Při&pojit F1"));
    QVERIFY(!app.main.ButtonSetup->isEnabled());
    QVERIFY(app.main.EditVersion->text().isEmpty());
    QVERIFY(!app.onLine.isVisible());
    QVERIFY(app.main.Modbus().IsParked());
    QCOMPARE(app.errors, QStringList{"Chyba|" + DeviceGoneMessage(path)});

    // Back again: F1 finds it.
    relay->Start();
    QTest::keyClick(&app.main, Qt::Key_F1);
    QVERIFY(app.main.Modbus().PortIsOpen());
    QCOMPARE(app.errors.size(), 1);

    // Unplugged while a settings write waits for its acknowledgement: the write went out, so
    // what came of it is not known, and the tool disconnects as before.
    app.setup.show();
    app.params.ReadParamsRequest.Post();
    QVERIFY(QTest::qWaitFor([&] { return app.params.ReadParamsRequest.Value() == 0; }, 10000));
    relay->AddFault({.kind = sim::FaultKind::kSilence, .function = 0x10, .count = -1});
    app.setup.LabelMsg->clear();
    const uint64_t silenced = relay->Counters().model.faults;
    app.params.ButtonWriteP->click();
    QCOMPARE(app.params.WriteParamsRequest.Value(), 1);
    // The write reached the relay, which keeps silent.
    QVERIFY(WaitUntil([&] { return relay->Counters().model.faults > silenced; }, 10000));
    path = relay->SlavePath();
    relay->Stop();
    QVERIFY(QTest::qWaitFor([&] { return !app.main.Modbus().PortIsOpen(); }, 10000));
    QCOMPARE(app.setup.LabelMsg->text(), QString("Odesláno, výsledek neznámý"));
    QCOMPARE(app.errors.size(), 2);
    QCOMPARE(app.errors.last(), "Chyba|" + DeviceGoneMessage(path));
  }

  void unpluggedDuringTheHistoryAndAnUploadTheWindowsEndTheirWork() {
    // A full ring at the wire's pace: the walk takes seconds, long enough to pull the plug.
    sim::RelayConfig config;
    config.history_size_code = 32;
    config.history_fill = 2015;
    config.restart_time = 300ms;
    sim::PtyOptions paced;
    paced.baud = 115200;
    sim::PtyRelay relay(config, paced);
    relay.Start();
    App app;
    app.Connect(relay);
    QVERIFY(app.main.Modbus().PortIsOpen());

    app.history.show();
    QVERIFY(QTest::qWaitFor([&] { return app.history.RowCount() > 20; }, 10000));
    std::string path = relay.SlavePath();
    relay.Stop();
    QVERIFY(QTest::qWaitFor([&] { return !app.main.Modbus().PortIsOpen(); }, 10000));
    // The walk ended with what it had: the rows stay, the reading is over, export possible.
    QVERIFY(QTest::qWaitFor([&] { return app.history.ButtonSave->isEnabled(); }, 10000));
    QVERIFY(app.history.LabelReading->isHidden());
    QVERIFY(!app.history.HistoryRequest.Pending());
    QVERIFY(app.history.RowCount() > 20 && app.history.RowCount() < 2016);
    QCOMPARE(app.errors, QStringList{"Chyba|" + DeviceGoneMessage(path)});
    // The stale descriptor is closed: nothing holds the vanished device, so its name is free.
    QVERIFY(!ProcessHolds(path));
    app.history.close();

    // Back, and pulled out again during a firmware upload.
    relay.Start();
    QTest::keyClick(&app.main, Qt::Key_F1);
    QVERIFY(app.main.Modbus().PortIsOpen());
    PageUpload& upload = app.setup.Upload();
    app.setup.show();
    app.setup.Page1->setCurrentWidget(app.setup.TabFirmware);
    QTemporaryDir dir;
    const QString image = dir.filePath("fw.bn6");
    {
      QFile file(image);
      QVERIFY(file.open(QIODevice::WriteOnly));
      const std::vector<uint8_t> bytes = sim::WriteImage({.blocks = 60});
      file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    }
    app.openPath = image;
    upload.ButtonUploadClick();
    QVERIFY(QTest::qWaitFor([&] { return upload.ProgressBarUpload->value() > 2 * 262; }, 10000));
    path = relay.SlavePath();
    relay.Stop();
    QVERIFY(QTest::qWaitFor([&] { return !upload.Uploading(); }, 10000));
    QVERIFY(!app.main.Modbus().PortIsOpen());
    // Stopped by the disconnect, or failed on the dead line just before it: either way the log
    // says it did not complete, and the button is ready for the next attempt.
    const QString last = upload.MemoLog->toPlainText().split('\n').last();
    QVERIFY2(last == "...Přerušeno" || last == "...Nedokončeno - chyba komuniíkace",
             qPrintable(last));
    QCOMPARE(upload.ButtonUpload->text(), QString("&Upload"));
    QCOMPARE(app.errors.size(), 2);
    QVERIFY(!ProcessHolds(path));

    // And found again once it is back.
    relay.Start();
    QTest::keyClick(&app.main, Qt::Key_F1);
    QVERIFY(app.main.Modbus().PortIsOpen());
  }

  // A logout, `kill` or Ctrl-C in the starting terminal ends the tool as closing its main window
  // does: the relay's output back to "Auto", an upload cancelled, the port closed.
  void signalsEndTheToolAsClosingDoes_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("running");
    QTest::newRow("SIGTERM, forced output") << SIGTERM << "forced";
    QTest::newRow("SIGHUP, upload") << SIGHUP << "upload";
    QTest::newRow("SIGINT, forced output") << SIGINT << "forced";
    QTest::newRow("SIGTERM, upload") << SIGTERM << "upload";
  }
  void signalsEndTheToolAsClosingDoes() {
    QFETCH(int, signal);
    QFETCH(QString, running);
    sim::RelayConfig config;
    config.restart_time = 300ms;
    sim::PtyRelay relay(config);
    relay.Start();
    App app;
    CloseOnSignals closer(app.main);
    app.Ports({relay.SlavePath()});
    QTest::keyClick(&app.main, Qt::Key_F1);
    QVERIFY(app.main.Modbus().PortIsOpen());
    app.setup.show();
    QTemporaryDir dir;
    if (running == "forced") {
      app.setup.Page1->setCurrentWidget(&app.setup.Clock());
      app.setup.Clock().ReleButtons->button(1)->click();
      QTRY_VERIFY_WITH_TIMEOUT(
          relay.WithModel([](sim::RelayModel& m) { return m.Mode() == sim::RelayMode::kOn; }),
          10000);
    } else {
      app.setup.Page1->setCurrentWidget(app.setup.TabFirmware);
      app.openPath = dir.filePath("fw.bn6");
      QFile file(app.openPath);
      QVERIFY(file.open(QIODevice::WriteOnly));
      const std::vector<uint8_t> bytes = sim::WriteImage({.blocks = 60});
      file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
      file.close();
      app.setup.Upload().ButtonUploadClick();
      QTRY_VERIFY_WITH_TIMEOUT(app.setup.Upload().ProgressBarUpload->value() > 2 * 262, 10000);
    }
    raise(signal);
    QElapsedTimer since;
    since.start();
    while (app.main.isVisible() && since.elapsed() < 20000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QVERIFY(!app.main.isVisible());
    QVERIFY(!app.main.Modbus().PortIsOpen());
    QCOMPARE(relay.WithModel([](sim::RelayModel& m) { return m.Mode(); }), sim::RelayMode::kAuto);
    QCOMPARE(relay.WithModel([](sim::RelayModel& m) { return m.Upload().Mode(); }),
             sim::UploadMode::kNormal);
  }

  void konecDisconnectsAndCloses() {
    auto relay = StartRelay("NX480", 1);
    App app;
    app.Ports({relay->SlavePath()});
    app.main.ButtonConnectClick();
    QVERIFY(app.main.Modbus().PortIsOpen());
    app.history.show();
    app.main.ButtonCancel->click();
    QVERIFY(!app.main.isVisible());
    QVERIFY(!app.main.Modbus().PortIsOpen());
    QVERIFY(!app.onLine.isVisible());
    QVERIFY(!app.history.isVisible());
    QVERIFY(app.main.Modbus().IsParked());
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
