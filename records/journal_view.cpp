#include "journal_view.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <utility>

#include "firmware_features.h"
#include "folder_calls.h"
#include "local_time.h"
#include "places.h"
#include "settings_compare.h"
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

// The relay's folder the entry is kept in.
std::string RelayFolder(const JournalEntry& entry) {
  return entry.relayFolder.empty() ? JournalSerialText(entry.serialNumber) : entry.relayFolder;
}

// The name of a changed row in a detail: a "row" or "calibration-row" text's first value, or an
// older entry's line "row: Uu1 196 V -> 200 V"; empty for another detail.
std::string ChangedRow(const JournalText& detail) {
  if (detail.key == "row" || detail.key == "calibration-row")
    return JournalRowName(detail.args.at(0), TextLanguage::Reader);
  if (!detail.key.empty()) return {};
  constexpr std::string_view kRow = "row: ";
  std::string_view line = detail.plain;
  if (!line.starts_with(kRow)) return {};
  line.remove_prefix(kRow.size());
  return std::string(line.substr(0, line.find(' ')));
}

// Where a change came from, in the window's words, from its description's wording.
std::string KeyedSourceText(const JournalText& description) {
  const std::string& key = description.key;
  if (key.ends_with("-restore"))
    return Arg(translate("JournalView", "obnova záznamu %1"), {description.args.at(0)});
  if (key == "relay-disconnect") return translate("JournalView", "při odpojení");
  if (key == "settings-after-upload") return translate("JournalView", "po uploadu FW");
  if (key.ends_with("-ctl")) return "nx480ctl";
  return translate("JournalView", "okno");
}

// Where a change came from, in the window's words, from its description: "okno" (a page of the
// tool), "nx480ctl", "obnova záznamu ID", "při odpojení"; an older entry's description (kept in
// English) of another form as it stands. A relay mode adds the item chosen.
std::string SourceText(const JournalEntry& entry) {
  if (!entry.description.key.empty()) {
    std::string text = KeyedSourceText(entry.description);
    if (entry.kind != ChangeKind::RelayMode) return text;
    for (const JournalText& detail : entry.details) {
      if (detail.key == "mode")
        return JournalValue('m', detail.args.at(0), TextLanguage::Reader) + ", " + text;
    }
    return text;
  }
  constexpr std::string_view kRestore = "restored from journal entry ";
  const std::string& d = entry.description.plain;
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
  for (const JournalText& detail : entry.details)
    for (const auto& [line, item] : kModes)
      if (detail.plain == line) return std::string(item) + ", " + text;
  return text;
}

JournalAccess FolderAccess(const std::string& path) {
  std::vector<std::string> names;
  int err = 0;
  if (!FolderNames(path, names, err))
    return err == ENOENT ? JournalAccess::Missing : JournalAccess::Unreadable;
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
  return HasSerialNumber(serialNumber) ? JournalSerialText(serialNumber)
                                       : translate("JournalView", "neznámé");
}

std::optional<JournalStamp> JournalStampOf(const JournalEntry& entry) {
  const std::optional<int64_t> moment = JournalEntryTime(entry);
  if (!moment) return std::nullopt;
  const time_t seconds = static_cast<time_t>(*moment);
  const std::optional<LocalTime> at = LocalTimeAt(seconds);
  if (!at) return std::nullopt;
  const tm& local = at->fields;
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
  for (const JournalText& detail : entry.details) {
    const std::string name = ChangedRow(detail);
    if (name.empty()) continue;
    if (!rows.empty()) rows += ", ";
    rows += name;
  }
  row.summary = SourceText(entry);
  if (!rows.empty()) row.summary += row.summary.empty() ? rows : " (" + rows + ")";
  if (!entry.results.empty())
    row.summary += ": " + RenderJournalTexts(entry.results, TextLanguage::Reader);
  return row;
}

bool HasSettingsBackup(const JournalEntry& entry) {
  if (entry.damaged) return false;
  for (const JournalBackup& backup : entry.backups) {
    if (backup.name == kSettingsBackupName) return true;
  }
  return false;
}

bool HasHistoryBackup(const JournalEntry& entry) {
  if (entry.damaged) return false;
  for (const JournalBackup& backup : entry.backups) {
    if (backup.name == kHistoryBackupName) return true;
  }
  return false;
}

std::vector<std::string> SettingsBeforeAfterLines(std::span<const uint8_t> backup,
                                                  const JournalEntry& entry) {
  if (backup.size() != kSettingsFileSize || entry.firmware < 0) return {};
  const bool upload = entry.kind == ChangeKind::FirmwareUpload;
  const std::string changeKey = upload ? "after-restart" : "row";
  // What the change made of each row it touched (ParameterText), by the row's name.
  std::vector<std::pair<std::string, std::string>> after;
  bool readBack = entry.outcome == JournalOutcome::Done;
  bool any = false;
  for (const JournalText& detail : entry.details) {
    if (detail.key == changeKey) {
      after.emplace_back(detail.args.at(0), detail.args.at(2));
      any = true;
    } else if (detail.key == "held") {
      after.emplace_back(detail.args.at(0), detail.args.at(1));
      readBack = true;
    } else if (detail.key == "after-restart-kept") {
      any = true;
    }
  }
  if (!any) return {};
  const auto afterOf = [&after](const std::string& name) -> const std::string* {
    const std::string* found = nullptr;
    for (const auto& [row, value] : after)  // a "held" line comes after its "row" line
      if (row == name) found = &value;
    return found;
  };
  SettingsWords record{};
  ApplySettingsFileBytes(backup, record);
  const FirmwareFeatures firmware = FirmwareFeaturesOf(entry.firmware);
  const char* afterCaption = upload     ? QT_TRANSLATE_NOOP("JournalView", "Po restartu")
                             : readBack ? QT_TRANSLATE_NOOP("JournalView", "Po změně")
                                        : QT_TRANSLATE_NOOP("JournalView", "Požadováno");
  std::vector<std::string> lines{"  " + Text(QT_TRANSLATE_NOOP("JournalView", "Parametr")) + "\t" +
                                 Text(QT_TRANSLATE_NOOP("JournalView", "Před")) + "\t" +
                                 Text(afterCaption)};
  for (size_t row = 0; row < kSettingsRowCount; ++row) {
    const SettingsParameter* p = RowParameter(row);
    if (p && !HasParameter(firmware, *p)) continue;
    const std::string name = p ? std::string(p->name) : CarriedWordName(RowCarriedWord(row));
    const std::string* changed = afterOf(name);
    if (!p && !changed) continue;  // a carried word only where the change touched it
    const std::string before = PageValueText(record, row, firmware);
    lines.push_back((changed ? "* " : "  ") + JournalRowName(name, TextLanguage::Reader) + "\t" +
                    before + "\t" +
                    (changed ? JournalSettingsValue(*changed, TextLanguage::Reader) : before));
  }
  return lines;
}

std::vector<std::string> RestoreRowLines(const SettingsWords& held, const SettingsWords& backup,
                                         const FirmwareFeatures& firmware) {
  std::vector<std::string> lines;
  for (const size_t row : DifferingRows(held, backup)) {
    const SettingsParameter* p = RowParameter(row);
    const std::string name = p ? std::string(p->name) : CarriedWordName(RowCarriedWord(row));
    lines.push_back(
        Arg(translate("JournalView", "%1: %2 -> %3"),
            {JournalRowName(name, TextLanguage::Reader), PageValueText(held, row, firmware),
             PageValueText(backup, row, firmware)}));
  }
  return lines;
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
  line(QT_TRANSLATE_NOOP("JournalView", "Složka"), PathUnder(RelayFolder(entry), entry.id));
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
  text(QT_TRANSLATE_NOOP("JournalView", "Popis"), JournalDescription(entry, TextLanguage::Reader));
  if (!entry.damaged)
    line(QT_TRANSLATE_NOOP("JournalView", "Výsledek"), JournalOutcomeText(entry.outcome));
  if (!entry.details.empty()) lines.push_back(translate("JournalView", "Podrobnosti:"));
  for (const JournalText& detail : entry.details)
    lines.push_back("  " + RenderJournalText(detail, TextLanguage::Reader));
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
  std::vector<std::string> values = SettingsBeforeAfterLines(bytes, entry);
  if (values.empty()) {
    values = SettingsBackupLines(bytes, entry.firmware);
  }
  for (std::string& value : values) lines.push_back("  " + std::move(value));
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
  // Its folder, or the one an older version named it by: readable when one is.
  JournalAccess relay = JournalAccess::Missing;
  for (const std::string& folder : RelayFolders(*serialNumber)) {
    const JournalAccess one = FolderAccess(*root + "/" + folder);
    if (one == JournalAccess::Readable) return one;
    if (one == JournalAccess::Unreadable) relay = one;
  }
  return relay;
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
