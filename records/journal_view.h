// What the journal window shows of the change journal (journal.h), decided without widgets: the
// texts of a change and its outcome (in the windows' language, translation.h), a row of the list,
// the record of one entry with its settings backup decoded, and why a list is empty. The window
// copies these results into its controls and formats the times in the user's regional formats.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware_features.h"
#include "journal.h"
#include "settings_words.h"
#include "translation.h"

namespace nx480 {

// "Parametry", "Kalibrace", "Datum, čas", "Smazání historie", "Upload FW", "Relé".
std::string ChangeKindText(ChangeKind kind);
// "Čeká", "Provedeno", "Chyba", "Odmítnuto", "Neznámý", "Neodesláno".
std::string JournalOutcomeText(JournalOutcome outcome);
// What a damaged entry shows for its outcome: "Poškozený záznam" (kDamagedEntryText, the source).
inline constexpr const char* kDamagedEntryText =
    QT_TRANSLATE_NOOP("JournalView", "Poškozený záznam");
std::string DamagedEntryText();

// A relay's serial number as the window shows it, in the relay's own form: "001234", "neznámé"
// for -1.
std::string SerialNumberText(int32_t serialNumber);

// The moment of an entry (JournalEntryTime) in the reader's local time; nothing when the entry
// gives none.
struct JournalStamp {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
  bool operator==(const JournalStamp&) const = default;
};
std::optional<JournalStamp> JournalStampOf(const JournalEntry& entry);

// One row of the list; the time is formatted by the window.
struct JournalRow {
  std::optional<JournalStamp> when;
  std::string relay;    // the serial number, "neznámé"
  std::string change;   // ChangeKindText; "?" for a damaged entry whose folder names no change
  std::string outcome;  // JournalOutcomeText, or kDamagedEntryText
  // Where the change came from ("okno", "nx480ctl", "obnova záznamu 001234/ID", "při odpojení";
  // a relay mode with its item first: "On, okno"; a description of no known form as it stands),
  // the rows it changed (its "row" details) and what came of it (its results, in the reader's
  // language): "okno (Uu1, tUu1): odmítnuto: zařízení drží jinak Uu1"; for a damaged entry, why
  // it is damaged.
  std::string summary;
};
JournalRow JournalRowOf(const JournalEntry& entry);

// The entry has a settings backup that may be opened: it lists one and is not damaged.
bool HasSettingsBackup(const JournalEntry& entry);
// The entry has a backup of the event history (a clearing's "history.csv") and is not damaged.
bool HasHistoryBackup(const JournalEntry& entry);
inline constexpr std::string_view kHistoryBackupName = "history.csv";

// The settings backup and what the change made of it, side by side, in the compare's rows
// (settings_compare.h, the page's texts): a line of captions, then per row the firmware has
// "Uu1\t196 V (85 %)\t200 V (87 %)", a row the change touched marked "* " in front (others two
// spaces). The second column is what the relay held afterwards where it was read back (a write
// done or held otherwise, the settings after a firmware upload's restart), else what was asked.
// Empty for an entry whose details name no change in the language-neutral form (an older one).
std::vector<std::string> SettingsBeforeAfterLines(std::span<const uint8_t> backup,
                                                  const JournalEntry& entry);

// The rows a restore would change, in the compare's rows as the "Parametry" page lists them:
// "Uu1: 230 V (100 %) -> 187 V (81 %)" for each row that differs between `held` (what the relay
// holds now) and `backup`, at `firmware`'s time scale. Empty when none does.
std::vector<std::string> RestoreRowLines(const SettingsWords& held, const SettingsWords& backup,
                                         const FirmwareFeatures& firmware);

// A settings backup decoded, one line per parameter that the firmware has (every parameter when
// the firmware is unknown, -1), in the settings table's order: "Uu1: 196 V (85 %)". For an
// unknown firmware the times stay in steps, after a line that says so; a backup of another size
// than a settings file is one line that says so.
std::vector<std::string> SettingsBackupLines(std::span<const uint8_t> bytes, int firmware);

// The record of an entry as the window shows it below the list: every field of entry.txt with
// a caption in the windows' language, its detail lines and its files, then its settings backup
// decoded (read from `root` through ReadJournalBackup, or why it cannot be read). A damaged entry
// begins with kDamagedEntryText and the reason, shows what could be read of it and no backup.
std::vector<std::string> JournalRecordLines(const std::string& root, const JournalEntry& entry);

// Why a backup cannot be read (ReadJournalBackup's error): one that is no longer the size and
// checksum entry.txt gives it says so, anything else as FileProblemText says it.
std::string BackupProblemText(const FileError& error);

// Whether a list of the journal can be read: no journal folder is known (no home folder), the
// folder does not exist yet (no change made), it cannot be read, or it can. With a serial
// number, the folder of that relay is looked at after the journal's.
enum class JournalAccess { NoRoot, Missing, Unreadable, Readable };
JournalAccess JournalFolderAccess(const std::optional<std::string>& root,
                                  std::optional<int32_t> serialNumber);
// What the window says of an empty list: "Deník nelze najít (chybí domovská složka)", "Složku
// deníku nelze číst", "Žádné záznamy".
std::string EmptyJournalText(JournalAccess access);

}  // namespace nx480
