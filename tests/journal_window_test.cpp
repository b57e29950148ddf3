// The journal window, offscreen, over journals made by the library: the list of the connected
// relay and of all relays, a damaged entry, a settings backup opened into the "Parametry" boxes
// with nothing sent to the relay, and the lists that cannot be read.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "journal.h"
#include "window_fixture.h"

namespace sim = nx480::sim;
using nx480::ChangeKind;
using nx480::JournalOutcome;

namespace {

// An entry as a window of the tool leaves it: opened before the change, closed with its outcome.
bool Made(const std::string& root, int32_t serial, ChangeKind kind, const char* description,
          JournalOutcome outcome, nx480::JournalEntry& entry,
          std::vector<nx480::JournalBackup> backups = {}, std::vector<std::string> details = {}) {
  nx480::RelaySession session;
  session.port = "/dev/ttyUSB0";
  session.identText = "NX480   1.14.d";
  session.serialNumber = serial;
  session.firmware = nx480::FirmwareFeaturesOf(14);
  entry = nx480::NewJournalEntry(session, kind, description);
  entry.backups = std::move(backups);
  entry.details = std::move(details);
  nx480::FileError error;
  if (!nx480::OpenJournalEntry(root, entry, error)) return false;
  entry.outcome = outcome;
  return nx480::CloseJournalEntry(root, entry, error);
}

// The journal's environment: the data folder `data`, no home.
nx480::EnvironmentLookup DataHome(const QString& data) {
  const std::string path = data.toStdString();
  return [path](const char* name) -> std::optional<std::string> {
    if (std::string_view(name) == "XDG_DATA_HOME") return path;
    return std::nullopt;
  };
}

bool Activate(QWidget* w) {
  w->activateWindow();
  return QTest::qWaitForWindowActive(w);
}

// Alt+letter on the window's focused widget, and the button's click after its animation.
void Mnemonic(QWidget* window, Qt::Key key) {
  QWidget* focus = QApplication::focusWidget();
  QTest::keyClick(focus && focus->window() == window ? focus : window, key, Qt::AltModifier);
  QVERIFY(ButtonsReleased());
}

QStringList RowTexts(const QTableWidget* grid, int row) {
  QStringList texts;
  for (int c = 2; c < grid->columnCount(); ++c) texts << grid->item(row, c)->text();
  return texts;
}

void ClickRow(QTableWidget* grid, int row) {
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                    grid->visualItemRect(grid->item(row, 0)).center());
}

}  // namespace

class JournalWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void listsEntriesAndOpensASettingsBackup() {
    QTemporaryDir data;
    const std::string root = (data.path() + "/nx480-pc/journal").toStdString();
    nx480::SettingsWords backup{};
    for (size_t i = 0; i < backup.size(); ++i) backup[i] = static_cast<uint16_t>(i + 1);
    backup[8] = 187;  // Uu1
    backup[0] = 30;   // tUu1 1.50 s at 20 steps per second
    nx480::JournalEntry settings, clock, damaged, calibration, mode;
    QVERIFY(Made(root, 1234, ChangeKind::Settings, "written", JournalOutcome::Done, settings,
                 {nx480::SettingsBackup(backup)}, {"row: Uu1 196 V -> 187 V"}));
    QVERIFY(Made(root, 1234, ChangeKind::Clock, "clock set", JournalOutcome::Failed, clock));
    QVERIFY(Made(root, 1234, ChangeKind::Settings, "written", JournalOutcome::Done, damaged,
                 {nx480::SettingsBackup(backup)}));
    std::filesystem::remove(root + "/1234/" + damaged.id + "/settings.nx4");
    QVERIFY(Made(root, 777, ChangeKind::Calibration, "calibrated", JournalOutcome::Refused,
                 calibration));

    auto relay = StartRelay(sim::RelayConfig{});  // serial number 1234
    AppFixture app;
    JournalWindow& j = app.journal;
    j.Environment = DataHome(data.path());
    app.Connect(*relay);
    QVERIFY(app.main.Session().connected);
    app.onLine.CloseWindow();  // no live refreshes: every request from now on is counted
    QVERIFY(Activate(&app.main));
    Mnemonic(&app.main, Qt::Key_D);
    QVERIFY(j.isVisible());
    QVERIFY(Activate(&j));

    // The connected relay's entries, newest first.
    QTableWidget* grid = j.StringGridJournal;
    QCOMPARE(grid->rowCount(), 3);
    QCOMPARE(j.Entries()[0].id, damaged.id);
    QCOMPARE(j.Entries()[1].id, clock.id);
    QCOMPARE(j.Entries()[2].id, settings.id);
    QCOMPARE(RowTexts(grid, 0),
             QStringList({"Parametry", "Poškozený záznam", "settings.nx4 is missing"}));
    QCOMPARE(RowTexts(grid, 1), QStringList({"Datum, čas", "Chyba", "clock set"}));
    QCOMPARE(RowTexts(grid, 2), QStringList({"Parametry", "Provedeno", "written (Uu1)"}));
    QVERIFY(!grid->item(2, 0)->text().isEmpty());
    QVERIFY(grid->isColumnHidden(1));
    QCOMPARE(j.LabelRelay->text(), QString("Zařízení 1234"));
    QVERIFY(j.LabelState->isHidden());

    // The damaged entry, selected first: its reason, and nothing to open.
    QVERIFY(j.MemoEntry->toPlainText().startsWith("Poškozený záznam: settings.nx4 is missing\n"));
    QVERIFY(!j.MemoEntry->toPlainText().contains("Parametry v záloze"));
    QVERIFY(!j.ButtonOpen->isEnabled());
    Mnemonic(&j, Qt::Key_O);
    QVERIFY(!app.setup.isVisible());

    // Every relay's, with the serial number; the selection stays on its entry.
    Mnemonic(&j, Qt::Key_V);
    QVERIFY(j.CheckBoxAll->isChecked());
    QCOMPARE(grid->rowCount(), 4);
    QVERIFY(!grid->isColumnHidden(1));
    QCOMPARE(grid->item(0, 1)->text(), QString("777"));
    QCOMPARE(RowTexts(grid, 0), QStringList({"Kalibrace", "Odmítnuto", "calibrated"}));
    QCOMPARE(grid->item(1, 1)->text(), QString("1234"));
    QCOMPARE(grid->selectedItems().value(0)->row(), 1);
    Mnemonic(&j, Qt::Key_V);
    QCOMPARE(grid->rowCount(), 3);

    // The settings entry: its backup decoded, and opened into the boxes without a request.
    ClickRow(grid, 2);
    QVERIFY(j.MemoEntry->toPlainText().contains("\n  Uu1: 187 V (81 %)\n"));
    QVERIFY(j.ButtonOpen->isEnabled());
    const uint64_t requests = relay->Counters().model.requests;
    Mnemonic(&j, Qt::Key_O);
    QVERIFY(app.setup.isVisible());
    QCOMPARE(app.setup.Page1->currentWidget(), app.setup.TabOchrana);
    QVERIFY(app.params.SettingsRecord == backup);
    QCOMPARE(app.params.Edit[nx480::kBoxUu1]->text(), QString("187"));
    QCOMPARE(app.params.Edit[nx480::kBoxTUu1]->text(), QString("1.50"));
    QCOMPARE(app.setup.windowTitle(), QString("Nastavení"));
    QTest::qWait(300);  // nothing goes out meanwhile
    QCOMPARE(relay->Counters().model.requests, requests);

    // Closed with Esc; the next show lists an entry made meanwhile.
    QVERIFY(Activate(&j));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!j.isVisible());
    QVERIFY(Made(root, 1234, ChangeKind::RelayMode, "forced on", JournalOutcome::NotSent, mode));
    QVERIFY(Activate(&app.main));
    Mnemonic(&app.main, Qt::Key_D);
    QCOMPARE(grid->rowCount(), 4);
    QCOMPARE(RowTexts(grid, 0), QStringList({"Relé", "Neodesláno", "forced on"}));
  }

  // "Obnovit" writes the backup back as "Zapiš" writes, a journaled change of its own; another
  // relay's entry only after a question that names both relays.
  void restoresASettingsBackup() {
    QTemporaryDir data;
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const std::string root = *nx480::JournalRoot();
    auto relay = StartRelay(sim::RelayConfig{});  // serial number 1234
    nx480::SettingsWords held{};
    for (uint16_t i = 0; i < held.size(); ++i)
      held[i] = relay->GetRegister(sim::Table::kHolding, i).value_or(0);
    nx480::SettingsWords own = held, foreign = held;
    own[8] = 187;  // Uu1
    foreign[8] = 184;
    nx480::JournalEntry ownEntry, foreignEntry;
    QVERIFY(Made(root, 777, ChangeKind::Settings, "written", JournalOutcome::Done, foreignEntry,
                 {nx480::SettingsBackup(foreign)}));
    QVERIFY(Made(root, 1234, ChangeKind::Settings, "written", JournalOutcome::Done, ownEntry,
                 {nx480::SettingsBackup(own)}));

    AppFixture app;
    JournalWindow& j = app.journal;
    app.Connect(*relay);
    QVERIFY(app.main.Session().connected);
    app.onLine.CloseWindow();
    QVERIFY(Activate(&app.main));
    Mnemonic(&app.main, Qt::Key_D);
    QVERIFY(Activate(&j));
    QCOMPARE(j.StringGridJournal->rowCount(), 1);
    QVERIFY(j.ButtonRestore->isEnabled());
    const auto uu1 = [&] { return relay->GetRegister(sim::Table::kHolding, 8).value_or(0); };
    Mnemonic(&j, Qt::Key_B);
    QVERIFY(WaitUntil([&] { return nx480::ListJournal(root, 1234).size() == 2; }, 10000));
    QVERIFY(WaitUntil(
        [&] { return nx480::ListJournal(root, 1234)[0].outcome == JournalOutcome::Done; }, 10000));
    QCOMPARE(uu1(), 187);
    QVERIFY(app.questions.isEmpty());
    QCOMPARE(nx480::ListJournal(root, 1234)[0].description,
             "settings restored from journal entry 001234/" + ownEntry.id);
    QCOMPARE(app.setup.Page1->currentWidget(), app.setup.TabOchrana);

    // Another relay's entry: "Ne" sends nothing, "Ano" writes it.
    QVERIFY(Activate(&j));
    Mnemonic(&j, Qt::Key_V);
    ClickRow(j.StringGridJournal, 2);
    QCOMPARE(j.Entries()[2].id, foreignEntry.id);
    Mnemonic(&j, Qt::Key_B);
    QCOMPARE(app.questions.size(), 1);
    QVERIFY(app.questions[0].contains("zařízení 777, připojeno je zařízení 1234"));
    QTest::qWait(500);  // nothing is written meanwhile
    QCOMPARE(uu1(), 187);
    app.answer = true;
    Mnemonic(&j, Qt::Key_B);
    QVERIFY(WaitUntil([&] { return uu1() == 184; }, 10000));
    qputenv("XDG_DATA_HOME", savedData);
  }

  // In service mode a calibration entry's block goes back word for word, journaled itself.
  void restoresACalibrationInServiceMode() {
    QTemporaryDir data;
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const std::string root = *nx480::JournalRoot();
    auto relay = StartRelay(sim::RelayConfig{});
    nx480::CalibrationWords block{};
    for (uint16_t i = 0; i < block.size(); ++i)
      block[i] = relay->GetRegister(sim::Table::kHolding, uint16_t(0x18 + i)).value_or(0);
    block[1] ^= 0x0011;
    nx480::JournalEntry entry;
    QVERIFY(Made(root, 1234, ChangeKind::Calibration, "calibrated", JournalOutcome::Done, entry,
                 {nx480::CalibrationBackup(block)}));

    AppFixture app({"/servis"});
    JournalWindow& j = app.journal;
    app.Connect(*relay);
    QVERIFY(app.main.Session().serviceMode);
    app.onLine.CloseWindow();
    QVERIFY(Activate(&app.main));
    Mnemonic(&app.main, Qt::Key_D);
    QVERIFY(Activate(&j));
    QVERIFY(!j.ButtonOpen->isEnabled());
    QVERIFY(j.ButtonRestore->isEnabled());
    Mnemonic(&j, Qt::Key_B);
    QVERIFY(WaitUntil(
        [&] {
          return nx480::ListJournal(root, 1234).size() == 2 &&
                 nx480::ListJournal(root, 1234)[0].outcome == JournalOutcome::Done;
        },
        10000));
    for (uint16_t i = 0; i < block.size(); ++i)
      QCOMPARE(*relay->GetRegister(sim::Table::kHolding, uint16_t(0x18 + i)), block[i]);
    QCOMPARE(nx480::ListJournal(root, 1234)[0].description,
             "calibration restored from journal entry 001234/" + entry.id);
    QCOMPARE(app.setup.Page1->currentWidget(), app.setup.TabKalibrace);
    qputenv("XDG_DATA_HOME", savedData);
  }

  void emptyListSaysWhy_data() {
    QTest::addColumn<QString>("journal");  // "no home", "file", "empty"
    QTest::addColumn<QString>("label");
    QTest::newRow("no home folder") << "no home"
                                    << "Deník nelze najít (chybí domovská složka)";
    QTest::newRow("a file in its place") << "file"
                                         << "Složku deníku nelze číst";
    QTest::newRow("no change made yet") << "empty"
                                        << "Žádné záznamy";
  }
  void emptyListSaysWhy() {
    QFETCH(QString, journal);
    QFETCH(QString, label);
    QTemporaryDir data;
    AppFixture app;
    JournalWindow& j = app.journal;
    if (journal == "no home") {
      j.Environment = [](const char*) { return std::nullopt; };
    } else {
      j.Environment = DataHome(data.path());
    }
    if (journal == "file") {
      std::filesystem::create_directories(data.path().toStdString() + "/nx480-pc");
      std::ofstream(data.path().toStdString() + "/nx480-pc/journal") << "not a folder";
    }
    // No relay yet: the journal is on this PC, and lists every relay's entries.
    QVERIFY(app.main.ButtonJournal->isEnabled());
    QVERIFY(Activate(&app.main));
    Mnemonic(&app.main, Qt::Key_D);
    QVERIFY(j.isVisible());
    QVERIFY(j.CheckBoxAll->isChecked());
    QVERIFY(!j.CheckBoxAll->isEnabled());
    QCOMPARE(j.StringGridJournal->rowCount(), 0);
    QVERIFY(j.LabelState->isVisible());
    QCOMPARE(j.LabelState->text(), label);
    QVERIFY(j.MemoEntry->toPlainText().isEmpty());
    QVERIFY(!j.ButtonOpen->isEnabled());
  }

  // The main window's new button takes room that no other control uses.
  void mainButtonOverlapsNothing() {
    AppFixture app;
    const QRect journal = app.main.ButtonJournal->geometry();
    for (QWidget* other : app.main.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (other != app.main.ButtonJournal)
        QVERIFY2(!other->geometry().intersects(journal), qPrintable(other->objectName()));
    }
  }
};

QTEST_MAIN(JournalWindowTest)
#include "journal_window_test.moc"
