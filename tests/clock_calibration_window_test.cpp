// The settings window's "Datum, čas" and "Kalibrace" pages, offscreen, against the simulated
// relay.
#include <QApplication>
#include <QButtonGroup>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <cmath>
#include <memory>
#include <thread>

#include "date_time_text.h"
#include "history_view.h"
#include "journal_changes.h"
#include "page_calibration.h"
#include "page_clock.h"
#include "relay_time.h"
#include "setting_clamp.h"
#include "up_down.h"
#include "window_fixture.h"

using namespace nx480;
namespace sim = nx480::sim;

namespace {

constexpr int kClockTab = 1;
constexpr int kCalibrationTab = 2;

QColor StatusColour(const TFormSetup& s) {
  return s.LabelMsg->palette().color(QPalette::WindowText);
}

QString Shown(double value) {
  const CalendarTime c = SplitDateTime(value);
  return DateTimeText(QDate(c.year, c.month, c.day),
                      QTime(c.hour, c.minute, c.second, c.millisecond));
}

// The PC's clock in milliseconds.
long long PcMillis() {
  return sim::ToMilliseconds(sim::PcLocalTime());
}

// True when the relay's clock, standing still, shows a time the PC's clock passed between
// `before` and now (give or take a second): the PC's time was sent meanwhile, however slowly.
bool RelaySetSince(sim::PtyRelay& relay, long long before) {
  const long long shown =
      sim::ToMilliseconds(relay.WithModel([](sim::RelayModel& m) { return m.ClockAt(); }));
  return shown >= before - 1000 && shown <= PcMillis() + 1000;
}

struct App : AppFixture {
  explicit App(std::vector<std::string> arguments = {})
      : AppFixture(std::move(arguments)), clock(setup.Clock()), cal(setup.Calibration()) {}

  void Connect(sim::PtyRelay& relay) {
    AppFixture::Connect(relay);
    setup.show();
  }
  bool Idle() const {
    return !clock.ReadClockRequest.Pending() && !clock.WriteClockRequest.Pending() &&
           (!cal ||
            (!cal->ReadCalibrationRequest.Pending() && !cal->WriteCalibrationRequest.Pending() &&
             !cal->ClearHistoryRequest.Pending()));
  }
  // Runs `act` and waits for the worker's status text; `shownColour` is its colour as it
  // appeared.
  template <typename Act>
  bool Await(Act act, const QString& status = "O.K.") {
    setup.LabelMsg->clear();
    shownColour = QColor();
    act();
    return QTest::qWaitFor(
               [&] {
                 if (setup.LabelMsg->text().isEmpty()) return false;
                 if (!shownColour.isValid()) shownColour = StatusColour(setup);
                 return Idle();
               },
               10000) &&
           setup.LabelMsg->text() == status;
  }
  bool Click(QPushButton* button, const QString& status = "O.K.") {
    return Await([button] { button->click(); }, status);
  }
  // The Kalibrace page shown and read, the window active for its mnemonics.
  bool OpenCalibration() {
    setup.activateWindow();
    return QTest::qWaitForWindowActive(&setup) &&
           Await([&] { setup.Page1->setCurrentIndex(kCalibrationTab); });
  }
  // Alt+`letter` on the settings window's focused widget, as a person presses a mnemonic.
  void Press(Qt::Key letter) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus && focus->window() == &setup ? focus : &setup, letter, Qt::AltModifier);
  }
  // Clicks into `box`, selects its text and types `text` over it.
  void Type(QLineEdit* box, const QString& text) {
    QTest::mouseClick(box, Qt::LeftButton);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
  }

  PageClock& clock;
  PageCalibration* cal;  // service mode only
  QColor shownColour;
};

uint64_t Clears(sim::PtyRelay& relay) {
  return relay.WithModel([](sim::RelayModel& m) { return m.HistoryClears(); });
}

// A folder for the journal ("journal") or one under a regular file, which cannot be made.
QString DataFolder(const QTemporaryDir& home, bool writable) {
  if (writable) return home.path();
  QFile plain(home.filePath("plain"));
  if (plain.open(QIODevice::WriteOnly)) plain.close();
  return home.filePath("plain/data");
}

// The journal's entries, oldest first.
std::vector<JournalEntry> Entries() {
  std::vector<JournalEntry> entries = ListJournal(*JournalRoot());
  std::reverse(entries.begin(), entries.end());
  return entries;
}

// A click on an item of the relay mode group, on its round button.
void ClickItem(PageClock& c, int item) {
  QAbstractButton* button = c.ReleButtons->button(item);
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

uint64_t ModeCommands(sim::PtyRelay& relay) {
  return relay.WithModel([](sim::RelayModel& m) { return m.ModeCommands(); });
}
sim::RelayMode Mode(sim::PtyRelay& relay) {
  return relay.WithModel([](sim::RelayModel& m) { return m.Mode(); });
}

}  // namespace

class ClockCalibrationWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void featureSwitches() {
    const struct {
      int minor;
      bool rele, clearHistory;
    } cases[] = {{4, false, false}, {5, false, true}, {13, false, true}, {14, true, true}};
    for (const auto& c : cases) {
      App app({"/servis"});
      app.Pretend(c.minor, true);
      app.setup.show();
      app.setup.Page1->setCurrentIndex(kCalibrationTab);
      QCOMPARE(app.cal->PanelClrHist->isVisible(), c.clearHistory);
      app.setup.Page1->setCurrentIndex(kClockTab);
      QCOMPARE(app.clock.RadioGroupRele->isVisible(), c.rele);
      QCOMPARE(app.clock.ReleButtons->checkedId(), 0);  // "Auto"
    }
  }

  void clockReadWriteAndRelayMode() {
    sim::RelayConfig config;
    config.clock = sim::ParseDateTime("2026-12-09T10:20:30.45");
    config.clock_running = false;
    auto relay = StartRelay(config);
    App app;
    app.Connect(*relay);
    PageClock& c = app.clock;

    // Opening the page reads the clock: the relay's time beside the PC's at the request.
    const double before = LocalNow();
    QVERIFY(app.Await([&] { app.setup.Page1->setCurrentIndex(kClockTab); }));
    QCOMPARE(c.EditDatumCasPristroj->text(),
             DateTimeText(QDate(2026, 12, 9), QTime(10, 20, 30, 450)));
    QVERIFY(std::fabs(c.PcTime - before) * 86400 < 10);
    QCOMPARE(c.EditDatumCasPC->text(), Shown(c.PcTime));

    // "Zapiš" sets the relay to the PC's time: both boxes show the time sent.
    relay->WithModel(
        [](sim::RelayModel& m) { m.SetClock(*sim::ParseDateTime("2020-01-01T00:00")); });
    const long long beforeSet = PcMillis();
    QVERIFY(app.Click(c.ButtonWriteC));
    QCOMPARE(c.EditDatumCasPristroj->text(), c.EditDatumCasPC->text());
    QCOMPARE(c.DeviceTime, c.PcTime);
    QVERIFY(RelaySetSince(*relay, beforeSet));

    // A failed read keeps the boxes and says so in red.
    const QString shown = c.EditDatumCasPristroj->text();
    relay->AddFault({.kind = sim::FaultKind::kSilence, .function = 0x03});
    QVERIFY(app.Click(c.ButtonReadC, "Chyba komunikace!"));
    QCOMPARE(app.shownColour, QColor(Qt::red));
    QCOMPARE(c.EditDatumCasPristroj->text(), shown);

    // "Off" goes out at once and again 4 s later; "Auto" goes out once and ends the repeats.
    QElapsedTimer since;
    since.start();
    c.ReleButtons->button(2)->click();
    QTRY_COMPARE_WITH_TIMEOUT(ModeCommands(*relay), 1u, 10000);
    QCOMPARE(Mode(*relay), sim::RelayMode::kOff);
    QTRY_COMPARE_WITH_TIMEOUT(ModeCommands(*relay), 2u, 15000);
    QVERIFY2(since.elapsed() >= 3950, qPrintable(QString::number(since.elapsed())));
    c.ReleButtons->button(0)->click();
    QTRY_COMPARE_WITH_TIMEOUT(ModeCommands(*relay), 3u, 10000);
    QCOMPARE(Mode(*relay), sim::RelayMode::kAuto);
    c.TimerReleTimer();
    QTest::qWait(300);  // nothing goes out meanwhile
    QCOMPARE(ModeCommands(*relay), 3u);
  }

  // Alt+Z keeps the relay's clock, read right then, in the journal before the set, and the
  // offset that remains after it; without a journal the page asks, and "Ne" sets nothing.
  void clockSetKeepsAnEntry_data() {
    QTest::addColumn<bool>("journal");
    QTest::addColumn<bool>("answer");
    QTest::newRow("journal") << true << false;
    QTest::newRow("no journal, Ne") << false << false;
    QTest::newRow("no journal, Ano") << false << true;
  }
  void clockSetKeepsAnEntry() {
    QFETCH(bool, journal);
    QFETCH(bool, answer);
    QTemporaryDir home;
    ScopedDataHome data(DataFolder(home, journal));
    sim::RelayConfig config;
    config.clock = sim::ParseDateTime("2026-12-09T10:20:30.45");
    config.clock_running = false;
    auto relay = StartRelay(config);
    App app;
    app.Connect(*relay);
    app.setup.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app.setup));
    QVERIFY(app.Await([&] { app.setup.Page1->setCurrentIndex(kClockTab); }));
    app.answer = answer;
    const bool set = journal || answer;
    const long long beforeSet = PcMillis();
    QVERIFY(app.Await([&] { app.Press(Qt::Key_Z); },  // "&Zapiš"
                      set ? "O.K." : "Nenastaveno, bez zálohy"));
    QCOMPARE(RelaySetSince(*relay, beforeSet), set);
    QCOMPARE(app.questions.size(), journal ? 0 : 1);
    if (!journal) {
      QVERIFY2(app.questions[0].startsWith("NX480 - PC|Zálohu nelze uložit: ") &&
                   app.questions[0].endsWith(". Nastavit bez zálohy?"),
               qPrintable(app.questions[0]));
      return;
    }
    const std::vector<JournalEntry> entries = Entries();
    QCOMPARE(entries.size(), size_t(1));
    const JournalEntry& entry = entries[0];
    QCOMPARE(entry.kind, ChangeKind::Clock);
    QCOMPARE(entry.outcome, JournalOutcome::Done);
    const std::vector<std::string> details =
        RenderJournalLines(entry.details, TextLanguage::English);
    QCOMPARE(details.size(), size_t(4));
    QCOMPARE(details[0], std::string("relay time: 2026-12-09 10:20:30.450"));
    // The relay's clock stands still at the time sent: some hundredths remain.
    QVERIFY2(
        details[3].starts_with("remaining offset: ") && details[3] != "remaining offset: unknown",
        details[3].c_str());
    QCOMPARE(JournalDescription(entry, TextLanguage::English),
             std::string("clock set from the Date, time page: done, acknowledged by the relay"));
  }

  // One entry per choice of the relay mode, whatever the repeats of a forced state; the return
  // to "Auto" as the connection ends is one too.
  void relayModeChoicesKeepOneEntryEach() {
    QTemporaryDir home;
    ScopedDataHome data(home.path());
    auto relay = StartRelay({});
    App app;
    app.Connect(*relay);
    QVERIFY(app.Await([&] { app.setup.Page1->setCurrentIndex(kClockTab); }));
    PageClock& c = app.clock;
    c.TimerRele->setInterval(100);  // the 4 s repeat, shortened
    const auto choose = [&](int item) {
      ClickItem(c, item);
      QCOMPARE(c.ReleButtons->checkedId(), item);
    };
    choose(1);  // "On"
    QTRY_VERIFY_WITH_TIMEOUT(ModeCommands(*relay) >= 3, 10000);
    choose(2);  // "Off"
    const uint64_t sent = ModeCommands(*relay);
    QTRY_VERIFY_WITH_TIMEOUT(ModeCommands(*relay) >= sent + 3, 10000);
    choose(0);  // "Auto"
    QTRY_COMPARE_WITH_TIMEOUT(Mode(*relay), sim::RelayMode::kAuto, 10000);
    choose(1);
    QTRY_COMPARE_WITH_TIMEOUT(Mode(*relay), sim::RelayMode::kOn, 10000);
    QTest::keyClick(&app.main, Qt::Key_F1);
    QVERIFY(WaitUntil([&] { return !app.main.Modbus().PortIsOpen(); }, 10000));
    QCOMPARE(Mode(*relay), sim::RelayMode::kAuto);

    const std::vector<JournalEntry> entries = Entries();
    const struct {
      const char* description;
      const char* mode;
    } expected[] = {
        {"relay output forced on from the Date, time page", "mode: forced on"},
        {"relay output forced off from the Date, time page", "mode: forced off"},
        {"relay output back to auto from the Date, time page", "mode: auto"},
        {"relay output forced on from the Date, time page", "mode: forced on"},
        {"relay output back to auto as the connection ended", "mode: auto"},
    };
    QCOMPARE(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
      QCOMPARE(entries[i].kind, ChangeKind::RelayMode);
      QCOMPARE(JournalDescription(entries[i], TextLanguage::English),
               std::string(expected[i].description) + ": done, acknowledged by the relay");
      QCOMPARE(entries[i].outcome, JournalOutcome::Done);
      QCOMPARE(RenderJournalLines(entries[i].details, TextLanguage::English),
               (std::vector<std::string>{expected[i].mode, "first send: acknowledged"}));
    }
  }

  // Without a journal a forced state is asked for ("Ne": nothing sent, the group stays on what is
  // in force); "Auto" goes out unasked.
  void relayModeWithoutAJournal() {
    QTemporaryDir home;
    ScopedDataHome data(DataFolder(home, false));
    auto relay = StartRelay({});
    App app;
    app.Connect(*relay);
    QVERIFY(app.Await([&] { app.setup.Page1->setCurrentIndex(kClockTab); }));
    PageClock& c = app.clock;
    app.answer = false;
    ClickItem(c, 1);  // "On"
    QCOMPARE(app.questions.size(), 1);
    QCOMPARE(app.setup.LabelMsg->text(), QString("Nenastaveno, bez zálohy"));
    QCOMPARE(c.ReleButtons->checkedId(), 0);
    QVERIFY(!app.main.LabelRelayForced->isVisible());
    app.answer = true;
    ClickItem(c, 2);  // "Off"
    QTRY_COMPARE_WITH_TIMEOUT(Mode(*relay), sim::RelayMode::kOff, 10000);
    ClickItem(c, 0);  // "Auto"
    QTRY_COMPARE_WITH_TIMEOUT(Mode(*relay), sim::RelayMode::kAuto, 10000);
    QCOMPARE(app.questions.size(), 2);
    QCOMPARE(ModeCommands(*relay), 2u);
  }

  void calibrationReadSpinWriteReadBackAndClearHistory() {
    auto relay = StartRelay({});
    relay->SetRegister(sim::Table::kHolding, 0x19, 1100);  // KalU2 at the top of its spinner
    App app({"/servis"});
    app.Connect(*relay);
    PageCalibration& k = *app.cal;
    QVERIFY(app.Click(app.params.ButtonReadP));
    const SettingsWords settings = app.params.SettingsRecord;

    QVERIFY(app.Await([&] { app.setup.Page1->setCurrentIndex(kCalibrationTab); }));
    QCOMPARE(k.EditKalU1->text(), QString("1.000"));
    QCOMPARE(k.EditKalU2->text(), QString("1.100"));
    QCOMPARE(k.EditKalF->text(), QString("1.0000"));
    QCOMPARE(k.EditSerial->text(), QString("001234"));

    k.EditKalU2->setText("1.050");  // typed, not written: a spinner click rewrites it
    k.UpDownU1->UpButton()->click();
    k.UpDownU2->UpButton()->click();  // stays at 1100, no wrap-around
    k.UpDownF->DownButton()->click();
    QCOMPARE(k.EditKalU1->text(), QString("1.001"));
    QCOMPARE(k.EditKalU2->text(), QString("1.100"));
    QCOMPARE(k.EditKalF->text(), QString("0.9999"));
    k.EditKalU3->setText("1,002");
    QVERIFY(app.Click(k.ButtonWriteKal));
    const uint16_t expected[] = {1001, 1100, 1002, 9999, 0x00C8, 1234, 0};
    for (uint16_t i = 0; i < 7; ++i)
      QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 0x18 + i), expected[i]);
    for (QLineEdit* box : k.EditKal) box->clear();
    QVERIFY(app.Click(k.ButtonReadKal));
    QCOMPARE(k.EditKalU1->text(), QString("1.001"));
    QCOMPARE(k.EditKalU3->text(), QString("1.002"));

    // The right code clears the history; a wrong one is refused in red.
    QVERIFY(app.Click(k.ButtonClrHist));
    QVERIFY(app.Await([&] { k.ClearHistoryRequest.Post(1234); }, "Chybné heslo"));
    QCOMPARE(app.shownColour, QColor(Qt::red));
    QCOMPARE(relay->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); }), 1u);
    QCOMPARE(app.params.SettingsRecord, settings);

    // Serial number 0: an empty box, and a write refused until a number is typed.
    relay->SetRegister(sim::Table::kHolding, 0x1D, 0);
    QVERIFY(app.Click(k.ButtonReadKal));
    QCOMPARE(k.EditSerial->text(), QString());
    k.ButtonWriteKal->click();
    QCOMPARE(app.errors, QStringList{"NX480 - PC|'' is not a valid integer value"});
    QVERIFY(!k.WriteCalibrationRequest.Pending());
    k.EditSerial->setText("4711");
    QVERIFY(app.Click(k.ButtonWriteKal));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 0x1D), uint16_t(4711));
  }

  // Alt+Z on a relay that keeps a factor of its own: the status names it in red, the box shows
  // what the relay holds, and the journal keeps the block as it was right before the write and
  // calls the write refused, naming what the relay holds.
  void calibrationWriteHeldOtherwiseIsJournaled() {
    QTemporaryDir home;
    ScopedDataHome data(home.path());
    sim::RelayConfig config;
    config.clamps.push_back(*sim::ParseSettingClamp("25:0:1050"));  // KalU2 up to 1.050
    auto relay = StartRelay(config);
    App app({"/servis"});
    app.Connect(*relay);
    PageCalibration& k = *app.cal;
    QVERIFY(app.OpenCalibration());
    relay->SetRegister(sim::Table::kHolding, 0x1E, 2);  // after the read: the backup has it
    CalibrationWords before{};
    for (uint16_t i = 0; i < kCalibrationWords; ++i)
      before[i] = *relay->GetRegister(sim::Table::kHolding, 0x18 + i);
    app.Type(k.EditKalU2, "1.100");
    QVERIFY(app.Await([&] { app.Press(Qt::Key_Z); }, "Uloženo jinak: KalU2"));  // "&Zapiš"
    QCOMPARE(app.shownColour, QColor(Qt::red));
    QCOMPARE(k.EditKalU2->text(), QString("1.050"));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 0x19), uint16_t(1050));

    const std::vector<JournalEntry> entries = ListJournal(*JournalRoot());
    QCOMPARE(entries.size(), size_t(1));
    const JournalEntry& entry = entries[0];
    QVERIFY2(!entry.damaged, entry.damage.c_str());
    QCOMPARE(entry.kind, ChangeKind::Calibration);
    QCOMPARE(entry.outcome, JournalOutcome::Refused);
    QCOMPARE(JournalDescription(entry, TextLanguage::English),
             std::string("calibration written from the Calibration page: refused: the relay holds "
                         "KalU2 otherwise"));
    QCOMPARE(RenderJournalLines(entry.details, TextLanguage::English),
             (std::vector<std::string>{"row: KalU2 1.000 -> 1.100", "row: s/n 132306 -> 001234",
                                       "held: KalU2 1.050"}));
    std::vector<uint8_t> bytes;
    FileError error;
    QVERIFY(ReadJournalBackup(*JournalRoot(), entry, "calibration.txt", bytes, error));
    CalibrationWords backup{};
    std::string why;
    QVERIFY2(ParseCalibrationBackup(bytes, backup, why), why.c_str());
    QCOMPARE(backup, before);
  }

  // Alt+S keeps the whole event ring, as the history window exports it, before it is cleared.
  void clearingKeepsTheRingAsTheHistoryExport() {
    QTemporaryDir home;
    ScopedDataHome data(home.path());
    auto relay = StartRelay({});
    App app({"/servis"});
    app.Connect(*relay);
    QVERIFY(app.OpenCalibration());
    std::vector<HistoryRecord> ring;
    for (const sim::EventRecord& event :
         relay->WithModel([](sim::RelayModel& m) { return m.Events(); }))
      ring.push_back(event.Registers());
    QCOMPARE(ring.size(), size_t(40));
    std::string expected;
    QVERIFY(HistoryCsv(HistoryTable(ring,
                                    [](const EventStamp& t) {
                                      return DateAndTimeText(QDate(t.year, t.month, t.day),
                                                             QTime(t.hour, t.minute, t.second))
                                          .toStdString();
                                    }),
                       expected));
    QVERIFY(app.Await([&] { app.Press(Qt::Key_S); }));  // "&Smaž historii"
    QCOMPARE(Clears(*relay), 1u);

    const std::vector<JournalEntry> entries = ListJournal(*JournalRoot());
    QCOMPARE(entries.size(), size_t(1));
    const JournalEntry& entry = entries[0];
    QVERIFY2(!entry.damaged, entry.damage.c_str());
    QCOMPARE(entry.kind, ChangeKind::HistoryClearing);
    QCOMPARE(entry.outcome, JournalOutcome::Done);
    QCOMPARE(RenderJournalLines(entry.details, TextLanguage::English),
             std::vector<std::string>{"records: 40"});
    std::vector<uint8_t> bytes;
    FileError error;
    QVERIFY(ReadJournalBackup(*JournalRoot(), entry, "history.csv", bytes, error));
    QCOMPARE(std::string(bytes.begin(), bytes.end()), expected);
  }

  // "Smaž historii" before a full ring (2015 records, seconds of reading): the walk's count moves
  // on the page while the button is disabled; the verdict stays once it is enabled again, also
  // when the page was left and opened again meanwhile (no read then covers it with "O.K.").
  void clearingShowsItsWalkAndLeavesItsVerdict() {
    QTemporaryDir home;
    ScopedDataHome data(home.path());
    sim::RelayConfig config;
    config.history_size_code = 32;  // 2015 slots
    config.history_fill = 2015;
    auto relay = StartRelay(config);
    // The relay's answer to the clearing is spoilt: it may have cleared ("Odesláno, výsledek
    // neznámý"), a verdict in red which no "O.K." may replace.
    relay->AddFault({.kind = sim::FaultKind::kBadCrc, .function = 0x10, .count = 1});
    App app({"/servis"});
    app.Connect(*relay);
    QVERIFY(app.OpenCalibration());
    PageCalibration& k = *app.cal;
    QSignalSpy clicked(k.ButtonClrHist, &QPushButton::clicked);
    app.Press(Qt::Key_S);  // "&Smaž historii"
    QVERIFY(clicked.wait(10000));
    QVERIFY(!k.ButtonClrHist->isEnabled());
    QVERIFY(k.ProgressBarClrHist->isVisible());
    QVERIFY(app.setup.LabelMsg->isHidden());
    QVERIFY(WaitUntil([&] { return k.ProgressBarClrHist->value() > 0; }, 10000));
    QCOMPARE(k.ProgressBarClrHist->maximum(), 2015);
    const int seen = k.ProgressBarClrHist->value();
    QVERIFY(WaitUntil([&] { return k.ProgressBarClrHist->value() > seen; }, 10000));
    QVERIFY(k.ClearHistoryRequest.Pending());
    QVERIFY(!k.ButtonClrHist->isEnabled());
    QTest::mouseClick(k.EditSerial, Qt::LeftButton);  // into the page, for Ctrl+Tab
    QTest::keyClick(k.EditSerial, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(app.setup.Page1->currentWidget(), app.setup.TabFirmware);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                    Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(app.setup.Page1->currentWidget(), app.setup.TabKalibrace);

    QVERIFY(WaitUntil([&] { return k.ButtonClrHist->isEnabled(); }, 30000));
    QCOMPARE(Clears(*relay), 1u);
    QVERIFY(k.ProgressBarClrHist->isHidden());
    QCOMPARE(app.setup.LabelMsg->text(), QString("Odesláno, výsledek neznámý"));
    QCOMPARE(StatusColour(app.setup), QColor(Qt::red));
    QVERIFY(app.Idle());  // no read was asked for
    QVERIFY(!app.setup.TimerMsg->isActive());
  }

  // A verdict on these pages ends with the page's next action: here each page's read on
  // opening, taken away by a relay mode chosen, a factor typed, a spinner stepped.
  void verdictEndsWithThePagesNextAction_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("action");
    QTest::newRow("Datum, čas: On") << kClockTab << "On";
    QTest::newRow("Kalibrace: a factor typed") << kCalibrationTab << "type";
    QTest::newRow("Kalibrace: a spinner stepped") << kCalibrationTab << "spin";
  }
  void verdictEndsWithThePagesNextAction() {
    QFETCH(int, tab);
    QFETCH(QString, action);
    QTemporaryDir home;
    ScopedDataHome data(home.path());
    auto relay = StartRelay({});
    App app({"/servis"});
    app.Connect(*relay);
    QVERIFY(app.Await([&] { app.setup.Page1->setCurrentIndex(tab); }));
    QVERIFY(!app.setup.TimerMsg->isActive());
    if (action == "On") {
      ClickItem(app.clock, 1);
      QTRY_COMPARE_WITH_TIMEOUT(Mode(*relay), sim::RelayMode::kOn, 10000);
    } else if (action == "type") {
      app.Type(app.cal->EditKalU1, "1.010");
    } else {
      QTest::mouseClick(app.cal->UpDownU1->UpButton(), Qt::LeftButton);
      QCOMPARE(app.cal->EditKalU1->text(), QString("1.001"));
    }
    QVERIFY(app.setup.LabelMsg->isHidden());
    QVERIFY(app.setup.LabelMsg->text().isEmpty());
  }

  // Closed (Esc) while the ring is read for the backup: the walk ends and nothing is cleared.
  void closingWhileTheRingIsReadSendsNothing() {
    sim::RelayConfig config;
    config.history_size_code = 32;
    config.history_fill = 2000;  // a walk of seconds
    auto relay = StartRelay(config);
    App app({"/servis"});
    app.Connect(*relay);
    QVERIFY(app.OpenCalibration());
    const uint64_t before = relay->Counters().model.requests;
    app.Press(Qt::Key_S);  // "&Smaž historii"
    QVERIFY(WaitUntil([&] { return relay->Counters().model.requests > before + 20; }, 10000));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!app.setup.isVisible());
    // A read of the clock is served only after the clearing's transaction has ended.
    app.clock.ReadClockRequest.Set(1);
    QVERIFY(WaitUntil([&] { return app.Idle(); }, 10000));
    QTest::qWait(1600);  // past the relay's time to erase a ring: no clearing came meanwhile
    QCOMPARE(Clears(*relay), 0u);
    // Shown again (disconnected, so that the page reads nothing on opening): the walk's end is
    // no verdict, the closing was the user's; the button is back.
    QTest::keyClick(&app.main, Qt::Key_F1);
    QVERIFY(WaitUntil([&] { return !app.main.Modbus().PortIsOpen(); }, 10000));
    app.setup.show();
    QVERIFY(app.setup.LabelMsg->isHidden());
    QVERIFY(WaitUntil([&] { return app.cal->ButtonClrHist->isEnabled(); }, 10000));
  }

  // A journal that cannot be written: the page asks, and "Ne" sends nothing.
  void noChangeWithoutABackupUnlessTheUserSaysSo_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("notDone");
    QTest::addColumn<QString>("asks");
    QTest::newRow("write") << int(Qt::Key_Z) << "Nezapsáno, bez zálohy"
                           << "Zapsat bez zálohy?";
    QTest::newRow("clearing") << int(Qt::Key_S) << "Nesmazáno, bez zálohy"
                              << "Smazat bez zálohy?";
  }
  void noChangeWithoutABackupUnlessTheUserSaysSo() {
    QFETCH(int, key);
    QFETCH(QString, notDone);
    QFETCH(QString, asks);
    QTemporaryDir home;
    QFile plain(home.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    ScopedDataHome data(home.filePath("plain/data"));  // under a regular file
    auto relay = StartRelay({});
    App app({"/servis"});
    app.Connect(*relay);
    QVERIFY(app.OpenCalibration());
    app.Type(app.cal->EditKalU1, "1.010");
    app.answer = false;
    QVERIFY(app.Await([&] { app.Press(Qt::Key(key)); }, notDone));
    QCOMPARE(app.questions.size(), 1);
    QVERIFY2(app.questions[0].startsWith(QString::fromUtf8("NX480 - PC|Zálohu nelze uložit: ")) &&
                 app.questions[0].endsWith(asks),
             qPrintable(app.questions[0]));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 0x18), uint16_t(1000));
    QCOMPARE(Clears(*relay), 0u);

    app.answer = true;
    // The clearing's button is back once its page has seen the request end.
    QVERIFY(WaitUntil([&] { return app.cal->ButtonClrHist->isEnabled(); }, 10000));
    QVERIFY(app.Await([&] { app.Press(Qt::Key(key)); }));
    QCOMPARE(key == Qt::Key_Z ? *relay->GetRegister(sim::Table::kHolding, 0x18) : Clears(*relay),
             key == Qt::Key_Z ? 1010u : 1u);
  }

  // Typed factors are the user's until written: the window system's restore is no new show.
  void typedFactorsSurviveMinimiseAndRestore() {
    auto relay = StartRelay({});
    App app({"/servis"});
    app.Connect(*relay);
    QVERIFY(app.Await([&] { app.setup.Page1->setCurrentIndex(kCalibrationTab); }));
    app.cal->EditKalU1->setFocus();
    QTest::keyClick(app.cal->EditKalU1, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(app.cal->EditKalU1, "1.050");
    app.setup.windowHandle()->setWindowState(Qt::WindowMinimized);
    QTest::qWait(50);
    app.setup.windowHandle()->setWindowState(Qt::WindowNoState);
    QTest::qWait(200);  // no read is asked for meanwhile
    QVERIFY(app.Idle());
    QCOMPARE(app.cal->EditKalU1->text(), QString("1.050"));
  }

  // A relay without the output switch is never sent a mode, whatever a window still asks for.
  void noRelayModeBelowFirmware14() {
    sim::RelayConfig older;
    older.version = "1.13";
    auto forced = StartRelay({});
    auto without = StartRelay(older);
    App app;
    app.Connect(*forced);
    app.setup.Page1->setCurrentIndex(kClockTab);
    app.clock.ReleButtons->button(1)->click();  // "On"
    QTRY_COMPARE_WITH_TIMEOUT(ModeCommands(*forced), 1u, 10000);
    QTest::keyClick(&app.main, Qt::Key_F1);
    app.Connect(*without);
    QVERIFY(app.main.Session().connected);
    QTest::qWait(4500);  // past the 4 s repeat of a forced state
    QCOMPARE(ModeCommands(*without), 0u);
  }

  // A forced output belongs to the relay it was forced on: every way the connection ends sends
  // "Auto" where the relay still answers, and the next relay is sent nothing.
  void aForcedOutputEndsWithItsConnection_data() {
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("autoArrives");
    QTest::newRow("F1") << "F1" << true;
    QTest::newRow("adapter pulled") << "gone" << false;
    QTest::newRow("tool closed") << "close" << true;
  }
  void aForcedOutputEndsWithItsConnection() {
    QFETCH(QString, end);
    QFETCH(bool, autoArrives);
    QTemporaryDir home;
    ScopedDataHome data(home.path());
    auto forced = StartRelay({});
    auto next = StartRelay({});
    App app;
    app.Connect(*forced);
    app.setup.Page1->setCurrentIndex(kClockTab);
    app.clock.ReleButtons->button(1)->click();  // "On"
    QTRY_COMPARE_WITH_TIMEOUT(Mode(*forced), sim::RelayMode::kOn, 10000);
    QVERIFY(app.main.LabelRelayForced->isVisible());
    QCOMPARE(app.main.LabelRelayForced->text(), QString("Relé vnuceno: On"));
    if (end == "F1") QTest::keyClick(&app.main, Qt::Key_F1);
    if (end == "gone") forced->Stop();
    if (end == "close") app.main.close();
    QVERIFY(WaitUntil([&] { return !app.main.Modbus().PortIsOpen(); }, 10000));
    if (autoArrives) QCOMPARE(Mode(*forced), sim::RelayMode::kAuto);
    // The forcing's entry, and the return's once it went out.
    const std::vector<JournalEntry> entries = Entries();
    QCOMPARE(entries.size(), size_t(autoArrives ? 2 : 1));
    if (autoArrives)
      QCOMPARE(JournalDescription(entries[1], TextLanguage::English),
               std::string("relay output back to auto as the connection ended: done, "
                           "acknowledged by the relay"));
    QCOMPARE(app.clock.ReleButtons->checkedId(), 0);
    QVERIFY(!app.main.LabelRelayForced->isVisible());
    if (end == "close") return;
    app.errors.clear();
    app.Connect(*next);
    QVERIFY(app.main.Session().connected);
    QTest::qWait(4500);  // past the 4 s repeat of a forced state
    QCOMPARE(ModeCommands(*next), 0u);
  }

  // Chosen without a relay, a forced state would wait for whichever relay comes next.
  void noForcedOutputWithoutARelay() {
    auto relay = StartRelay({});
    App app;
    app.Pretend(14, false);
    app.setup.show();
    app.setup.Page1->setCurrentIndex(kClockTab);
    app.clock.ReleButtons->button(2)->click();  // "Off"
    QCOMPARE(app.setup.LabelMsg->text(), QString("Přístroj není připojen"));
    QCOMPARE(app.clock.ReleButtons->checkedId(), 0);
    app.Connect(*relay);
    QTest::qWait(4500);
    QCOMPARE(ModeCommands(*relay), 0u);
  }

  // "Smaž historii" goes to the relay it was clicked for, or nowhere: clicked after the
  // adapter was pulled but before the tool has taken the news in, it stays with that relay.
  void aClearingNeverReachesTheNextRelay() {
    auto pulled = StartRelay({});
    auto next = StartRelay({});
    App app({"/servis"});
    app.Connect(*pulled);
    app.setup.Page1->setCurrentIndex(kCalibrationTab);
    QVERIFY(WaitUntil([&] { return app.Idle(); }, 10000));
    pulled->Stop();
    app.cal->ButtonReadKal->click();
    // The read finds the device gone and the worker parks itself; the report waits in the
    // event queue.
    QElapsedTimer since;
    since.start();
    while (app.main.Modbus().IsRunning() && since.elapsed() < 20000)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QVERIFY(!app.main.Modbus().IsRunning());
    app.cal->ButtonClrHist->click();
    QVERIFY(app.cal->ClearHistoryRequest.Pending());
    QVERIFY(WaitUntil([&] { return !app.main.Modbus().PortIsOpen(); }, 10000));
    app.Connect(*next);
    QVERIFY(app.main.Session().connected);
    QTest::qWait(2000);  // no clearing reaches it meanwhile
    QCOMPARE(next->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); }), 0u);
  }

  // F1 while the relay erases its history: the command went out, its answer did not come.
  void aClearingCutShortIsNotKnown() {
    sim::RelayConfig config;
    config.history_clear_time = std::chrono::seconds(30);  // still erasing, however slow the F1
    auto relay = StartRelay(config);
    App app({"/servis"});
    app.Connect(*relay);
    QVERIFY(app.Await([&] { app.setup.Page1->setCurrentIndex(kCalibrationTab); }));
    app.cal->ButtonClrHist->click();
    QTRY_COMPARE_WITH_TIMEOUT(
        relay->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); }), 1u, 10000);
    QTest::keyClick(&app.main, Qt::Key_F1);
    QVERIFY(WaitUntil([&] { return !app.main.Modbus().PortIsOpen(); }, 10000));
    QCOMPARE(app.setup.LabelMsg->text(), QString("Odesláno, výsledek neznámý"));
  }

  void withoutARelayNothingWaits() {
    App app({"/servis"});
    app.Pretend(14, true);  // a relay known, none connected
    app.setup.show();
    app.setup.Page1->setCurrentIndex(kClockTab);
    app.setup.Page1->setCurrentIndex(kCalibrationTab);
    QVERIFY(app.Idle());
    for (QPushButton* button :
         {app.clock.ButtonReadC, app.clock.ButtonWriteC, app.cal->ButtonReadKal,
          app.cal->ButtonWriteKal, app.cal->ButtonClrHist}) {
      app.setup.LabelMsg->clear();
      button->click();
      QCOMPARE(app.setup.LabelMsg->text(), QString("Přístroj není připojen"));
      QCOMPARE(StatusColour(app.setup), QColor(Qt::red));
      QVERIFY(app.Idle());
    }
    QVERIFY(app.errors.isEmpty());
  }
};

QTEST_MAIN(ClockCalibrationWindowTest)
#include "clock_calibration_window_test.moc"
