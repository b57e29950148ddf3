#include "journal_view.h"

#include <dirent.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <utility>

#include "firmware_features.h"
#include "settings_file.h"
#include "settings_table.h"

namespace nx480 {

namespace {

constexpr std::array<std::string_view, 6> kKindTexts = {
    "Parametry", "Kalibrace", "Datum, čas", "Smazání historie", "Upload FW", "Relé"};
constexpr std::array<std::string_view, 6> kOutcomeTexts = {"Čeká",      "Provedeno", "Chyba",
                                                           "Odmítnuto", "Neznámý",   "Neodesláno"};
constexpr std::string_view kUnknownSerial = "neznámé";

// Whether the entry's folder name ends with the word of its kind (else the kind is no reading).
bool FolderNamesKind(const JournalEntry& entry) {
  const std::string suffix = "_" + std::string(ChangeKindWord(entry.kind));
  return entry.id.size() > suffix.size() && entry.id.ends_with(suffix);
}

// The relay's folder, as the journal names it.
std::string RelayFolder(int32_t serialNumber) {
  return serialNumber == -1 ? std::string("unknown") : std::to_string(serialNumber);
}

// The name of a changed row in a detail line "row: Uu1 196 V -> 200 V"; empty for another line.
std::string_view ChangedRow(std::string_view detail) {
  constexpr std::string_view kRow = "row: ";
  if (!detail.starts_with(kRow)) return {};
  detail.remove_prefix(kRow.size());
  return detail.substr(0, detail.find(' '));
}

// Where a change came from, in the window's words, from its description (kept in English in
// the record): "okno" (a page of the tool), "nx480ctl", "obnova záznamu ID", "při odpojení";
// a description of another form as it stands. A relay mode adds the item chosen.
std::string SourceText(const JournalEntry& entry) {
  constexpr std::string_view kRestore = "restored from journal entry ";
  const std::string& d = entry.description;
  std::string text;
  if (const size_t at = d.find(kRestore); at != std::string::npos) {
    text = "obnova záznamu " + d.substr(at + kRestore.size());
  } else if (d.ends_with(" as the connection ended")) {
    text = "při odpojení";
  } else if (d.find(" by nx480ctl") != std::string::npos) {
    text = "nx480ctl";
  } else if (d.find(" from the ") != std::string::npos && d.ends_with(" page")) {
    text = "okno";
  } else if (d.find(" after a firmware upload") != std::string::npos) {
    text = "po uploadu FW";
  } else {
    return d;
  }
  if (entry.kind != ChangeKind::RelayMode) return text;
  // "mode: forced on" as the page's items name it.
  constexpr std::pair<std::string_view, std::string_view> kModes[] = {
      {"mode: auto", "Auto"}, {"mode: forced on", "On"}, {"mode: forced off", "Off"}};
  for (const std::string& detail : entry.details)
    for (const auto& [line, item] : kModes)
      if (detail == line) return std::string(item) + ", " + text;
  return text;
}

JournalAccess FolderAccess(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return errno == ENOENT ? JournalAccess::Missing : JournalAccess::Unreadable;
  ::closedir(dir);
  return JournalAccess::Readable;
}

}  // namespace

std::string_view ChangeKindText(ChangeKind kind) {
  return kKindTexts.at(static_cast<size_t>(kind));
}

std::string_view JournalOutcomeText(JournalOutcome outcome) {
  return kOutcomeTexts.at(static_cast<size_t>(outcome));
}

std::string SerialNumberText(int32_t serialNumber) {
  return serialNumber == -1 ? std::string(kUnknownSerial) : std::to_string(serialNumber);
}

std::optional<JournalStamp> JournalStampOf(const JournalEntry& entry) {
  const std::optional<int64_t> moment = JournalEntryTime(entry);
  if (!moment) return std::nullopt;
  const time_t seconds = static_cast<time_t>(*moment);
  tm local{};
  if (!::localtime_r(&seconds, &local)) return std::nullopt;
  return JournalStamp{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                      local.tm_hour,        local.tm_min,     local.tm_sec};
}

JournalRow JournalRowOf(const JournalEntry& entry) {
  JournalRow row;
  row.when = JournalStampOf(entry);
  row.relay = SerialNumberText(entry.serialNumber);
  if (entry.damaged) {
    row.change = FolderNamesKind(entry) ? std::string(ChangeKindText(entry.kind)) : "?";
    row.outcome = kDamagedEntryText;
    row.summary = entry.damage;
    return row;
  }
  row.change = ChangeKindText(entry.kind);
  row.outcome = JournalOutcomeText(entry.outcome);
  std::string rows;
  for (const std::string& detail : entry.details) {
    const std::string_view name = ChangedRow(detail);
    if (name.empty()) continue;
    if (!rows.empty()) rows += ", ";
    rows += name;
  }
  row.summary = SourceText(entry);
  if (!rows.empty()) row.summary += row.summary.empty() ? rows : " (" + rows + ")";
  return row;
}

bool HasSettingsBackup(const JournalEntry& entry) {
  if (entry.damaged) return false;
  for (const JournalBackup& backup : entry.backups) {
    if (backup.name == kSettingsBackupName) return true;
  }
  return false;
}

std::vector<std::string> SettingsBackupLines(std::span<const uint8_t> bytes, int firmware) {
  if (bytes.size() != kSettingsFileSize) {
    return {"Záloha má " + std::to_string(bytes.size()) + " B místo " +
            std::to_string(kSettingsFileSize) + " B."};
  }
  SettingsWords record{};
  ApplySettingsFileBytes(bytes, record);
  std::vector<std::string> lines;
  const bool known = firmware >= 0;
  const FirmwareFeatures features = FirmwareFeaturesOf(known ? firmware : 0);
  if (!known) lines.emplace_back("Firmware neznámý: časy jsou v krocích.");
  for (const SettingsParameter& p : SettingsParameters()) {
    if (known && !HasParameter(features, p)) continue;
    // The operating mode as the page's radio buttons name it.
    const std::string value =
        p.quantity == Quantity::Phases
            ? (ThreePhase(ParameterValue(record, p, features)) ? "třífázový" : "jednofázový")
        : !known && p.quantity == Quantity::Time ? std::to_string(ParameterSteps(record, p))
                                                 : ParameterText(record, p, features);
    lines.push_back(std::string(p.name) + ": " + value);
  }
  return lines;
}

std::vector<std::string> JournalRecordLines(const std::string& root, const JournalEntry& entry) {
  std::vector<std::string> lines;
  const auto line = [&lines](std::string_view caption, std::string_view value) {
    lines.push_back(std::string(caption) + ": " + std::string(value));
  };
  // A damaged entry shows the texts that were read; its other fields hold nothing read.
  const auto text = [&](std::string_view caption, const std::string& value) {
    if (!entry.damaged || !value.empty()) line(caption, value);
  };
  if (entry.damaged) line(kDamagedEntryText, entry.damage);
  line("Složka", RelayFolder(entry.serialNumber) + "/" + entry.id);
  text("Čas", entry.time);
  text("Uživatel", entry.user);
  text("Počítač", entry.host);
  text("Port", entry.port);
  text("Identifikace", entry.identification);
  line("Výrobní číslo", SerialNumberText(entry.serialNumber));
  if (!entry.damaged) {
    line("Firmware", entry.firmware < 0 ? "neznámý" : std::to_string(entry.firmware));
    line("Změna", ChangeKindText(entry.kind));
  }
  text("Popis", entry.description);
  if (!entry.damaged) line("Výsledek", JournalOutcomeText(entry.outcome));
  if (!entry.details.empty()) lines.emplace_back("Podrobnosti:");
  for (const std::string& detail : entry.details) lines.push_back("  " + detail);
  if (!entry.backups.empty()) lines.emplace_back("Soubory:");
  for (const JournalBackup& backup : entry.backups) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(backup.crc32));
    lines.push_back("  " + backup.name + ", " + std::to_string(backup.size) + " B, CRC-32 " + crc);
  }
  if (!HasSettingsBackup(entry)) return lines;

  lines.push_back("Parametry v záloze " + std::string(kSettingsBackupName) + ":");
  std::vector<uint8_t> bytes;
  FileError error;
  if (!ReadJournalBackup(root, entry, kSettingsBackupName, bytes, error)) {
    lines.push_back("  Zálohu nelze přečíst: " + BackupProblemText(error));
    return lines;
  }
  for (const std::string& value : SettingsBackupLines(bytes, entry.firmware))
    lines.push_back("  " + value);
  return lines;
}

std::string BackupProblemText(const FileError& error) {
  if (error.problem == FileProblem::Other && error.systemError == EBADMSG)
    return "Soubor už není takový, jak byl zapsán.";
  return FileProblemText(error.problem);
}

JournalAccess JournalFolderAccess(const std::optional<std::string>& root,
                                  std::optional<int32_t> serialNumber) {
  if (!root) return JournalAccess::NoRoot;
  const JournalAccess access = FolderAccess(*root);
  if (access != JournalAccess::Readable || !serialNumber) return access;
  return FolderAccess(*root + "/" + RelayFolder(*serialNumber));
}

std::string_view EmptyJournalText(JournalAccess access) {
  switch (access) {
    case JournalAccess::NoRoot:
      return "Deník nelze najít (chybí domovská složka)";
    case JournalAccess::Unreadable:
      return "Složku deníku nelze číst";
    default:
      return "Žádné záznamy";
  }
}

}  // namespace nx480
