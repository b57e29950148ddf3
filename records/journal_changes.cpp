#include "journal_changes.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "calibration_record.h"
#include "journal_basics.h"
#include "relay_time.h"
#include "settings_file.h"
#include "settings_table.h"
#include "text_codec.h"

namespace nx480 {

using journal_basics::ParseHex;
using journal_basics::Why;

JournalBackup SettingsBackup(const SettingsWords& record) {
  const SettingsFileImage image = SettingsFileBytes(record);
  return {std::string(kSettingsBackupName), {image.begin(), image.end()}};
}

JournalBackup CalibrationBackup(const CalibrationWords& record) {
  std::string text;
  for (size_t i = 0; i < record.size(); ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "0x%02X 0x%04X\n", static_cast<unsigned>(0x18 + i),
                  static_cast<unsigned>(record[i]));
    text += line;
  }
  return {std::string(kCalibrationBackupName), {text.begin(), text.end()}};
}

JournalBackup HistoryBackup(std::vector<uint8_t> exportBytes) {
  return {"history.csv", std::move(exportBytes)};
}

JournalBackup IdentificationBackup(std::string_view identification) {
  const std::string text = CleanLine(identification) + "\n";
  return {"identification.txt", {text.begin(), text.end()}};
}

std::vector<JournalBackup> FirmwareUploadBackups(
    std::string_view identification, const SettingsWords& settings,
    const std::optional<CalibrationWords>& calibration) {
  std::vector<JournalBackup> backups{IdentificationBackup(identification),
                                     SettingsBackup(settings)};
  if (calibration) backups.push_back(CalibrationBackup(*calibration));
  return backups;
}

bool ParseCalibrationBackup(std::span<const uint8_t> bytes, CalibrationWords& record,
                            std::string& error) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  CalibrationWords words{};
  size_t start = 0;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string where = "line " + std::to_string(i + 1);
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) return Why(error, where + " is missing");
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    uint32_t address = 0;
    uint32_t word = 0;
    if (line.substr(0, 2) != "0x" || line.size() != 11 || line.substr(4, 3) != " 0x" ||
        !ParseHex(line.substr(2, 2), false, address) || !ParseHex(line.substr(7, 4), false, word))
      return Why(error, where + " is not \"0xRR 0xWWWW\"");
    if (address != 0x18 + i) {
      char expected[8];
      std::snprintf(expected, sizeof expected, "0x%02X", static_cast<unsigned>(0x18 + i));
      return Why(error, where + " is not register " + expected);
    }
    words[i] = static_cast<uint16_t>(word);
  }
  if (start != text.size()) return Why(error, "more follows register 0x1F");
  record = words;
  return true;
}

namespace {

// Seconds between two clocks, to the hundredth and signed: "+0.02 s", "-1.23 s".
std::string OffsetText(double seconds) {
  double offset = std::round(seconds * 100.0) / 100.0;
  if (offset == 0.0) offset = 0.0;  // no "-0.00"
  char text[64];
  std::snprintf(text, sizeof text, "%+.2f s", offset);
  return text;
}

}  // namespace

std::vector<JournalText> ClockDetails(double relayTime, double pcTime) {
  const auto text = [](double value) {
    const CalendarTime t = SplitDateTime(value);
    char line[64];
    std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return std::string(line);
  };
  return {Keyed("relay-time", {text(relayTime)}), Keyed("pc-time", {text(pcTime)}),
          Keyed("clock-offset", {OffsetText((relayTime - pcTime) * 86400.0)})};
}

JournalText RemainingOffsetDetail(std::optional<double> seconds) {
  return seconds ? Keyed("remaining-offset", {OffsetText(*seconds)})
                 : Keyed("remaining-offset-unknown");
}

std::string_view RelayModeWord(int command) {
  switch (command) {
    case 1:
      return "auto";
    case 2:
      return "forced on";
    case 3:
      return "forced off";
    default:
      return {};
  }
}

JournalText RelayModeDetail(int command) {
  return Keyed("mode", {std::string(RelayModeWord(command))});
}

JournalText FirstSendDetail(Outcome firstSend) {
  return Keyed(firstSend == Outcome::Ok ? "first-send-acknowledged" : "first-send-unacknowledged");
}

namespace {

// A `key` line ("row", "after-restart") of each row that differs between `from` and `to`, each
// side in its firmware's units: the name, the two values; a carried word by its number in hex.
std::vector<JournalText> ChangeLines(const char* key, const SettingsWords& from,
                                     const FirmwareFeatures& fromFirmware, const SettingsWords& to,
                                     const FirmwareFeatures& toFirmware) {
  std::vector<JournalText> details;
  for (const SettingsParameter& p : SettingsParameters()) {
    if (!ParameterDiffers(from, to, p)) continue;
    details.push_back(Keyed(key, {std::string(p.name), ParameterText(from, p, fromFirmware),
                                  ParameterText(to, p, toFirmware)}));
  }
  for (int word : kCarriedWords) {
    if (from[word] == to[word]) continue;
    details.push_back(Keyed(key, {CarriedWordName(word), HexWord(from[word]), HexWord(to[word])}));
  }
  return details;
}

}  // namespace

std::vector<JournalText> SettingsChangeDetails(const SettingsWords& held,
                                               const SettingsWords& toWrite,
                                               const FirmwareFeatures& firmware) {
  return ChangeLines("row", held, firmware, toWrite, firmware);
}

std::vector<JournalText> SettingsAfterRestartDetails(const SettingsWords& saved,
                                                     const FirmwareFeatures& savedFirmware,
                                                     const std::optional<SettingsWords>& after,
                                                     const FirmwareFeatures& afterFirmware) {
  if (!after) return {Keyed("after-restart-not-read")};
  std::vector<JournalText> details =
      ChangeLines("after-restart", saved, savedFirmware, *after, afterFirmware);
  if (details.empty()) details.push_back(Keyed("after-restart-kept"));
  return details;
}

JournalText FirmwareImageDetail(std::string_view path, std::string_view application,
                                std::string_view version, size_t bytes, size_t blocks) {
  return Keyed("image", {std::string(path), std::string(application), std::string(version),
                         std::to_string(bytes), std::to_string(blocks)});
}

std::vector<JournalText> SettingsHeldDetails(const SettingsWords& written,
                                             const SettingsWords& held,
                                             const FirmwareFeatures& firmware) {
  std::vector<JournalText> details;
  for (const SettingsParameter& p : SettingsParameters()) {
    if (ParameterDiffers(written, held, p))
      details.push_back(Keyed("held", {std::string(p.name), ParameterText(held, p, firmware)}));
  }
  for (int word : kCarriedWords) {
    if (written[word] != held[word])
      details.push_back(Keyed("held", {CarriedWordName(word), HexWord(held[word])}));
  }
  return details;
}

namespace {

// The page's texts of a calibration record, in its order: the factors, then "s/n".
std::vector<std::pair<std::string, std::string>> CalibrationTexts(const CalibrationWords& record) {
  CalibrationBoxes boxes;
  CalibrationToBoxes(record, boxes);
  std::vector<std::pair<std::string, std::string>> texts;
  for (int i = 0; i < kFactorCount; ++i) texts.emplace_back(kFactorNames[i], boxes.factor[i]);
  texts.emplace_back("s/n", boxes.serial.empty() ? "none" : boxes.serial);
  return texts;
}

constexpr int kCarriedCalibrationWords[] = {4, 7};

}  // namespace

std::vector<JournalText> CalibrationChangeDetails(const CalibrationWords& held,
                                                  const CalibrationWords& toWrite) {
  const auto before = CalibrationTexts(held);
  const auto after = CalibrationTexts(toWrite);
  std::vector<JournalText> details;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i].second != after[i].second)
      details.push_back(
          Keyed("calibration-row", {before[i].first, before[i].second, after[i].second}));
  }
  for (int word : kCarriedCalibrationWords) {
    const auto at = static_cast<size_t>(word);
    if (held[at] != toWrite[at])
      details.push_back(Keyed("calibration-row",
                              {CarriedWordName(word), HexWord(held[at]), HexWord(toWrite[at])}));
  }
  return details;
}

std::vector<JournalText> CalibrationHeldDetails(const CalibrationWords& written,
                                                const CalibrationWords& held) {
  const auto sent = CalibrationTexts(written);
  const auto kept = CalibrationTexts(held);
  std::vector<JournalText> details;
  for (size_t i = 0; i < sent.size(); ++i) {
    if (sent[i].second != kept[i].second)
      details.push_back(Keyed("calibration-held", {kept[i].first, kept[i].second}));
  }
  for (int word : kCarriedCalibrationWords) {
    const auto at = static_cast<size_t>(word);
    if (written[at] != held[at])
      details.push_back(Keyed("calibration-held", {CarriedWordName(word), HexWord(held[at])}));
  }
  return details;
}

JournalText HistoryClearingDetail(size_t records) {
  return Keyed("records", {std::to_string(records)});
}

JournalOutcome JournalOutcomeOf(Outcome outcome) {
  switch (outcome.kind) {
    case Outcome::Ok:
      return JournalOutcome::Done;
    case Outcome::Differs:
    case Outcome::Refused:
      return JournalOutcome::Refused;
    case Outcome::Unknown:
      return JournalOutcome::Unknown;
    case Outcome::CommunicationError:
      break;
  }
  if (outcome.error == LinkError::Exception) return JournalOutcome::Refused;
  // A change held back before its first byte (kChangeHeldBack), or a first frame cut off by a
  // pause before it left: it never went out.
  return outcome.error == LinkError::Stopped ? JournalOutcome::NotSent : JournalOutcome::Failed;
}

JournalText OutcomeResult(ChangeKind kind, Outcome outcome,
                          const std::vector<std::string>& heldRows) {
  const std::string error(LinkErrorWord(outcome.error));
  switch (outcome.kind) {
    case Outcome::Ok:
      if (kind == ChangeKind::HistoryClearing) return Keyed("cleared");
      if (kind == ChangeKind::Settings || kind == ChangeKind::Calibration)
        return Keyed("read-back-equal");
      return Keyed("acknowledged");
    case Outcome::Differs:
      return Keyed("held-otherwise", {JournalNameList(heldRows)});
    case Outcome::Refused:
      return Keyed(kind == ChangeKind::HistoryClearing ? "refused-code" : "refused-exception");
    case Outcome::Unknown:
      if (outcome.acknowledged) return Keyed("read-back-failed", {error});
      return Keyed(kind == ChangeKind::Settings ? "unacknowledged-part" : "unacknowledged",
                   {error});
    case Outcome::CommunicationError:
      break;
  }
  if (outcome.error == LinkError::Exception) return Keyed("refused-exception");
  if (outcome.error == LinkError::Stopped) return Keyed("not-sent-stopped");
  return Keyed("not-sent", {error});
}

void SetOutcome(JournalEntry& entry, Outcome outcome, std::vector<JournalText> details) {
  std::vector<std::string> heldRows;
  for (const JournalText& detail : details) {
    if ((detail.key == "held" || detail.key == "calibration-held") && !detail.args.empty())
      heldRows.push_back(detail.args[0]);
  }
  entry.outcome = JournalOutcomeOf(outcome);
  entry.results = {OutcomeResult(entry.kind, outcome, heldRows)};
  for (JournalText& detail : details) entry.details.push_back(std::move(detail));
}

JournalOutcome UploadJournalOutcome(const UploadEnd& end) {
  const JournalOutcome kept = JournalOutcomeOf(end.outcome);
  if (kept == JournalOutcome::NotSent && end.step != UploadEnd::Step::BeforeStart)
    return JournalOutcome::Failed;
  return kept;
}

std::vector<JournalText> UploadResults(const UploadEnd& end, StopCause stopper,
                                       const std::string& restartedAs) {
  using Step = UploadEnd::Step;
  const std::string who(StopCauseWord(end.aborted ? stopper : StopCause::ConnectionEnded));
  const std::string error(LinkErrorWord(end.error));
  const std::string sent = std::to_string(end.blocksSent);
  const std::string blocks = std::to_string(end.blocks);
  std::vector<JournalText> results;
  switch (end.step) {
    case Step::BeforeStart:
      results.push_back(Keyed("upload-stopped-before-start", {who}));
      break;
    case Step::Start:
      results.push_back(Keyed("upload-start-failed", {error}));
      break;
    case Step::Blocks:
      results.push_back(end.stopped ? Keyed("upload-stopped", {who, sent, blocks})
                                    : Keyed("upload-block-failed",
                                            {std::to_string(end.blocksSent + 1), blocks, error}));
      break;
    case Step::Status:
      results.push_back(end.stopped ? Keyed("upload-stopped", {who, sent, blocks})
                                    : Keyed("upload-not-ready", {blocks, error}));
      break;
    case Step::Run:
      results.push_back(end.cancel == UploadEnd::Cancel::None
                            ? Keyed("upload-run-not-sent", {blocks, error})
                            : Keyed("upload-stopped-before-run", {who, blocks}));
      break;
    case Step::Restart:
      if (end.outcome == Outcome::Ok) {
        results.push_back(Keyed("upload-restarted", {sent, restartedAs}));
      } else if (end.stopped) {
        results.push_back(Keyed("upload-waiting-stopped", {sent, who}));
      } else {
        results.push_back(Keyed("upload-not-identified", {sent, error}));
      }
      break;
    case Step::Unknown:
      results.push_back(Keyed("upload-tool-fault"));
      break;
  }
  const std::string cancelError(LinkErrorWord(end.cancelError));
  switch (end.cancel) {
    case UploadEnd::Cancel::None:
      break;
    case UploadEnd::Cancel::Acknowledged:
      results.push_back(Keyed("cancel-acknowledged"));
      break;
    case UploadEnd::Cancel::NotAcknowledged:
      results.push_back(Keyed("cancel-not-acknowledged", {cancelError}));
      break;
    case UploadEnd::Cancel::NotAwaited:
      results.push_back(Keyed("cancel-not-awaited"));
      break;
    case UploadEnd::Cancel::NotSent:
      results.push_back(Keyed("cancel-not-sent", {cancelError}));
      break;
  }
  return results;
}

}  // namespace nx480
