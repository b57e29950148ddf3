// The change journal: before the tool changes a relay it keeps what the change replaces, so that
// every change leaves a trace that can be restored. Plain C++ (POSIX).
//
// The journal lives in the user's data folder (JournalRoot), one folder per relay named by its
// serial number ("1234", "unknown"), one folder per change in it named by its time in UTC and
// its kind ("2026-12-09T22-15-02.123Z_settings"). Such a folder holds the backup files and
// `entry.txt`, a record in UTF-8 of "key: value" lines:
//
//   format: nx480-pc journal 1
//   time: 2026-12-09T23:15:02.123+01:00          local, with the offset from UTC
//   user: jan
//   host: dilna
//   port: /dev/ttyUSB0
//   identification: NX480   1.14.d
//   serial number: 1234                            or "unknown"
//   firmware: 14                                   or "unknown"
//   change: settings                               the kind's word (ChangeKindWord)
//   description: settings written from the Parametry page
//   outcome: pending                               the outcome's word (JournalOutcomeWord)
//   detail: row: Uu1 196 V -> 200 V                 any number of these, in order
//   file: settings.nx4, 48 bytes, CRC-32 1a2b3c4d   one for each backup file, in order
//   checksum: 0badf00d                              CRC-32 of every byte before this line
//
// A key with an empty value is written "key:". Every line ends with "\n", the checksum line is
// the last one. Nothing is deleted by the tool.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "atomic_file.h"
#include "calibration_words.h"
#include "firmware_features.h"
#include "outcome.h"
#include "relay_session.h"
#include "settings_words.h"

namespace nx480 {

// The environment as the journal asks it: a variable's value, nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;
// This process's environment; "HOME" falls back to the user's home folder from the password
// database when it is unset or empty.
std::optional<std::string> ProcessEnvironment(const char* name);

// $XDG_DATA_HOME/nx480-pc/journal when XDG_DATA_HOME is set and absolute, else
// $HOME/.local/share/nx480-pc/journal; nullopt when HOME is no absolute path either.
std::optional<std::string> JournalRoot(const EnvironmentLookup& env = ProcessEnvironment);

enum class ChangeKind { Settings, Calibration, Clock, HistoryClearing, FirmwareUpload, RelayMode };
// settings, calibration, clock, history-clearing, firmware-upload, relay-mode.
std::string_view ChangeKindWord(ChangeKind kind);
std::optional<ChangeKind> ChangeKindOfWord(std::string_view word);

enum class JournalOutcome {
  Pending,  // the entry is on disk, the change not yet sent (or the tool ended meanwhile)
  Done,     // the relay took the change
  Failed,   // the change went wrong; the relay may hold some of it
  Refused,  // the relay refused it
  Unknown,  // the change went out, its answer was cut off
  NotSent,  // the change never went out
};
// pending, done, failed, refused, unknown, not-sent.
std::string_view JournalOutcomeWord(JournalOutcome outcome);

struct JournalBackup {
  std::string name;  // the file's name in the entry's folder: [A-Za-z0-9._-], no dot first
  std::vector<uint8_t> bytes;  // what OpenJournalEntry writes; empty in a listed entry
  uint64_t size = 0;           // set by OpenJournalEntry; from entry.txt in a listed entry
  uint32_t crc32 = 0;          // the same
};

struct JournalEntry {
  // Given by the caller before OpenJournalEntry (NewJournalEntry fills most of it).
  ChangeKind kind = ChangeKind::Settings;
  std::string description;  // one line
  std::string port;
  std::string identification;  // UTF-8 (the session's text is in the relay's code page)
  int32_t serialNumber = -1;   // -1: unknown
  int firmware = -1;           // the firmware number (14 for 1.14.d); -1: unknown
  std::vector<std::string> details;
  std::vector<JournalBackup> backups;
  JournalOutcome outcome = JournalOutcome::Pending;  // set by the caller before closing

  // Set by OpenJournalEntry; in a listed entry, from its folder and entry.txt.
  std::string id;    // the entry's folder name
  std::string time;  // local ISO 8601 with milliseconds and the offset
  std::string user;
  std::string host;

  // Set by ListJournal: entry.txt missing or unreadable, a backup missing or not what entry.txt
  // says it is. A damaged entry's other fields are whatever could be read.
  bool damaged = false;
  std::string damage;  // why, in a sentence (English)
};

// The entry's moment in seconds since 1970 (UTC): from its recorded time (local, with the
// offset from UTC), else (a damaged entry without one) from its folder's name (UTC); nothing
// when neither holds a calendar date and time.
std::optional<int64_t> JournalEntryTime(const JournalEntry& entry);

// How an entry is named across relays: "001234/2026-12-09T22-15-02.123Z_settings" (the serial
// number with six digits at least, "unknown" for none), as nx480ctl takes an ID.
std::string JournalEntryName(const JournalEntry& entry);

// An entry for a change to the connected relay: the port, identification (made UTF-8), serial
// number and firmware number taken from the session.
JournalEntry NewJournalEntry(const RelaySession& session, ChangeKind kind, std::string description);

// The names of the backups that can be written back: the settings (SettingsBackup), which a
// settings page can open, and the calibration (CalibrationBackup).
inline constexpr std::string_view kSettingsBackupName = "settings.nx4";
inline constexpr std::string_view kCalibrationBackupName = "calibration.txt";

// The backups, built as they are kept:
//  * "settings.nx4": the 48 bytes of the settings file, as the "Otevři" button loads them;
JournalBackup SettingsBackup(const SettingsWords& record);
//  * "calibration.txt": registers 0x18-0x1F, one line each: "0x18 0x03E8\n";
JournalBackup CalibrationBackup(const CalibrationWords& record);
//  * "history.csv": the history window's export, as the caller hands it over;
JournalBackup HistoryBackup(std::vector<uint8_t> exportBytes);
//  * "identification.txt": the identification text (UTF-8) and a newline;
JournalBackup IdentificationBackup(std::string_view identification);
//  * a firmware upload: the identification, the settings and, when given, the calibration.
std::vector<JournalBackup> FirmwareUploadBackups(
    std::string_view identification, const SettingsWords& settings,
    const std::optional<CalibrationWords>& calibration);

// A settings write's detail lines, in the page's order: "row: Uu1 196 V (85 %) -> 200 V (87 %)"
// for each row that `toWrite` changes in `held` (ParameterText), "row: slovo 21 0x0000 -> 0x1234"
// for a carried word.
std::vector<std::string> SettingsChangeDetails(const SettingsWords& held,
                                               const SettingsWords& toWrite,
                                               const FirmwareFeatures& firmware);
// After a firmware upload, the settings the restarted relay holds against those kept before
// it: "after restart: Uu1 196 V (85 %) -> 230 V (100 %)" for each row that differs (as
// SettingsChangeDetails, each side in its own firmware's units), "after restart: settings kept"
// when none does, "after restart: settings not read" without `after`.
std::vector<std::string> SettingsAfterRestartDetails(const SettingsWords& saved,
                                                     const FirmwareFeatures& savedFirmware,
                                                     const std::optional<SettingsWords>& after,
                                                     const FirmwareFeatures& afterFirmware);
// A firmware upload's image: "image: /home/jan/fw.bn6, NX480 1.14, 32750 bytes, 125 blocks"
// (the texts in UTF-8).
std::string FirmwareImageDetail(std::string_view path, std::string_view application,
                                std::string_view version, size_t bytes, size_t blocks);
// A write read back otherwise: "held: Uu1 200 V (87 %)" for each row the relay holds
// otherwise than `written` says, "held: slovo 21 0x0000" for a carried word.
std::vector<std::string> SettingsHeldDetails(const SettingsWords& written,
                                             const SettingsWords& held,
                                             const FirmwareFeatures& firmware);
// A calibration write's detail lines, in the page's order: "row: KalU1 1.000 -> 1.001" for each
// factor that `toWrite` changes in `held`, "row: s/n 001234 -> 004711" for the serial number (as
// its box shows it, "none" for an empty box), "row: slovo 4 0x00C8 -> 0x00C9" for a carried word.
std::vector<std::string> CalibrationChangeDetails(const CalibrationWords& held,
                                                  const CalibrationWords& toWrite);
// A calibration write read back otherwise: "held: KalU2 1.000", "held: s/n 004711",
// "held: slovo 4 0x00C8" for each value the relay holds otherwise than `written` says.
std::vector<std::string> CalibrationHeldDetails(const CalibrationWords& written,
                                                const CalibrationWords& held);
// A history clearing's detail line: "records: 12", the records its backup holds.
std::string HistoryClearingDetail(size_t records);
// How a write's outcome is kept: Ok and Differs (the relay took the write, and may have clamped
// a value) done, Unknown unknown, Refused refused, a communication error failed.
JournalOutcome JournalOutcomeOf(Outcome outcome);

// Reads the bytes of CalibrationBackup back: exactly eight lines "0xRR 0xWWWW" (hex digits of
// either case), the registers 0x18-0x1F in order, each line ending in "\n", nothing else. On
// failure the record is left alone and `error` says which line is wrong.
bool ParseCalibrationBackup(std::span<const uint8_t> bytes, CalibrationWords& record,
                            std::string& error);

// A clock setting's detail lines, from the relay's and the PC's clocks at the read (date-time
// values, relay_time.h): "relay time: 2026-12-09 23:15:02.120", "pc time: ...",
// "clock offset: -1.23 s" (the relay's clock minus the PC's).
std::vector<std::string> ClockDetails(double relayTime, double pcTime);
// After an acknowledged clock setting, the offset that remains (the relay's clock read once more
// minus the PC's, in seconds): "remaining offset: +0.02 s", as ClockDetails rounds it;
// "remaining offset: unknown" when that read failed (nullopt).
std::string RemainingOffsetDetail(std::optional<double> seconds);

// A relay mode as its request carries it (1 automatic, 2 forced on, 3 forced off): "auto",
// "forced on", "forced off"; empty for any other value.
std::string_view RelayModeWord(int command);
// A relay-mode change's detail lines: its mode ("mode: forced on"), kept before it is sent, and
// how its first send ended ("first send: acknowledged", "first send: not acknowledged").
std::string RelayModeDetail(int command);
std::string FirstSendDetail(Outcome firstSend);

// CRC-32 (IEEE 802.3, as zlib computes it).
uint32_t Crc32(std::span<const uint8_t> bytes);

// Writes the entry: its folder under `root` (folders made as needed, mode 0700), each backup
// through WriteFileAtomically, then entry.txt with the outcome "pending". Every file and folder
// is on disk (synced) when it returns true: only then may the change be sent. It sets the id,
// time, user and host, the backups' sizes and checksums and the outcome; text that is not valid
// UTF-8 or holds control characters is cleaned (U+FFFD, a space). On failure (a folder that
// cannot be written, a full disk, a backup name that is not allowed or given twice) it removes
// what it wrote, returns false and `error` says why (Other with EINVAL for a bad name).
bool OpenJournalEntry(const std::string& root, JournalEntry& entry, FileError& error);

// Rewrites the entry's entry.txt (atomically) with its outcome and details, the caller having
// set the outcome and added detail lines. The entry must have been opened (or listed and not
// damaged): a missing entry.txt is NotFound, a damaged entry is Other with EBADMSG.
bool CloseJournalEntry(const std::string& root, JournalEntry& entry, FileError& error);

// The entries of one relay (nullopt: of all), newest first. Never fails: a missing journal is
// empty, an entry that cannot be read is listed damaged; folders that are not a relay's are
// passed over.
std::vector<JournalEntry> ListJournal(const std::string& root,
                                      std::optional<int32_t> serialNumber = std::nullopt);

// The bytes of a listed entry's backup `name`, only when the entry is not damaged and the file
// is still the size and checksum entry.txt gives it; a restore uses nothing else. A damaged
// entry or a changed file is Other with EBADMSG, a name the entry does not list NotFound.
bool ReadJournalBackup(const std::string& root, const JournalEntry& entry, std::string_view name,
                       std::vector<uint8_t>& bytes, FileError& error);

}  // namespace nx480
