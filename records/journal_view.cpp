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
#include "translation.h"

namespace nx480 {

namespace {

constexpr const char* kContext = "JournalView";
constexpr std::array<const char*, 6> kKindTexts = {
    QT_TRANSLATE_NOOP("JournalView", "Parametry"),
    QT_TRANSLATE_NOOP("JournalView", "Kalibrace"),
    QT_TRANSLATE_NOOP("JournalView", "Datum, čas"),
    QT_TRANSLATE_NOOP("JournalView", "Smazání historie"),
    QT_TRANSLATE_NOOP("JournalView", "Upload FW"),
    QT_TRANSLATE_NOOP("JournalView", "Relé")};
constexpr std::array<const char*, 6> kOutcomeTexts = {
    QT_TRANSLATE_NOOP("JournalView", "Čeká"),    QT_TRANSLATE_NOOP("JournalView", "Provedeno"),
    QT_TRANSLATE_NOOP("JournalView", "Chyba"),   QT_TRANSLATE_NOOP("JournalView", "Odmítnuto"),
    QT_TRANSLATE_NOOP("JournalView", "Neznámý"), QT_TRANSLATE_NOOP("JournalView", "Neodesláno")};

std::string Text(const char* source) {
  return translate(kContext, source);
}

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
    text = Arg(translate("JournalView", "obnova záznamu %1"), {d.substr(at + kRestore.size())});
  } else if (d.ends_with(" as the connection ended")) {
    text = translate("JournalView", "při odpojení");
  } else if (d.find(" by nx480ctl") != std::string::npos) {
    text = "nx480ctl";
  } else if (d.find(" from the ") != std::string::npos && d.ends_with(" page")) {
    text = translate("JournalView", "okno");
  } else if (d.find(" after a firmware upload") != std::string::npos) {
    text = translate("JournalView", "po uploadu FW");
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

std::string ChangeKindText(ChangeKind kind) {
  return Text(kKindTexts.at(static_cast<size_t>(kind)));
}

std::string JournalOutcomeText(JournalOutcome outcome) {
  return Text(kOutcomeTexts.at(static_cast<size_t>(outcome)));
}

std::string DamagedEntryText() {
  return Text(kDamagedEntryText);
}

std::string SerialNumberText(int32_t serialNumber) {
  return serialNumber == -1 ? translate("JournalView", "neznámé") : std::to_string(serialNumber);
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
    row.change = FolderNamesKind(entry) ? ChangeKindText(entry.kind) : "?";
    row.outcome = DamagedEntryText();
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
    return {Arg(translate("JournalView", "Záloha má %1 B místo %2 B."),
                {std::to_string(bytes.size()), std::to_string(kSettingsFileSize)})};
  }
  SettingsWords record{};
  ApplySettingsFileBytes(bytes, record);
  std::vector<std::string> lines;
  const bool known = firmware >= 0;
  const FirmwareFeatures features = FirmwareFeaturesOf(known ? firmware : 0);
  if (!known) lines.push_back(translate("JournalView", "Firmware neznámý: časy jsou v krocích."));
  for (const SettingsParameter& p : SettingsParameters()) {
    if (known && !HasParameter(features, p)) continue;
    // The operating mode as the page's radio buttons name it.
    const std::string value =
        p.quantity == Quantity::Phases           ? (ThreePhase(ParameterValue(record, p, features))
                                                        ? translate("JournalView", "třífázový")
                                                        : translate("JournalView", "jednofázový"))
        : !known && p.quantity == Quantity::Time ? std::to_string(ParameterSteps(record, p))
                                                 : ParameterText(record, p, features);
    lines.push_back(std::string(p.name) + ": " + value);
  }
  return lines;
}

std::vector<std::string> JournalRecordLines(const std::string& root, const JournalEntry& entry) {
  std::vector<std::string> lines;
  // "Caption: value", the caption translated.
  const auto line = [&lines](const char* caption, std::string_view value) {
    lines.push_back(Arg(translate("JournalView", "%1: %2"), {Text(caption), value}));
  };
  // A damaged entry shows the texts that were read; its other fields hold nothing read.
  const auto text = [&](const char* caption, const std::string& value) {
    if (!entry.damaged || !value.empty()) line(caption, value);
  };
  if (entry.damaged) line(kDamagedEntryText, entry.damage);
  line(QT_TRANSLATE_NOOP("JournalView", "Složka"),
       RelayFolder(entry.serialNumber) + "/" + entry.id);
  text(QT_TRANSLATE_NOOP("JournalView", "Čas"), entry.time);
  text(QT_TRANSLATE_NOOP("JournalView", "Uživatel"), entry.user);
  text(QT_TRANSLATE_NOOP("JournalView", "Počítač"), entry.host);
  text(QT_TRANSLATE_NOOP("JournalView", "Port"), entry.port);
  text(QT_TRANSLATE_NOOP("JournalView", "Identifikace"), entry.identification);
  line(QT_TRANSLATE_NOOP("JournalView", "Výrobní číslo"), SerialNumberText(entry.serialNumber));
  if (!entry.damaged) {
    line(QT_TRANSLATE_NOOP("JournalView", "Firmware"),
         entry.firmware < 0 ? translate("JournalView", "neznámý") : std::to_string(entry.firmware));
    line(QT_TRANSLATE_NOOP("JournalView", "Změna"), ChangeKindText(entry.kind));
  }
  text(QT_TRANSLATE_NOOP("JournalView", "Popis"), entry.description);
  if (!entry.damaged)
    line(QT_TRANSLATE_NOOP("JournalView", "Výsledek"), JournalOutcomeText(entry.outcome));
  if (!entry.details.empty()) lines.push_back(translate("JournalView", "Podrobnosti:"));
  for (const std::string& detail : entry.details) lines.push_back("  " + detail);
  if (!entry.backups.empty()) lines.push_back(translate("JournalView", "Soubory:"));
  for (const JournalBackup& backup : entry.backups) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(backup.crc32));
    lines.push_back("  " + backup.name + ", " + std::to_string(backup.size) + " B, CRC-32 " + crc);
  }
  if (!HasSettingsBackup(entry)) return lines;

  lines.push_back(
      Arg(translate("JournalView", "Parametry v záloze %1:"), {std::string(kSettingsBackupName)}));
  std::vector<uint8_t> bytes;
  FileError error;
  if (!ReadJournalBackup(root, entry, kSettingsBackupName, bytes, error)) {
    lines.push_back("  " + Arg(translate("JournalView", "Zálohu nelze přečíst: %1"),
                               {BackupProblemText(error)}));
    return lines;
  }
  for (const std::string& value : SettingsBackupLines(bytes, entry.firmware))
    lines.push_back("  " + value);
  return lines;
}

std::string BackupProblemText(const FileError& error) {
  if (error.problem == FileProblem::Other && error.systemError == EBADMSG)
    return translate("JournalView", "Soubor už není takový, jak byl zapsán.");
  return FileProblemText(error.problem);
}

JournalAccess JournalFolderAccess(const std::optional<std::string>& root,
                                  std::optional<int32_t> serialNumber) {
  if (!root) return JournalAccess::NoRoot;
  const JournalAccess access = FolderAccess(*root);
  if (access != JournalAccess::Readable || !serialNumber) return access;
  return FolderAccess(*root + "/" + RelayFolder(*serialNumber));
}

std::string EmptyJournalText(JournalAccess access) {
  switch (access) {
    case JournalAccess::NoRoot:
      return translate("JournalView", "Deník nelze najít (chybí domovská složka)");
    case JournalAccess::Unreadable:
      return translate("JournalView", "Složku deníku nelze číst");
    default:
      return translate("JournalView", "Žádné záznamy");
  }
}

}  // namespace nx480
