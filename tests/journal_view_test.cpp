// What the journal window shows: a settings backup decoded per firmware, a row of the list (an
// older entry's English texts, a newer one's in the window's language), the settings before and
// after a change side by side, the rows a restore would change, the record of an entry whose
// backup changed after it was listed.
#include "journal_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "journal_changes.h"
#include "portable.h"
#include "settings_file.h"

using namespace nx480;
namespace fs = std::filesystem;

namespace {

// Uu1 196 V, tUu1 30 steps, Fu1 47.5 Hz, Fo2 51.5 Hz, the recording interval 60 s, three-phase.
SettingsWords Sample() {
  SettingsWords r{};
  r[7] = 0x0100;
  r[8] = 196;
  r[0] = 30;
  r[12] = 475;
  r[19] = 515;
  r[18] = 60;
  return r;
}

std::vector<uint8_t> Bytes(const SettingsWords& record) {
  const SettingsFileImage image = SettingsFileBytes(record);
  return {image.begin(), image.end()};
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(JournalView, SettingsBackupLinesFollowTheFirmware) {
  const struct {
    int firmware;
    size_t size;
    size_t count;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  } cases[] = {
      // Every parameter; times at 20 steps per second.
      {14,
       48,
       21,
       {"Faze: třífázový", "Uu1: 196 V (85 %)", "tUu1: 1.50 s", "Fu1: 47.5 Hz", "Fo2: 51.5 Hz",
        "Log: 60 s"},
       {}},
      // No U>1, f>> or interval; times at 10 steps per second.
      {4, 48, 16, {"Uu1: 196 V (85 %)", "tUu1: 3.00 s"}, {"Fo2: 51.5 Hz", "Log: 60 s"}},
      // Unknown firmware: every parameter, the times in steps after a line that says so.
      {-1, 48, 22, {"Firmware neznámý: časy jsou v krocích.", "tUu1: 30", "Fo2: 51.5 Hz"}, {}},
      {14, 47, 1, {"Záloha má 47 B místo 48 B."}, {}},
      {14, 49, 1, {"Záloha má 49 B místo 48 B."}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("firmware " + std::to_string(c.firmware) + ", " + std::to_string(c.size) + " B");
    std::vector<uint8_t> bytes = Bytes(Sample());
    bytes.resize(c.size);
    const std::vector<std::string> lines = SettingsBackupLines(bytes, c.firmware);
    EXPECT_EQ(lines.size(), c.count);
    for (const std::string& line : c.present) EXPECT_TRUE(Has(lines, line)) << line;
    for (const std::string& line : c.absent) EXPECT_FALSE(Has(lines, line)) << line;
  }
}

TEST(JournalView, RowsOfEntries) {
  // One hour east of UTC, without daylight saving: a folder's UTC time shows an hour later, a
  // time recorded five hours west of UTC six hours later.
  const char* const savedTz = std::getenv("TZ");
  const std::string saved = savedTz ? savedTz : "";
  test::SetEnvironment("TZ", "XXX-1");
  test::ReadTimeZone();

  // An older entry: its texts in English as they were kept.
  const auto entry = [](ChangeKind kind, JournalOutcome outcome, std::string id, std::string time,
                        std::string description, std::vector<std::string> details,
                        std::string damage = "") {
    JournalEntry e;
    e.kind = kind;
    e.outcome = outcome;
    e.id = std::move(id);
    e.time = std::move(time);
    e.description = Plain(std::move(description));
    for (std::string& detail : details) e.details.push_back(Plain(std::move(detail)));
    e.serialNumber = 1234;
    e.damaged = !damage.empty();
    e.damage = std::move(damage);
    return e;
  };
  // An entry of this version: its texts language-neutral, shown in the window's language.
  const auto keyed = [](ChangeKind kind, Outcome outcome, JournalText description,
                        std::vector<JournalText> details, std::vector<JournalText> held = {}) {
    JournalEntry e;
    e.kind = kind;
    e.id = "2026-12-09T22-15-02.123Z_" + std::string(ChangeKindWord(kind));
    e.time = "2026-12-09T23:15:02.123+01:00";
    e.description = std::move(description);
    e.details = std::move(details);
    e.serialNumber = 1234;
    SetOutcome(e, outcome, std::move(held));
    return e;
  };
  const std::string settingsId = "2026-12-09T22-15-02.123Z_settings";
  const struct {
    const char* name;
    JournalEntry entry;
    std::optional<JournalStamp> when;
    const char* change;
    const char* outcome;
    const char* summary;
  } cases[] = {
      {"changed rows after the description",
       entry(ChangeKind::Settings, JournalOutcome::Done, settingsId,
             "2026-12-09T23:15:02.123+01:00", "written",
             {"row: Uu1 196 V -> 200 V", "note: more", "row: tUu1 1.50 s -> 2.00 s"}),
       JournalStamp{2026, 12, 9, 23, 15, 2}, "Parametry", "Provedeno", "written (Uu1, tUu1)"},
      {"changed rows alone",
       entry(ChangeKind::Settings, JournalOutcome::Unknown, settingsId,
             "2024-02-29T00:00:00.000-05:00", "", {"row: Fo2 50 -> 51"}),
       JournalStamp{2024, 2, 29, 6, 0, 0}, "Parametry", "Neznámý", "Fo2"},
      {"no rows",
       entry(ChangeKind::Clock, JournalOutcome::Failed, "2026-01-01T00-00-00.000Z_clock",
             "2026-01-01T01:00:00.000+01:00", "clock set", {"relay time: 2026-01-01 00:59:58.000"}),
       JournalStamp{2026, 1, 1, 1, 0, 0}, "Datum, čas", "Chyba", "clock set"},
      {"from a page, its rows",
       entry(ChangeKind::Settings, JournalOutcome::Done, settingsId,
             "2026-12-09T23:15:02.123+01:00", "settings written from the Parametry page",
             {"row: Uu1 196 V -> 200 V"}),
       JournalStamp{2026, 12, 9, 23, 15, 2}, "Parametry", "Provedeno", "okno (Uu1)"},
      {"a restore",
       entry(ChangeKind::Settings, JournalOutcome::Done, settingsId,
             "2026-12-09T23:15:02.123+01:00", "settings restored from journal entry 001234/x", {}),
       JournalStamp{2026, 12, 9, 23, 15, 2}, "Parametry", "Provedeno", "obnova záznamu 001234/x"},
      {"a relay mode from nx480ctl",
       entry(ChangeKind::RelayMode, JournalOutcome::Done, settingsId,
             "2026-12-09T23:15:02.123+01:00", "relay output forced on by nx480ctl relay on",
             {"mode: forced on"}),
       JournalStamp{2026, 12, 9, 23, 15, 2}, "Relé", "Provedeno", "On, nx480ctl"},
      {"back to Auto as the connection ended",
       entry(ChangeKind::RelayMode, JournalOutcome::Done, settingsId,
             "2026-12-09T23:15:02.123+01:00", "relay output back to auto as the connection ended",
             {"mode: auto"}),
       JournalStamp{2026, 12, 9, 23, 15, 2}, "Relé", "Provedeno", "Auto, při odpojení"},
      {"damaged: the folder's time made local",
       entry(ChangeKind::Calibration, JournalOutcome::Pending,
             "2026-12-31T23-30-00.000Z_calibration", "", "", {}, "entry.txt is missing"),
       JournalStamp{2027, 1, 1, 0, 30, 0}, "Kalibrace", "Poškozený záznam", "entry.txt is missing"},
      {"this version's settings write, held otherwise",
       keyed(ChangeKind::Settings, Outcome::Differs, Keyed("settings-window"),
             {Keyed("row", {"Uu1", "196 V (85 %)", "190 V (83 %)"}),
              Keyed("row", {"word:21", "0x0000", "0x0001"})},
             {Keyed("held", {"Uu1", "195 V (85 %)"})}),
       JournalStamp{2026, 12, 9, 23, 15, 2}, "Parametry", "Odmítnuto",
       "okno (Uu1, slovo 21): odmítnuto: zařízení drží jinak Uu1"},
      {"this version's restore by nx480ctl, not acknowledged",
       keyed(ChangeKind::Settings, {Outcome::Unknown, LinkError::NoReply},
             Keyed("settings-restore", {"001234/x"}), {Keyed("row", {"Faze", "a", "b"})}),
       JournalStamp{2026, 12, 9, 23, 15, 2}, "Parametry", "Neznámý",
       "obnova záznamu 001234/x (Fáze): odesláno bez platného potvrzení (žádná odpověď): "
       "zařízení může držet vše nebo část"},
      {"this version's relay mode from nx480ctl",
       keyed(ChangeKind::RelayMode, Outcome::Ok,
             Keyed("relay-ctl", {"forced off", "nx480ctl relay off"}), {RelayModeDetail(3)}),
       JournalStamp{2026, 12, 9, 23, 15, 2}, "Relé", "Provedeno",
       "Off, nx480ctl: provedeno, zařízení potvrdilo"},
      {"damaged: a folder that names no change or time",
       entry(ChangeKind::Settings, JournalOutcome::Done, "junk", "2026-02-30T10:00:00.000+01:00",
             "written", {}, "the folder's name is not an entry's"),
       std::nullopt, "?", "Poškozený záznam", "the folder's name is not an entry's"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const JournalRow row = JournalRowOf(c.entry);
    EXPECT_EQ(row.when, c.when);
    EXPECT_EQ(row.relay, "001234");
    EXPECT_EQ(row.change, c.change);
    EXPECT_EQ(row.outcome, c.outcome);
    EXPECT_EQ(row.summary, c.summary);
  }

  test::SetEnvironment("TZ", savedTz ? saved.c_str() : nullptr);
  test::ReadTimeZone();
}

TEST(JournalView, RecordOfAnEntryWhoseBackupChangedAfterTheListing) {
  const fs::path root = test::NewTemporaryFolder("journal_view");
  RelaySession session;
  session.identText = "NX480   1.14.d";
  session.serialNumber = 1234;
  session.firmware.minor = 14;
  JournalEntry opened = NewJournalEntry(session, ChangeKind::Settings, Keyed("settings-window"));
  opened.details = {Keyed("row", {"Uu1", "196 V (85 %)", "200 V (87 %)"})};
  opened.backups = {SettingsBackup(Sample())};
  FileError error;
  ASSERT_TRUE(OpenJournalEntry(root.string(), opened, error));
  const std::vector<JournalEntry> listed = ListJournal(root.string(), 1234);
  ASSERT_EQ(listed.size(), 1u);

  std::vector<std::string> lines = JournalRecordLines(root.string(), listed[0]);
#ifdef _WIN32
  const char* const folderLine = "Složka: 001234\\";  // the platform's separator
#else
  const char* const folderLine = "Složka: 001234/";
#endif
  for (const char* line : {folderLine, "Výrobní číslo: 001234", "Firmware: 14", "Změna: Parametry",
                           "Popis: zápis parametrů ze stránky Parametry", "Výsledek: Čeká",
                           "  Uu1: 196 V (85 %) -> 200 V (87 %)",
                           "Parametry v záloze settings.nx4:", "    Parametr\tPřed\tPožadováno",
                           "  * Uu1\t196 V (85 %)\t200 V (87 %)", "    tUu1\t1,50 s\t1,50 s"}) {
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [line](const std::string& l) {
      return l.starts_with(line);
    })) << line;
  }

  // Another program changes the backup while the window shows the list: it is not decoded.
  std::ofstream(root / "001234" / listed[0].id / "settings.nx4", std::ios::binary) << "changed";
  lines = JournalRecordLines(root.string(), listed[0]);
  EXPECT_EQ(lines.back(), "  Zálohu nelze přečíst: Soubor už není takový, jak byl zapsán.");
  EXPECT_FALSE(Has(lines, "  * Uu1\t196 V (85 %)\t200 V (87 %)"));
  fs::remove_all(root);
}

// The settings before a change and after it, side by side in the compare's rows: what the relay
// held afterwards where it was read back, else what was asked; only the firmware's rows, a
// carried word only where the change touched it; nothing for an older entry.
TEST(JournalView, SettingsBeforeAndAfter) {
  const auto entry = [](ChangeKind kind, JournalOutcome outcome, std::vector<JournalText> details,
                        int firmware = 14) {
    JournalEntry e;
    e.kind = kind;
    e.outcome = outcome;
    e.firmware = firmware;
    e.details = std::move(details);
    return e;
  };
  const JournalText uu1 = Keyed("row", {"Uu1", "196 V (85 %)", "200 V (87 %)"});
  const struct {
    const char* name;
    JournalEntry entry;
    size_t lines;  // captions included
    std::vector<std::string> present;
    std::vector<std::string> absent;
  } cases[] = {
      {"a write done",
       entry(ChangeKind::Settings, JournalOutcome::Done, {uu1}),
       22,
       {"  Parametr\tPřed\tPo změně", "* Uu1\t196 V (85 %)\t200 V (87 %)",
        "  Fáze\ttřífázový\ttřífázový", "  Fo2\t51,5 Hz\t51,5 Hz"},
       {}},
      {"a write held otherwise",
       entry(ChangeKind::Settings, JournalOutcome::Refused,
             {uu1, Keyed("row", {"word:21", "0x0000", "0x0001"}),
              Keyed("held", {"Uu1", "198 V (86 %)"})}),
       23,
       {"  Parametr\tPřed\tPo změně", "* Uu1\t196 V (85 %)\t198 V (86 %)",
        "* slovo 21\t0x0000\t0x0001"},
       {}},
      {"a write not known",
       entry(ChangeKind::Settings, JournalOutcome::Unknown,
             {Keyed("row", {"tUu1", "1.50 s", "2.00 s"})}),
       22,
       {"  Parametr\tPřed\tPožadováno", "* tUu1\t1,50 s\t2,00 s"},
       {}},
      {"an upload, at the old firmware's and the new one's scale",
       entry(ChangeKind::FirmwareUpload, JournalOutcome::Done,
             {FirmwareImageDetail("fw.bn6", "NX480", "1.16", 1, 1),
              Keyed("after-restart", {"tUu1", "3.00 s", "1.50 s"})},
             4),
       17,
       {"  Parametr\tPřed\tPo restartu", "* tUu1\t3,00 s\t1,50 s"},
       {"  Fo2\t51,5 Hz\t51,5 Hz"}},
      {"an upload that kept the settings",
       entry(ChangeKind::FirmwareUpload, JournalOutcome::Done, {Keyed("after-restart-kept")}),
       22,
       {"  Uu1\t196 V (85 %)\t196 V (85 %)"},
       {}},
      {"an older entry",
       entry(ChangeKind::Settings, JournalOutcome::Done, {Plain("row: Uu1 196 V -> 200 V")}),
       0,
       {},
       {}},
      {"a firmware not known",
       entry(ChangeKind::Settings, JournalOutcome::Done, {uu1}, -1),
       0,
       {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> lines = SettingsBeforeAfterLines(Bytes(Sample()), c.entry);
    EXPECT_EQ(lines.size(), c.lines);
    for (const std::string& line : c.present) EXPECT_TRUE(Has(lines, line)) << line;
    for (const std::string& line : c.absent) EXPECT_FALSE(Has(lines, line)) << line;
  }
}

TEST(JournalView, RowsARestoreWouldChange) {
  SettingsWords backup = Sample();
  SettingsWords held = Sample();
  held[8] = 230;      // Uu1
  held[0] = 40;       // tUu1
  held[21] = 0x5A5A;  // carried
  EXPECT_EQ(RestoreRowLines(held, backup, FirmwareFeaturesOf(14)),
            (std::vector<std::string>{"Uu1: 230 V (100 %) -> 196 V (85 %)",
                                      "tUu1: 2,00 s -> 1,50 s", "slovo 21: 0x5A5A -> 0x0000"}));
  EXPECT_TRUE(RestoreRowLines(backup, backup, FirmwareFeaturesOf(14)).empty());
}
