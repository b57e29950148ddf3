// The journal window, offscreen, over journals made by the library: the list of the connected
// relay and of all relays, a damaged entry, a settings backup opened into the "Parametry" boxes
// with nothing sent to the relay, and the lists that cannot be read.
#include <QCheckBox>
#include <QDialog>
#include <QHeaderView>
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

#include "journal_changes.h"
#include "setting_clamp.h"
#include "window_fixture.h"

namespace sim = nx480::sim;
using nx480::ChangeKind;
using nx480::JournalOutcome;

namespace {

// An entry as a window of the tool leaves it: opened before the change, closed with its outcome.
bool Made(const std::string& root, int32_t serial, ChangeKind kind, const char* description,
          JournalOutcome outcome, nx480::JournalEntry& entry,
          std::vector<nx480::JournalBackup> backups = {}, std::vector<std::string> details = {},
          int firmware = 14) {
  nx480::RelaySession session;
  session.port = "/dev/ttyUSB0";
  session.identText = "NX480   1." + std::to_string(firmware) + ".d";
  session.serialNumber = serial;
  session.firmware = nx480::FirmwareFeaturesOf(firmware);
  entry = nx480::NewJournalEntry(session, kind, nx480::Plain(description));
  entry.backups = std::move(backups);
  for (std::string& detail : details) entry.details.push_back(nx480::Plain(std::move(detail)));
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
    std::filesystem::remove(root + "/001234/" + damaged.id + "/settings.nx4");
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
    QCOMPARE(j.LabelRelay->text(), QString("Zařízení 001234"));
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
    QCOMPARE(grid->item(0, 1)->text(), QString("000777"));
    QCOMPARE(RowTexts(grid, 0), QStringList({"Kalibrace", "Odmítnuto", "calibrated"}));
    QCOMPARE(grid->item(1, 1)->text(), QString("001234"));
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

  // "Otevřít" of an entry made under firmware 1.04 (delays in 1/10 s) on a 1.14 relay (1/20 s):
  // the boxes show the delays the entry kept, the page names both steps, and "Zapiš" writes
  // them in the relay's steps. One whose delay does not fit the relay's steps is refused.
  void opensAnOlderFirmwaresBackupInTheRelaysSteps() {
    QTemporaryDir data;
    ScopedDataHome home(data.path());
    const std::string root = *nx480::JournalRoot();
    auto relay = StartRelay(sim::RelayConfig{});  // 1.14.d
    const auto word = [&](uint16_t a) { return *relay->GetRegister(sim::Table::kHolding, a); };
    nx480::SettingsWords kept{}, tooLong{};
    for (uint16_t i = 0; i < kept.size(); ++i) kept[i] = word(i);
    kept[0] = static_cast<uint16_t>((kept[0] & 0xFF00) | 12);  // tUu1 1.2 s in 1/10 s
    kept[15] = 400;                                            // tRel 40 s in 1/10 s
    tooLong = kept;
    tooLong[0] = static_cast<uint16_t>((kept[0] & 0xFF00) | 200);  // 20 s: no byte in 1/20 s
    nx480::JournalEntry older, unfit;
    QVERIFY(Made(root, 1234, ChangeKind::Settings, "older", JournalOutcome::Done, unfit,
                 {nx480::SettingsBackup(tooLong)}, {}, 4));
    QVERIFY(Made(root, 1234, ChangeKind::Settings, "older", JournalOutcome::Done, older,
                 {nx480::SettingsBackup(kept)}, {}, 4));

    AppFixture app;
    JournalWindow& j = app.journal;
    app.Connect(*relay);
    QVERIFY(app.main.Session().connected);
    app.onLine.CloseWindow();
    QVERIFY(Activate(&app.main));
    Mnemonic(&app.main, Qt::Key_D);
    QVERIFY(Activate(&j));
    QCOMPARE(j.Entries().size(), size_t(2));
    QCOMPARE(j.Entries()[1].id, unfit.id);
    ClickRow(j.StringGridJournal, 1);
    Mnemonic(&j, Qt::Key_O);
    QCOMPARE(app.errors,
             QStringList({"Otevřít|Časy tUu1 zálohy nelze nastavit v krocích 1/20 s."}));
    QVERIFY(!app.setup.isVisible());

    ClickRow(j.StringGridJournal, 0);
    Mnemonic(&j, Qt::Key_O);
    QVERIFY(app.setup.isVisible());
    QCOMPARE(app.params.Edit[nx480::kBoxTUu1]->text(), QString("1.20"));
    QCOMPARE(app.params.Edit[nx480::kBoxTRel]->text(), QString("40.0"));
    QCOMPARE(app.setup.LabelMsg->text(), QString("Záloha FW 4: časy 1/10 s → 1/20 s"));
    QVERIFY(word(15) != 800 && (word(0) & 0xFF) != 24);  // not yet written
    QVERIFY(Activate(&app.setup));
    Mnemonic(&app.setup, Qt::Key_Z);  // "&Zapiš"
    QVERIFY(WaitUntil([&] { return app.setup.LabelMsg->text() == "O.K."; }, 10000));
    QCOMPARE(word(0) & 0xFF, 24);
    QCOMPARE(word(15), 800);
  }

  // "Obnovit" reads what the relay holds and asks first, naming the rows it would change with
  // both values, default "Ne": nothing is written then. "Ano" writes the backup back as "Zapiš"
  // writes, a journaled change of its own, and the list shows it at once. Another relay's entry
  // is named in the same question.
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
    const QString ownName = QString::fromStdString("001234/" + ownEntry.id);

    // Asked, "Ne": the relay and the journal as they were.
    Mnemonic(&j, Qt::Key_B);
    QVERIFY(WaitUntil([&] { return app.questions.size() == 1; }, 10000));
    QCOMPARE(app.questions[0],
             "Obnovit|Obnovení změní:\n  Uu1: 196 V (85 %) -> 187 V (81 %)\n"
             "Zapsat parametry ze záznamu " +
                 ownName + "?");
    QTest::qWait(300);  // nothing is written meanwhile
    QCOMPARE(uu1(), 196);
    QCOMPARE(nx480::ListJournal(root, 1234).size(), size_t(1));
    QVERIFY(app.setup.isHidden());

    // "Ano": written and read back; its entry is listed at once, first.
    app.answer = true;
    Mnemonic(&j, Qt::Key_B);
    QVERIFY(WaitUntil(
        [&] {
          const auto entries = nx480::ListJournal(root, 1234);
          return entries.size() == 2 && entries[0].outcome == JournalOutcome::Done;
        },
        10000));
    QCOMPARE(uu1(), 187);
    QCOMPARE(app.questions.size(), 2);
    const nx480::JournalEntry restore = nx480::ListJournal(root, 1234)[0];
    QCOMPARE(
        QString::fromStdString(nx480::JournalDescription(restore, nx480::TextLanguage::English)),
        "settings restored from journal entry " + ownName + ": done, read back equal");
    QCOMPARE(app.setup.Page1->currentWidget(), app.setup.TabOchrana);
    QVERIFY(WaitUntil(
        [&] {
          return j.StringGridJournal->rowCount() == 2 && j.Entries()[0].id == restore.id &&
                 j.Entries()[0].outcome == JournalOutcome::Done;
        },
        10000));
    QCOMPARE(
        RowTexts(j.StringGridJournal, 0),
        QStringList({"Parametry", "Provedeno",
                     "obnova záznamu " + ownName + " (Uu1): provedeno, zpětně vyčteno shodně"}));
    // Its record: the settings before and after it side by side.
    QVERIFY(Activate(&j));
    ClickRow(j.StringGridJournal, 0);
    QVERIFY2(j.MemoEntry->toPlainText().contains("\n  * Uu1\t196 V (85 %)\t187 V (81 %)\n"),
             qPrintable(j.MemoEntry->toPlainText()));

    // Another relay's entry: the question names both relays, then the rows.
    Mnemonic(&j, Qt::Key_V);
    ClickRow(j.StringGridJournal, 2);
    QCOMPARE(j.Entries()[2].id, foreignEntry.id);
    Mnemonic(&j, Qt::Key_B);
    QVERIFY(WaitUntil([&] { return app.questions.size() == 3; }, 10000));
    QVERIFY2(app.questions[2].startsWith("Obnovit|Záznam patří zařízení 000777, připojeno je "
                                         "zařízení 001234.\nObnovení změní:\n  Uu1: 187 V (81 %) "
                                         "-> 184 V (80 %)\n"),
             qPrintable(app.questions[2]));
    QVERIFY(WaitUntil([&] { return uu1() == 184; }, 10000));
    qputenv("XDG_DATA_HOME", savedData);
  }

  // In service mode a calibration entry's block goes back word for word, asked first, journaled
  // itself.
  void restoresACalibrationInServiceMode() {
    QTemporaryDir data;
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const std::string root = *nx480::JournalRoot();
    auto relay = StartRelay(sim::RelayConfig{});
    nx480::CalibrationWords block{};
    for (uint16_t i = 0; i < block.size(); ++i)
      block[i] = relay->GetRegister(sim::Table::kHolding, uint16_t(0x18 + i)).value_or(0);
    block[1] = 1011;  // KalU2 1.011
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
    app.answer = true;
    Mnemonic(&j, Qt::Key_B);
    QVERIFY(WaitUntil(
        [&] {
          return nx480::ListJournal(root, 1234).size() == 2 &&
                 nx480::ListJournal(root, 1234)[0].outcome == JournalOutcome::Done;
        },
        10000));
    QCOMPARE(app.questions.size(), 1);
    QVERIFY2(app.questions[0].contains("Obnovení změní:\n  KalU2: 1.000 -> 1.011\n"),
             qPrintable(app.questions[0]));
    for (uint16_t i = 0; i < block.size(); ++i)
      QCOMPARE(*relay->GetRegister(sim::Table::kHolding, uint16_t(0x18 + i)), block[i]);
    QCOMPARE(
        nx480::JournalDescription(nx480::ListJournal(root, 1234)[0], nx480::TextLanguage::English),
        "calibration restored from journal entry 001234/" + entry.id + ": done, read back equal");
    QCOMPARE(app.setup.Page1->currentWidget(), app.setup.TabKalibrace);

    // Another relay's block: its serial number goes in only when asked for by name.
    nx480::CalibrationWords foreign = block;
    foreign[0] = 1022;  // KalU1
    foreign[5] = 777;   // serial number 777
    nx480::JournalEntry other;
    QVERIFY(Made(root, 777, ChangeKind::Calibration, "calibrated", JournalOutcome::Done, other,
                 {nx480::CalibrationBackup(foreign)}));
    const auto word = [&](uint16_t a) { return *relay->GetRegister(sim::Table::kHolding, a); };
    const struct {
      bool serialAsked;
      uint16_t serialAfter;
    } rounds[] = {{false, 1234}, {true, 777}};
    for (const auto& round : rounds) {
      QVERIFY(Activate(&j));
      if (!j.CheckBoxAll->isChecked()) Mnemonic(&j, Qt::Key_V);
      const auto row = std::find_if(j.Entries().begin(), j.Entries().end(),
                                    [&](const auto& e) { return e.id == other.id; });
      QVERIFY(row != j.Entries().end());
      ClickRow(j.StringGridJournal, int(row - j.Entries().begin()));
      const qsizetype asked = app.questions.size();
      app.answers = {round.serialAsked, true};
      Mnemonic(&j, Qt::Key_B);
      QVERIFY(
          WaitUntil([&] { return word(0x18) == 1022 && word(0x1D) == round.serialAfter; }, 10000));
      QCOMPARE(app.questions.size(), asked + 2);
      QVERIFY2(app.questions[asked].startsWith("Obnovit|Záloha obsahuje výrobní číslo 000777, "
                                               "zařízení má 001234."),
               qPrintable(app.questions[asked]));
      QVERIFY2(app.questions[asked + 1].startsWith("Obnovit|Záznam patří zařízení 000777"),
               qPrintable(app.questions[asked + 1]));
      QCOMPARE(word(0x1E), 0);
      QVERIFY(WaitUntil(
          [&] {
            return !nx480::ListJournal(root, 1234).empty() &&
                   nx480::ListJournal(root, 1234)[0].outcome != JournalOutcome::Pending;
          },
          10000));
      QCOMPARE(int(nx480::ListJournal(root, 1234)[0].outcome), int(JournalOutcome::Done));
    }
    qputenv("XDG_DATA_HOME", savedData);
  }

  // A write the relay clamps: the page says so in red, and the journal calls it refused - in its
  // list and record (the settings before and as the relay holds them, side by side) and in
  // entry.txt.
  void aClampedWriteIsRefusedInTheJournal() {
    QTemporaryDir data;
    ScopedDataHome home(data.path());
    sim::RelayConfig config;
    config.clamps.push_back(*sim::ParseSettingClamp("8:195:260"));  // Uu1 from 195 V
    auto relay = StartRelay(config);
    AppFixture app;
    app.Connect(*relay);
    QVERIFY(app.main.Session().connected);
    app.onLine.CloseWindow();
    QVERIFY(Activate(&app.main));
    Mnemonic(&app.main, Qt::Key_N);  // "&Nastavení"
    QVERIFY(Activate(&app.setup));
    PageParameters& p = app.params;
    Mnemonic(&app.setup, Qt::Key_V);  // "&Vyčti"
    QVERIFY(WaitUntil([&] { return app.setup.LabelMsg->text() == "O.K."; }, 10000));
    for (int i = 0; i < 40 && QApplication::focusWidget() != p.Edit[nx480::kBoxUu1]; ++i)
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClicks(QApplication::focusWidget(), "190");
    Mnemonic(&app.setup, Qt::Key_Z);  // "&Zapiš"
    QVERIFY(WaitUntil([&] { return app.setup.LabelMsg->text() == "Uloženo jinak: Uu1"; }, 10000));
    QCOMPARE(p.Edit[nx480::kBoxUu1]->text(), QString("195"));

    QVERIFY(Activate(&app.main));
    Mnemonic(&app.main, Qt::Key_D);
    JournalWindow& j = app.journal;
    QVERIFY(Activate(&j));
    QCOMPARE(j.StringGridJournal->rowCount(), 1);
    QCOMPARE(
        RowTexts(j.StringGridJournal, 0),
        QStringList({"Parametry", "Odmítnuto", "okno (Uu1): odmítnuto: zařízení drží jinak Uu1"}));
    const QString record = j.MemoEntry->toPlainText();
    for (const char* line :
         {"\nPopis: zápis parametrů ze stránky Parametry: odmítnuto: zařízení drží jinak Uu1\n",
          "\nVýsledek: Odmítnuto\n", "\n  Uu1: 196 V (85 %) -> 190 V (83 %)\n",
          "\n  zařízení drží: Uu1 195 V (85 %)\n", "\n    Parametr\tPřed\tPo změně\n",
          "\n  * Uu1\t196 V (85 %)\t195 V (85 %)\n"})
      QVERIFY2(record.contains(QString::fromUtf8(line)), qPrintable(line + ("\nin\n" + record)));

    const nx480::JournalEntry entry = j.Entries()[0];
    QFile file(
        QString::fromStdString(*nx480::JournalRoot() + "/001234/" + entry.id + "/entry.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("\noutcome: refused\n"));
    QVERIFY(
        text.contains("\ndescription: settings written from the Parameters page: refused: the "
                      "relay holds Uu1 otherwise\n"));
  }

  // A clearing's backup of the event history opens from its entry ("Otevřít") in a window of its
  // own: the history's rows under its titles, and nothing there can be edited.
  void opensABackedUpHistory() {
    QTemporaryDir data;
    const std::string root = (data.path() + "/nx480-pc/journal").toStdString();
    const std::string csv =
        "Datum,\xE8"
        "as;Ud\xE1lost;F  [Hz];\r\n09.12.2026 23:15:02;Odpojen\xED;50,00;\r\n"
        "09.12.2026 23:10:00;Start;49,98;\r\n";
    nx480::JournalEntry clearing;
    QVERIFY(Made(root, 1234, ChangeKind::HistoryClearing, "cleared", JournalOutcome::Done, clearing,
                 {nx480::HistoryBackup({csv.begin(), csv.end()})}));
    AppFixture app;
    JournalWindow& j = app.journal;
    j.Environment = DataHome(data.path());
    QVERIFY(Activate(&app.main));
    Mnemonic(&app.main, Qt::Key_D);
    QVERIFY(Activate(&j));
    QVERIFY(j.ButtonOpen->isEnabled());
    QVERIFY(!j.ButtonRestore->isEnabled());
    Mnemonic(&j, Qt::Key_O);
    QVERIFY(j.HistoryBackupWindow() && j.HistoryBackupWindow()->isVisible());
    QCOMPARE(j.HistoryBackupWindow()->windowTitle(),
             QString::fromStdString("Záloha historie 001234/" + clearing.id));
    auto* grid = j.HistoryBackupWindow()->findChild<QTableWidget*>("StringGridHistoryBackup");
    QVERIFY(grid);
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(grid->columnCount(), 3);
    QCOMPARE(grid->horizontalHeaderItem(1)->text(), QString("Událost"));
    QCOMPARE(grid->item(0, 1)->text(), QString("Odpojení"));
    QCOMPARE(grid->item(1, 2)->text(), QString("49,98"));
    grid->setCurrentCell(0, 1);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_F2);
    QTest::keyClicks(grid, "x");
    QTest::keyClick(grid, Qt::Key_Return);
    QCOMPARE(grid->item(0, 1)->text(), QString("Odpojení"));
    QVERIFY(!app.setup.isVisible());
  }

  // A journal an older version kept, in the relay's folder "1234": listed for the relay 001234
  // beside its new entries, shown, and restored from.
  void anOlderJournalIsTheSameRelays() {
    QTemporaryDir data;
    ScopedDataHome home(data.path());
    const std::string root = *nx480::JournalRoot();
    auto relay = StartRelay(sim::RelayConfig{});  // serial number 1234
    nx480::SettingsWords old{};
    for (uint16_t i = 0; i < old.size(); ++i)
      old[i] = relay->GetRegister(sim::Table::kHolding, i).value_or(0);
    old[8] = 200;  // Uu1
    nx480::JournalEntry entry;
    QVERIFY(Made(root, 1234, ChangeKind::Settings, "settings written from the Parametry page",
                 JournalOutcome::Done, entry, {nx480::SettingsBackup(old)},
                 {"row: Uu1 205 V -> 196 V"}));
    // As the older version left it.
    std::filesystem::rename(root + "/001234", root + "/1234");
    QFile file(QString::fromStdString(root + "/1234/" + entry.id + "/entry.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    text.replace("serial number: 001234", "serial number: 1234");
    text.truncate(text.lastIndexOf("checksum: "));
    const uint32_t crc = nx480::Crc32(
        {reinterpret_cast<const uint8_t*>(text.data()), static_cast<size_t>(text.size())});
    text += QString("checksum: %1\n").arg(crc, 8, 16, QChar('0')).toUtf8();
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();

    AppFixture app;
    JournalWindow& j = app.journal;
    app.Connect(*relay);
    QVERIFY(app.main.Session().connected);
    app.onLine.CloseWindow();
    QVERIFY(Activate(&app.main));
    Mnemonic(&app.main, Qt::Key_D);
    QVERIFY(Activate(&j));
    QCOMPARE(j.StringGridJournal->rowCount(), 1);
    QCOMPARE(RowTexts(j.StringGridJournal, 0),
             QStringList({"Parametry", "Provedeno", "okno (Uu1)"}));
    QVERIFY(j.MemoEntry->toPlainText().contains(
        QString::fromStdString("Složka: 1234/" + entry.id + "\n")));
    QVERIFY(
        j.MemoEntry->toPlainText().contains("\nPopis: settings written from the Parametry page\n"));
    app.answer = true;
    Mnemonic(&j, Qt::Key_B);
    QVERIFY(WaitUntil([&] { return j.StringGridJournal->rowCount() == 2; }, 10000));
    QVERIFY(WaitUntil([&] { return relay->GetRegister(sim::Table::kHolding, 8) == 200; }, 10000));
    QCOMPARE(nx480::ListJournal(root, 1234)[0].relayFolder, "001234");
    QCOMPARE(nx480::ListJournal(root, 1234)[1].relayFolder, "1234");
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
