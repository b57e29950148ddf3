// The change journal: before the tool changes a relay it keeps what the change replaces, so that
// every change leaves a trace that can be restored. Plain C++ (POSIX).
//
// The journal lives in the user's data folder (JournalRoot, places.h), one folder per relay named
// by its serial number in the relay's own form of six digits ("001234", "unknown"; older versions
// named it "1234": such a folder is read as the same relay's, JournalSerialText), one folder per
// change in it named by its time in UTC and its kind ("2026-12-09T22-15-02.123Z_settings"). Such a
// folder holds the backup files and `entry.txt`, a record in UTF-8 of "key: value" lines:
//
//   format: nx480-pc journal 1
//   time: 2026-12-09T23:15:02.123+01:00          local, with the offset from UTC
//   user: jan
//   host: dilna
//   port: /dev/ttyUSB0
//   identification: NX480   1.14.d
//   serial number: 001234                          or "unknown" (older entries: "1234")
//   firmware: 14                                   or "unknown"
//   change: settings                               the kind's word (ChangeKindWord)
//   description: settings written from the Parameters page: refused: the relay holds Uu1
//     otherwise                                    (one line) what was asked and, once closed,
//                                                  what came of it, in English
//   outcome: refused                               the outcome's word (JournalOutcomeWord)
//   detail: row: Uu1 196 V (85 %) -> 190 V (83 %)  any number of these, in order, in English
//   detail: held: Uu1 195 V (85 %)
//   detail: @description settings-window           the same texts language-neutral
//   detail: @result held-otherwise|Uu1             (journal_text.h): the description's, each
//   detail: @detail 0 row|Uu1|196 V (85 %)|190 V (83 %)   result's, and detail N's key and values
//   detail: @detail 1 held|Uu1|195 V (85 %)
//   file: settings.nx4, 48 bytes, CRC-32 1a2b3c4d   one for each backup file, in order
//   checksum: 0badf00d                              CRC-32 of every byte before this line
//
// A key with an empty value is written "key:". Every line ends with "\n", the checksum line is
// the last one. The language-neutral texts are detail lines so that an older reader of format 1
// takes the entry whole (it shows them as further details); a reader of this version renders the
// texts from them in its own language, and shows an entry without them (or with a key it does not
// know) as its English lines stand. Nothing is deleted by the tool.
//
// This is the store: the entry, its entry.txt and its folder, written, closed, listed and read.
// What each kind of change keeps in it (its backups, details and results) is journal_changes.h.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "atomic_file.h"
#include "journal_basics.h"
#include "journal_text.h"
#include "places.h"
#include "relay_session.h"

namespace nx480 {

enum class ChangeKind { Settings, Calibration, Clock, HistoryClearing, FirmwareUpload, RelayMode };
// settings, calibration, clock, history-clearing, firmware-upload, relay-mode.
std::string_view ChangeKindWord(ChangeKind kind);
std::optional<ChangeKind> ChangeKindOfWord(std::string_view word);

enum class JournalOutcome {
  Pending,  // the entry is on disk, the change not yet sent (or the tool ended meanwhile)
  Done,     // the relay took the change (a write: read back equal)
  Failed,   // the change did not come about: nothing that changes the relay went out whole (a
            // firmware upload: it ended before Run, the old firmware kept)
  Refused,  // the relay refused it, or acknowledged a write and holds other values
  Unknown,  // the change went out, what came of it is not known (no acknowledgement, a spoilt
            // one, a read-back that failed, a restarted relay that did not answer)
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
  JournalText description;  // what was asked, and from where
  std::string port;
  std::string identification;  // UTF-8 (the session's text is in the relay's code page)
  int32_t serialNumber = -1;   // -1: unknown
  int firmware = -1;           // the firmware number (14 for 1.14.d); -1: unknown
  std::vector<JournalText> details;
  std::vector<JournalBackup> backups;
  // Set by the caller before closing (SetOutcome): how it ended, and what came of it in words.
  JournalOutcome outcome = JournalOutcome::Pending;
  std::vector<JournalText> results;

  // Set by OpenJournalEntry; in a listed entry, from its folder and entry.txt.
  std::string id;           // the entry's folder name
  std::string relayFolder;  // its relay's folder: "001234", "unknown", an older "1234"
  std::string time;         // local ISO 8601 with milliseconds and the offset
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

// A serial number in the relay's own form, as the journal names relays: six digits at least
// ("001234"), "unknown" for -1.
std::string JournalSerialText(int32_t serialNumber);

// How an entry is named across relays: "001234/2026-12-09T22-15-02.123Z_settings"
// (JournalSerialText), as nx480ctl takes an ID.
std::string JournalEntryName(const JournalEntry& entry);

// The entry's description, what was asked and what came of it: "settings written from the
// Parameters page: done, read back equal" (the results after a ": ", each after "; ").
std::string JournalDescription(const JournalEntry& entry, TextLanguage language);

// An entry for a change to the connected relay: the port, identification (made UTF-8), serial
// number and firmware number taken from the session.
JournalEntry NewJournalEntry(const RelaySession& session, ChangeKind kind, JournalText description);

// The names of the backups that can be written back: the settings (SettingsBackup), which a
// settings page can open, and the calibration (CalibrationBackup).
inline constexpr std::string_view kSettingsBackupName = "settings.nx4";
inline constexpr std::string_view kCalibrationBackupName = "calibration.txt";

// The folders under `root` that may hold the entries of relay `serialNumber`: its own
// (JournalSerialText), then the one an older version named it by, when that is another name.
std::vector<std::string> RelayFolders(int32_t serialNumber);

// Writes the entry: its folder under `root` (folders made as needed, mode 0700), each backup
// through WriteFileAtomically, then entry.txt with the outcome "pending". Every file and folder
// is on disk (synced) when it returns true: only then may the change be sent. It sets the id,
// time, user and host, the backups' sizes and checksums and the outcome; text that is not valid
// UTF-8 or holds control characters is cleaned (U+FFFD, a space). On failure (a folder that
// cannot be written, a full disk, a backup name that is not allowed or given twice) it removes
// what it wrote, returns false and `error` says why (Other with EINVAL for a bad name).
bool OpenJournalEntry(const std::string& root, JournalEntry& entry, FileError& error);

// Rewrites the entry's entry.txt (atomically, synced with its folder) with its outcome, results and
// details, the caller having set them (SetOutcome); a write that fails is tried once more. The
// entry must have been opened (or listed and not damaged): a missing entry.txt is NotFound, a
// damaged entry is Other with EBADMSG. False: the entry stays pending on disk (the journal is
// incomplete), and the caller says so.
bool CloseJournalEntry(const std::string& root, JournalEntry& entry, FileError& error);

// The entries of one relay (nullopt: of all), newest first: those in its folder and in the folder
// an older version named it by ("1234" beside "001234"). Never fails: a missing journal is empty,
// an entry that cannot be read is listed damaged; folders that are not a relay's are passed over.
// A relay's folder that is a link to a folder is listed as it is written: through the link.
std::vector<JournalEntry> ListJournal(const std::string& root,
                                      std::optional<int32_t> serialNumber = std::nullopt);

// The bytes of a listed entry's backup `name`, only when the entry is not damaged and the file
// is still the size and checksum entry.txt gives it; a restore uses nothing else. A damaged
// entry or a changed file is Other with EBADMSG, a name the entry does not list NotFound.
bool ReadJournalBackup(const std::string& root, const JournalEntry& entry, std::string_view name,
                       std::vector<uint8_t>& bytes, FileError& error);

}  // namespace nx480