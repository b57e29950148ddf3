// `nx480ctl journal list [--all]`, `journal show ID` and `journal restore ID`: the change journal
// read back (records/journal.h), and a backup written back into the relay; nothing in the
// journal is changed but by the restore's own entry.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include "command_table.h"
#include "commands.h"
#include "folder_calls.h"
#include "journal_changes.h"
#include "local_time.h"
#include "output.h"
#include "places.h"
#include "relay_link.h"
#include "settings_file.h"
#include "settings_rows.h"
#include "settings_table.h"

namespace nx480::ctl {

namespace {

// The journal's folder, or nullopt after a message.
std::optional<std::string> Root() {
  const Places places = CurrentPlaces();
  const std::optional<std::string> root = places.Journal();
  int err = 0;
  if (!root) {
    Say("no journal folder: " + places.data.problem);
  } else if (std::vector<std::string> names; !FolderNames(*root, names, err) && err != ENOENT) {
    Say("the journal folder " + *root + " cannot be read: " + std::strerror(err));
    return std::nullopt;
  }
  return root;
}

// As identify prints it: "001234", or "unknown" (no serial number, HasSerialNumber).
std::string SerialText(int32_t serial) {
  return JournalSerialText(serial);
}

// Whether the entry's record was read: a damaged entry has a time only when its entry.txt was
// read whole (the time is the first field taken from it, after the checksum and the keys).
bool RecordRead(const JournalEntry& entry) {
  return !entry.damaged || !entry.time.empty();
}

// The change's word; for an entry whose record was not read, the one its ID ends in ("-": none).
std::string KindText(const JournalEntry& entry) {
  if (RecordRead(entry)) return std::string(ChangeKindWord(entry.kind));
  const size_t underscore = entry.id.rfind('_');
  const std::optional<ChangeKind> kind = underscore == std::string::npos
                                             ? std::nullopt
                                             : ChangeKindOfWord(entry.id.substr(underscore + 1));
  return kind ? std::string(ChangeKindWord(*kind)) : "-";
}

// The entry's moment in the reader's local time, "2026-12-09 23:15:02"; "-" when the entry
// gives none.
std::string LocalTimeOf(const JournalEntry& entry) {
  const std::optional<int64_t> moment = JournalEntryTime(entry);
  if (!moment) return "-";
  const time_t seconds = static_cast<time_t>(*moment);
  const std::optional<LocalTime> local = LocalTimeAt(seconds);
  char text[32];
  if (!local || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local->fields) == 0)
    return "-";
  return text;
}

// One line per entry, the columns aligned and two blanks apart; the last is the description,
// followed on a damaged entry's line by "DAMAGED: why".
std::string ListText(const std::vector<JournalEntry>& entries, bool withSerial) {
  std::vector<std::vector<std::string>> rows;
  for (const JournalEntry& e : entries) {
    std::vector<std::string> row;
    if (withSerial) row.push_back(SerialText(e.serialNumber));
    const bool read = RecordRead(e);
    std::string last = read ? JournalDescription(e, TextLanguage::English) : "";
    if (e.damaged) last += (last.empty() ? "" : "  ") + ("DAMAGED: " + e.damage);
    row.insert(row.end(), {e.id, LocalTimeOf(e), KindText(e),
                           read ? std::string(JournalOutcomeWord(e.outcome)) : "-", last});
    rows.push_back(std::move(row));
  }
  std::vector<size_t> widths(rows.empty() ? 0 : rows[0].size() - 1, 0);
  for (const auto& row : rows)
    for (size_t i = 0; i < widths.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < widths.size(); ++i) line += Column(row[i], widths[i] + 2);
    line += row.back();
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  }
  return text;
}

// The entry's record, key by key as entry.txt names them, with its folder; a damaged one says
// why, and the fields of a record that was not read are left out.
std::string RecordText(const std::string& folder, const JournalEntry& e) {
  auto line = [](const std::string& key, const std::string& value) {
    return key + ":" + (value.empty() ? "" : " " + value) + "\n";
  };
  std::string text = line("id", e.id) + line("folder", folder);
  if (e.damaged) text += line("DAMAGED", e.damage);
  if (!RecordRead(e))
    return text + line("serial number", SerialText(e.serialNumber)) + line("change", KindText(e));
  text += line("time", e.time) + line("user", e.user) + line("host", e.host) +
          line("port", e.port) + line("identification", e.identification) +
          line("serial number", SerialText(e.serialNumber)) +
          line("firmware", e.firmware < 0 ? "unknown" : std::to_string(e.firmware)) +
          line("change", KindText(e)) +
          line("description", JournalDescription(e, TextLanguage::English)) +
          line("outcome", std::string(JournalOutcomeWord(e.outcome)));
  for (const JournalText& detail : e.details)
    text += line("detail", RenderJournalText(detail, TextLanguage::English));
  for (const JournalBackup& b : e.backups) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(b.crc32));
    text += line("file", b.name + ", " + std::to_string(b.size) + " bytes, CRC-32 " + crc);
  }
  return text;
}

// The settings a backup holds, as `settings show` prints them, at the time scale of the
// firmware the relay had; or why they are not shown.
Exit ShowSettingsBackup(const std::string& root, const JournalEntry& entry,
                        const std::string& name) {
  if (entry.damaged) {
    Say(name + " is not decoded: the entry is damaged");
    return Exit::BadFile;
  }
  std::vector<uint8_t> bytes;
  FileError error;
  if (!ReadJournalBackup(root, entry, name, bytes, error)) {
    Say("bad file: " + name + " of " + entry.id + ": " + FileErrorText(error));
    return Exit::BadFile;
  }
  if (bytes.size() != kSettingsFileSize) {
    Say("bad file: " + name + " of " + entry.id + " is no settings file of " +
        std::to_string(kSettingsFileSize) + " bytes");
    return Exit::BadFile;
  }
  if (entry.firmware < 0) {
    Say(name +
        " is not decoded: the relay's firmware, and so the time scale, is unknown "
        "(settings show FILE --firmware N decodes it)");
    return Exit::Ok;
  }
  SettingsWords record{};
  ApplySettingsFileBytes(bytes, record);
  const FirmwareFeatures firmware = FirmwareFeaturesOf(entry.firmware);
  Print("\n" + name + ", the settings the change replaced:\n" + TimeScaleLine(firmware) + "\n" +
        SettingsTable(record, firmware));
  return Exit::Ok;
}

// The entry `id` names: its folder's name, or SERIAL/ID. Nullopt after a message when there is
// none, or more than one (two relays' entries made in the same millisecond).
std::optional<JournalEntry> FindEntry(const std::string& root, const std::string& id) {
  const size_t slash = id.find('/');
  const std::string name = slash == std::string::npos ? id : id.substr(slash + 1);
  std::optional<int32_t> serial;
  if (slash != std::string::npos) {
    const std::string relay = id.substr(0, slash);
    uint32_t number = 0;
    const auto [end, ec] = std::from_chars(relay.data(), relay.data() + relay.size(), number);
    if (relay == "unknown") {
      serial = -1;
    } else if (ec == std::errc() && end == relay.data() + relay.size() &&
               HasSerialNumber(static_cast<int32_t>(number))) {
      serial = static_cast<int32_t>(number);
    } else {
      Say("'" + relay + "' is no serial number (SERIAL/ID: 1234/" + name + ")");
      return std::nullopt;
    }
  }
  std::vector<JournalEntry> found;
  for (JournalEntry& entry : ListJournal(root, serial))
    if (entry.id == name) found.push_back(std::move(entry));
  if (found.size() == 1) return std::move(found.front());
  if (found.empty()) {
    Say("no journal entry '" + id + "' in " + root + " (journal list --all lists them)");
  } else {
    std::string relays;
    for (const JournalEntry& entry : found)
      relays += " " + SerialText(entry.serialNumber) + "/" + entry.id;
    Say("'" + id + "' names entries of " + std::to_string(found.size()) +
        " relays; give one as SERIAL/ID:" + relays);
  }
  return std::nullopt;
}

Exit ShowEntry(const std::string& root, const std::string& id) {
  const std::optional<JournalEntry> entry = FindEntry(root, id);
  if (!entry) return Exit::Usage;
  const std::string folder = PathUnder(root, entry->relayFolder + "/" + entry->id);
  Print(RecordText(folder, *entry));
  Exit result = Exit::Ok;
  const std::string settingsName(kSettingsBackupName);
  for (const JournalBackup& backup : entry->backups)
    if (backup.name == settingsName && RecordRead(*entry))
      result = ShowSettingsBackup(root, *entry, backup.name);
  if (entry->damaged) {
    Say("damaged journal entry " + entry->id + ": " + entry->damage);
    return Exit::BadFile;
  }
  return result;
}

// The bytes of the entry's backup `name`, or nullopt after a message.
std::optional<std::vector<uint8_t>> Backup(const std::string& root, const JournalEntry& entry,
                                           std::string_view name) {
  std::vector<uint8_t> bytes;
  FileError error;
  if (ReadJournalBackup(root, entry, name, bytes, error)) return bytes;
  Say("bad file: " + std::string(name) + " of " + entry.id + ": " + FileErrorText(error) +
      "; nothing written");
  return std::nullopt;
}

bool Lists(const JournalEntry& entry, std::string_view name) {
  return std::any_of(entry.backups.begin(), entry.backups.end(),
                     [name](const JournalBackup& b) { return b.name == name; });
}

// Refuses, after a message, the restore of another relay's entry unless --other-relay was given.
// Without a serial number on either side the relays cannot be told apart: another relay's.
Exit SameRelay(const Invocation& invocation, const JournalEntry& entry, const RelaySession& now) {
  if (SameSerialNumber(now.serialNumber, entry.serialNumber) || invocation.otherRelay)
    return Exit::Ok;
  Say("journal entry " + JournalEntryName(entry) + " is of relay " +
      SerialText(entry.serialNumber) + ", the connected relay is " + SerialText(now.serialNumber) +
      ": nothing written (--other-relay restores it there)");
  return Exit::Usage;
}

// Writes the settings an entry kept back into the connected relay, as `settings write` does,
// their delays counted at the connected relay's time scale.
Exit RestoreSettings(const std::string& root, const Invocation& invocation,
                     const JournalEntry& entry) {
  const std::string id = JournalEntryName(entry);
  const std::string name(kSettingsBackupName);
  const std::optional<std::vector<uint8_t>> bytes = Backup(root, entry, name);
  if (!bytes) return Exit::BadFile;
  if (bytes->size() != kSettingsFileSize) {
    Say("bad file: " + name + " of " + id + " is no settings file of " +
        std::to_string(kSettingsFileSize) + " bytes; nothing written");
    return Exit::BadFile;
  }
  if (entry.firmware < 0) {
    Say("journal entry " + id +
        " does not say under which firmware it was made, so its delays cannot be placed; "
        "nothing written");
    return Exit::BadFile;
  }
  SettingsWords record{};
  ApplySettingsFileBytes(*bytes, record);
  const FirmwareFeatures kept = FirmwareFeaturesOf(entry.firmware);
  return WriteSettingsRecord(
      invocation, record, "journal entry " + id, Keyed("settings-restore", {id}),
      [&](const RelaySession& now, SettingsWords& words) {
        if (const Exit same = SameRelay(invocation, entry, now); same != Exit::Ok) return same;
        std::vector<std::string> rows;
        if (RescaleDelays(words, kept, now.firmware, rows)) return Exit::Ok;
        std::string names;
        for (const std::string& row : rows) names += (names.empty() ? "" : ", ") + row;
        Say("the delays " + names + " of journal entry " + id + " (steps of 1/" +
            std::to_string(kept.delayScale) + " s) cannot be set in the relay's steps of 1/" +
            std::to_string(now.firmware.delayScale) + " s; nothing written");
        return Exit::BadFile;
      });
}

// Writes the calibration an entry kept back, as `calibration set` does; the relay keeps its own
// serial number (words 5 and 6) unless --with-serial asks for the entry's.
Exit RestoreCalibration(const std::string& root, const Invocation& invocation,
                        const JournalEntry& entry) {
  const std::string id = JournalEntryName(entry);
  if (!invocation.service) {
    Say("journal entry " + id +
        " keeps the calibration, which is written in service mode: nx480ctl --service journal "
        "restore " +
        invocation.entryId);
    return Exit::Usage;
  }
  const std::string name(kCalibrationBackupName);
  const std::optional<std::vector<uint8_t>> bytes = Backup(root, entry, name);
  if (!bytes) return Exit::BadFile;
  CalibrationWords record{};
  std::string error;
  if (!ParseCalibrationBackup(*bytes, record, error)) {
    Say("bad file: " + name + " of " + id + ": " + error + "; nothing written");
    return Exit::BadFile;
  }
  return WriteCalibrationRecord(
      invocation, record, Keyed("calibration-restore", {id}),
      [&](const RelaySession& now, const CalibrationWords& held, CalibrationWords& words) {
        if (const Exit same = SameRelay(invocation, entry, now); same != Exit::Ok) return same;
        if (!invocation.withSerial) {
          words[kSerialLowWord] = held[kSerialLowWord];
          words[kSerialHighWord] = held[kSerialHighWord];
        }
        return Exit::Ok;
      });
}

// Writes what an entry kept back: its settings, else its calibration.
Exit RestoreEntry(const std::string& root, const Invocation& invocation) {
  const std::optional<JournalEntry> entry = FindEntry(root, invocation.entryId);
  if (!entry) return Exit::Usage;
  const std::string id = JournalEntryName(*entry);
  if (entry->damaged) {
    Say("damaged journal entry " + id + ": " + entry->damage +
        "; a damaged entry is never restored");
    return Exit::BadFile;
  }
  if (Lists(*entry, kSettingsBackupName)) {
    if (invocation.withSerial) {
      Say("journal entry " + id + " keeps settings, no serial number: --with-serial goes with a " +
          "calibration entry");
      return Exit::Usage;
    }
    return RestoreSettings(root, invocation, *entry);
  }
  if (entry->kind == ChangeKind::Calibration && Lists(*entry, kCalibrationBackupName))
    return RestoreCalibration(root, invocation, *entry);
  Say("journal entry " + id + " (" + KindText(*entry) + ") keeps nothing that can be written back");
  return Exit::Usage;
}

}  // namespace

Exit RunJournal(const Invocation& invocation) {
  const std::optional<std::string> root = Root();
  if (!root) return Exit::BadFile;
  if (invocation.command == Command::JournalShow) return ShowEntry(*root, invocation.entryId);
  if (invocation.command == Command::JournalRestore) return RestoreEntry(*root, invocation);

  std::optional<int32_t> serial;
  if (!invocation.allRelays) {
    RelayLink relay(invocation);
    if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
    serial = relay.Session().serialNumber;
    if (!HasSerialNumber(*serial))
      Say("the relay's serial number could not be read: the entries of relays without one");
  }
  const std::vector<JournalEntry> entries = ListJournal(*root, serial);
  if (entries.empty()) {
    Say(serial ? "no journal entries for relay " + SerialText(*serial) : "no journal entries");
    return Exit::Ok;
  }
  Print(ListText(entries, !serial));
  return Exit::Ok;
}

namespace {

std::string ParseJournal(const CommandWords& given, Invocation& inv) {
  const std::vector<std::string>& words = given.words;
  if (words.empty()) return "journal needs list, show or restore";
  if (words[0] == "list") {
    inv.command = Command::JournalList;
    inv.allRelays = given.Has("--all");
    if (given.Has("--other-relay")) return "--other-relay goes with journal restore only";
    if (given.Has("--with-serial")) return "--with-serial goes with journal restore only";
    return given.AtMost(1);
  }
  if (words[0] != "show" && words[0] != "restore")
    return "unknown journal command '" + words[0] + "'";
  inv.command = words[0] == "show" ? Command::JournalShow : Command::JournalRestore;
  if (given.Has("--all")) return "--all goes with journal list only";
  inv.otherRelay = given.Has("--other-relay");
  if (inv.otherRelay && inv.command != Command::JournalRestore)
    return "--other-relay goes with journal restore only";
  inv.withSerial = given.Has("--with-serial");
  if (inv.withSerial && inv.command != Command::JournalRestore)
    return "--with-serial goes with journal restore only";
  if (words.size() < 2)
    return "journal " + words[0] + " needs an entry's ID (journal list gives them)";
  if (words.size() > 2) return "unexpected argument '" + words[2] + "'";
  inv.entryId = words[1];
  if (inv.withSerial && !inv.service)
    return "--with-serial writes a serial number, a service change: add --service";
  return "";
}

}  // namespace

const CommandRow kJournalCommandRow = {
    .name = "journal",
    .options = {{"--all", false}, {"--other-relay", false}, {"--with-serial", false}},
    .parse = ParseJournal,
    .run = RunJournal,
    .overview = {{"journal list [--all]", "the changes made to the relay, newest first"},
                 {"journal show ID", "one change: its record and what it replaced"},
                 {"journal restore ID", "write back what a change replaced"}},
    .help =
        "Usage: nx480ctl journal list [--all]\n"
        "       nx480ctl journal show ID\n"
        "       nx480ctl journal restore ID [--other-relay] [--with-serial]\n"
        "\n"
        "The change journal: every change that nx480-pc or nx480ctl makes to a relay\n"
        "(settings, calibration, clock, history clearing, firmware upload, relay mode)\n"
        "leaves an entry with what the change replaced, under\n"
        "$XDG_DATA_HOME/nx480-pc/journal (else ~/.local/share/nx480-pc/journal).\n"
        "\n"
        "  list    the entries of the connected relay (found by its serial number),\n"
        "          newest first, one a line: ID, local time, change, outcome and\n"
        "          description; \"DAMAGED: why\" ends the line of an entry that cannot\n"
        "          be read whole\n"
        "  --all   every relay's entries, the serial number first; no relay needed\n"
        "  show    the entry ID: its record, detail lines and backup files, and the\n"
        "          backed-up settings with their units; no relay needed. ID as list\n"
        "          gives it, or SERIAL/ID where two relays have the same ID\n"
        "  restore writes what the entry ID kept back into the connected relay: its\n"
        "          settings (a settings change or a firmware upload), or its calibration\n"
        "          (a calibration change, with --service), as\n"
        "          settings write and calibration set write them: journaled first, read\n"
        "          back after. Delays kept under a firmware with another time scale\n"
        "          are counted again in the relay's (exit code 5, nothing written, when\n"
        "          one does not fit)\n"
        "  --other-relay  restores an entry of another relay (another serial number);\n"
        "          without it such a restore is refused (exit code 2) and both serial\n"
        "          numbers are named. A relay without a serial number counts as\n"
        "          another relay, on either side\n"
        "  --with-serial  also writes the serial number a calibration entry kept\n"
        "          (with --service); without it the connected relay keeps its own\n"
        "\n"
        "An empty journal lists nothing (and says so on standard error). Exit code 5\n"
        "without a journal folder (neither XDG_DATA_HOME nor HOME an absolute path)\n"
        "and for a damaged entry, 2 for an ID that is no entry's.\n",
};

}  // namespace nx480::ctl
