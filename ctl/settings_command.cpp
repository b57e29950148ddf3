// `nx480ctl settings read|write|show|diff FILE.nx4`, `nx480ctl settings check PROFILE [FILE]`.
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "command_table.h"
#include "commands.h"
#include "grid_profile.h"
#include "journal_changes.h"
#include "journal_entry.h"
#include "output.h"
#include "relay_link.h"
#include "settings_file.h"
#include "settings_rows.h"
#include "settings_transactions.h"

namespace nx480::ctl {

namespace {

// The "Parametry" page as the parameter transactions see it; its steps run on the worker, and
// the main thread reads the record and the result once the request is served.
class ParameterPage : public ParameterWindow {
 public:
  // The session of the relay the journal entry is for, and the entry's description; set before
  // the first request.
  const RelaySession* session = nullptr;
  JournalText description = Keyed("settings-ctl", {"nx480ctl settings write"});
  void StoreParameterWords(size_t first, const uint16_t* words, size_t count) override {
    for (size_t i = 0; i < count && first + i < record.size(); ++i) record[first + i] = words[i];
  }
  void SettingsToBoxes() override {}
  void StoreDifferences(const SettingsWords&, const SettingsWords&) override {}
  void ShowResult(Outcome shown) override { outcome = shown; }
  const SettingsWords& WriteHandOver() const override { return writeRequest.Data(); }
  // The write's journal entry, as the window keeps it; without it nothing is sent (no question).
  bool JournalBefore(const SettingsWords& held, const SettingsWords& toWrite) override {
    JournalEntry entry = NewJournalEntry(*session, ChangeKind::Settings, description);
    entry.details = SettingsChangeDetails(held, toWrite, session->firmware);
    entry.backups.push_back(SettingsBackup(held));
    written_ = toWrite;
    return journal.Open(std::move(entry));
  }
  void JournalAfter(Outcome shown, const SettingsWords& held) override {
    journal.Close(shown, shown == Outcome::Differs
                             ? SettingsHeldDetails(written_, held, session->firmware)
                             : std::vector<JournalText>{});
  }

  std::vector<RequestDecl> Requests() {
    auto failed = [this](TModbus&) { result = Exit::Communication; };
    return {{.slot = kReadParamsRequest,
             .request = &readRequest,
             .transaction =
                 [this](TModbus& link) {
                   ReadParameters(link, *this);
                   result = ResultOf(outcome);
                 },
             .onException = failed},
            {.slot = kWriteParamsRequest,
             .request = &writeRequest,
             .transaction =
                 [this](TModbus& link) {
                   WriteParameters(link, *this);
                   result = ResultOf(outcome);
                 },
             .onException = failed}};
  }

  SettingsWords record{};
  Outcome outcome = Outcome::CommunicationError;
  Exit result = Exit::Communication;
  Request readRequest;
  RequestWith<SettingsWords> writeRequest;
  JournalEntryKeeper journal;  // the write's entry; without it nothing is sent (no question)

 private:
  SettingsWords written_{};
};

// A settings file: exactly the 48 bytes of a record. The window takes a short file over the
// record it has; a script has none, so anything but a whole record is refused.
bool LoadWholeFile(const std::string& path, SettingsWords& record) {
  std::array<uint8_t, kSettingsFileSize + 1> bytes{};
  size_t got = 0;
  FileError error;
  if (!ReadFileStart(path, bytes, got, error)) {
    Say("bad file: " + path + ": " + FileErrorText(error));
    return false;
  }
  if (got != kSettingsFileSize) {
    Say("bad file: " + path + ": a settings file has exactly " + std::to_string(kSettingsFileSize) +
        " bytes, this one " + (got > kSettingsFileSize ? "more" : std::to_string(got)));
    return false;
  }
  ApplySettingsFileBytes(std::span<const uint8_t>(bytes.data(), got), record);
  return true;
}

// The message of a read that failed with `result`.
Exit ReadFailed(Exit result, const char* what) {
  Say(std::string(result == Exit::Refused ? "refused by the relay: " : "communication error: ") +
      what);
  return result;
}

// Reads the relay's settings into page.record.
Exit ReadRelay(RelayLink& relay, ParameterPage& page, const char* what) {
  page.result = Exit::Communication;
  if (const Exit served = relay.Serve(page.readRequest, [&page] { page.readRequest.Post(); });
      served != Exit::Ok)
    return served;
  return page.result == Exit::Ok ? Exit::Ok : ReadFailed(page.result, what);
}

// The check's lines on standard output; each row outside also on standard error. Exit code 1
// when a row is outside.
Exit PrintCheck(const GridProfile& profile, const SettingsWords& record,
                const FirmwareFeatures& firmware) {
  std::string text = "profile: " + profile.name + "\nsource: " + profile.source + "\n" +
                     TimeScaleLine(firmware) + "\n";
  size_t outside = 0;
  for (const RowCheck& check : CheckSettings(profile, record, firmware)) {
    const std::string name(check.row->parameter->name);
    const char* verdict = check.verdict == RowVerdict::Inside    ? "ok"
                          : check.verdict == RowVerdict::Outside ? "OUTSIDE"
                                                                 : "not checked";
    text += Column(name, 9) + Column(check.valueText, 20) + Column(check.rangeText, 18) + verdict +
            "\n";
    if (check.verdict == RowVerdict::Outside) {
      ++outside;
      Say(name + " " + check.valueText + " is outside " + check.rangeText);
    }
  }
  Print(text);
  if (outside == 0) return Exit::Ok;
  Say(std::to_string(outside) + (outside == 1 ? " row is" : " rows are") + " outside " +
      profile.name);
  return Exit::Differs;
}

// settings check PROFILE [FILE]: the file's record at --firmware's or the relay's time scale,
// else the relay's own settings.
Exit RunCheck(const Invocation& invocation) {
  const std::optional<ParsedProfile> parsed = ProfileOf(invocation.profile);
  if (!parsed) return Exit::BadFile;
  const GridProfile& profile = parsed->profile;
  SettingsWords file{};
  const bool fromFile = !invocation.file.empty();
  if (fromFile && !LoadWholeFile(invocation.file, file)) return Exit::BadFile;
  if (fromFile && invocation.firmware >= 0)
    return PrintCheck(profile, file, FirmwareFeaturesOf(invocation.firmware));

  ParameterPage page;  // outlives the relay's worker, which serves its requests
  RelayLink relay(invocation);
  page.session = &relay.Session();
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) {
    if (fromFile)
      Say("without a relay, give its firmware number: settings check PROFILE FILE --firmware N");
    return connected;
  }
  const FirmwareFeatures& firmware = relay.Session().firmware;
  if (fromFile) return PrintCheck(profile, file, firmware);
  relay.Start(page.Requests());
  if (const Exit read = ReadRelay(relay, page, "reading the settings"); read != Exit::Ok)
    return read;
  return PrintCheck(profile, page.record, firmware);
}

}  // namespace

std::optional<ParsedProfile> ProfileOf(const std::string& name) {
  std::vector<std::string> tried;
  const std::optional<std::string> path = FindGridProfile(name, ProfileFolders(), tried);
  if (!path) {
    std::string looked;
    for (const std::string& t : tried) looked += (looked.empty() ? "" : ", ") + t;
    Say("bad file: no profile " + name + " (looked for " + looked + ")");
    return std::nullopt;
  }
  ParsedProfile parsed = LoadGridProfile(*path);
  if (parsed.fileError.problem != FileProblem::None) {
    Say("bad file: " + *path + ": " + FileErrorText(parsed.fileError));
    return std::nullopt;
  }
  if (parsed.tooLarge) {
    Say("bad file: " + *path + ": larger than " + std::to_string(kMaxProfileBytes) +
        " bytes, no profile");
    return std::nullopt;
  }
  for (const std::string& error : parsed.errors) Say(error);
  if (!parsed.Ok()) {
    Say("bad profile: " + *path + ": " + std::to_string(parsed.errors.size()) +
        (parsed.errors.size() == 1 ? " error" : " errors") + ", nothing checked");
    return std::nullopt;
  }
  return parsed;
}

Exit WriteSettingsRecord(const Invocation& invocation, SettingsWords file,
                         const std::string& source, const JournalText& description,
                         const std::function<Exit(const RelaySession&, SettingsWords&)>& prepare) {
  ParameterPage page;  // outlives the relay's worker, which serves its requests
  RelayLink relay(invocation);
  page.session = &relay.Session();
  page.description = description;
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  if (prepare) {
    if (const Exit ready = prepare(relay.Session(), file); ready != Exit::Ok) return ready;
  }
  const FirmwareFeatures& firmware = relay.Session().firmware;
  relay.Start(page.Requests());
  // The write reads the settings back itself: Ok when equal, Differs with page.record
  // holding the relay's, Unknown when the read-back failed.
  page.result = Exit::Communication;
  page.outcome = Outcome::CommunicationError;
  const Exit served = relay.Serve(page.writeRequest, [&] { page.writeRequest.Post(file); });
  if (!page.journal.openError.empty()) {
    Say("bad file: journal: " + page.journal.openError +
        "; nothing written (the backup of the relay's settings must be kept first)");
    return Exit::BadFile;
  }
  if (!page.journal.closeError.empty())
    Say("bad file: journal: " + page.journal.closeError + " (the entry stays pending)");
  if (served != Exit::Ok) return served;
  if (const std::optional<Exit> held = relay.HeldBack(page.outcome, "the settings")) return *held;
  if (page.outcome == Outcome::CommunicationError) {
    // Nothing that changes the relay went out whole, or the relay refused the first block.
    Say(std::string(page.result == Exit::Refused ? "refused by the relay" : "communication error") +
        ": writing the settings; nothing was written");
    return page.result;
  }
  if (page.outcome == Outcome::Unknown && !page.outcome.acknowledged) {
    Say(std::string(page.result == Exit::Refused ? "refused by the relay" : "communication error") +
        ": writing the settings, no valid acknowledgement (the relay may hold all or a part of "
        "them: read them back)");
    return page.result;
  }
  relay.SayIfInterruptedLate("the settings");
  if (page.outcome == Outcome::Unknown) return ReadFailed(page.result, "reading the settings back");
  if (page.outcome == Outcome::Differs) {
    Print(DiffTable(file, page.record, firmware, source, "relay"));
    Say("refused by the relay: the settings read back differ from " + source);
    return Exit::Refused;
  }
  Say("settings written from " + source + ", read back and equal");
  return Exit::Ok;
}

Exit RunSettings(const Invocation& invocation) {
  if (invocation.command == Command::SettingsCheck) return RunCheck(invocation);
  SettingsWords file{};
  if (invocation.command != Command::SettingsRead && !LoadWholeFile(invocation.file, file))
    return Exit::BadFile;
  if (invocation.command == Command::SettingsShow && invocation.firmware >= 0) {
    const FirmwareFeatures firmware = FirmwareFeaturesOf(invocation.firmware);
    Print(TimeScaleLine(firmware) + "\n" + SettingsTable(file, firmware));
    return Exit::Ok;
  }

  if (invocation.command == Command::SettingsWrite)
    return WriteSettingsRecord(invocation, file, invocation.file,
                               Keyed("settings-ctl", {"nx480ctl settings write"}));
  ParameterPage page;  // outlives the relay's worker, which serves its requests
  RelayLink relay(invocation);
  page.session = &relay.Session();
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) {
    if (invocation.command == Command::SettingsShow)
      Say("without a relay, give its firmware number: settings show FILE --firmware N");
    return connected;
  }
  const FirmwareFeatures& firmware = relay.Session().firmware;
  if (invocation.command == Command::SettingsShow) {
    Print(TimeScaleLine(firmware) + "\n" + SettingsTable(file, firmware));
    return Exit::Ok;
  }
  relay.Start(page.Requests());

  switch (invocation.command) {
    case Command::SettingsRead: {
      if (const Exit read = ReadRelay(relay, page, "reading the settings"); read != Exit::Ok)
        return read;
      FileError error;
      if (!SaveSettingsFile(invocation.file, page.record, error)) {
        Say("bad file: " + invocation.file + ": " + FileErrorText(error));
        return Exit::BadFile;
      }
      Say("settings read into " + invocation.file + " (firmware " + std::to_string(firmware.minor) +
          ")");
      return Exit::Ok;
    }
    case Command::SettingsDiff: {
      if (const Exit read = ReadRelay(relay, page, "reading the settings"); read != Exit::Ok)
        return read;
      const std::string differences =
          DiffTable(page.record, file, firmware, "relay", invocation.file);
      if (differences.empty()) {
        Say("the relay's settings equal " + invocation.file);
        return Exit::Ok;
      }
      Print(TimeScaleLine(firmware) + "\n" + differences);
      const size_t rows = DifferingRows(page.record, file).size();
      Say(std::to_string(rows) + (rows == 1 ? " row differs" : " rows differ"));
      return Exit::Differs;
    }
    default:
      return Exit::Usage;
  }
}

namespace {

std::string ParseSettings(const CommandWords& given, Invocation& inv) {
  const std::vector<std::string>& words = given.words;
  static const std::map<std::string, Command> subcommands = {{"read", Command::SettingsRead},
                                                             {"write", Command::SettingsWrite},
                                                             {"show", Command::SettingsShow},
                                                             {"diff", Command::SettingsDiff},
                                                             {"check", Command::SettingsCheck}};
  if (words.empty()) return "settings needs read, write, show, diff or check and a file";
  const auto sub = subcommands.find(words[0]);
  if (sub == subcommands.end()) return "unknown settings command '" + words[0] + "'";
  inv.command = sub->second;
  if (inv.command == Command::SettingsCheck) {
    if (words.size() < 2) return "settings check needs a profile (a file or a profile's name)";
    if (words.size() > 3) return "unexpected argument '" + words[3] + "'";
    inv.profile = words[1];
    if (words.size() == 3) inv.file = words[2];
  } else {
    if (words.size() < 2) return "settings " + words[0] + " needs a file (FILE.nx4)";
    if (words.size() > 2) return "unexpected argument '" + words[2] + "'";
    inv.file = words[1];
  }
  if (given.Has("--firmware")) {
    if (inv.command != Command::SettingsShow && inv.command != Command::SettingsCheck)
      return "--firmware goes with settings show and settings check only";
    if (inv.file.empty())
      return "--firmware goes with a file: settings check PROFILE FILE.nx4 --firmware N";
    const std::optional<int> firmware = WholeNumber(given.Value("--firmware"), 0, 99);
    if (!firmware) return "--firmware takes the firmware number, 0 to 99 (1.14.d: 14)";
    inv.firmware = *firmware;
  }
  return "";
}

}  // namespace

const CommandRow kSettingsCommandRow = {
    .name = "settings",
    .options = {{"--firmware", true}},
    .parse = ParseSettings,
    .run = RunSettings,
    .overview = {{"settings read|write FILE.nx4", "protection settings to or from a settings file"},
                 {"settings show|diff FILE.nx4", "a settings file decoded, or against the relay"},
                 {"settings check PROFILE", "the settings against a grid-code profile"}},
    .help =
        "Usage: nx480ctl settings read FILE.nx4\n"
        "       nx480ctl settings write FILE.nx4\n"
        "       nx480ctl settings show FILE.nx4 [--firmware N]\n"
        "       nx480ctl settings diff FILE.nx4\n"
        "       nx480ctl settings check PROFILE [FILE.nx4] [--firmware N]\n"
        "\n"
        "The protection settings and the 48-byte settings file of the settings window.\n"
        "\n"
        "  read   reads the relay's settings into FILE (replaced whole, or left as it was)\n"
        "  write  keeps the relay's settings in the change journal (exit code 5 and\n"
        "         nothing written when it cannot), writes FILE into the relay, reads the\n"
        "         settings back and compares them; rows the relay did not take are listed\n"
        "         (exit code 6)\n"
        "  show   prints the file's values with their units; delays at the time scale of\n"
        "         the connected relay's firmware, or of --firmware N without a relay\n"
        "  diff   compares the relay with FILE row by row; exit code 0 only when they are\n"
        "         equal, 1 when they differ\n"
        "  check  checks the relay's settings (or FILE's, delays at the time scale of\n"
        "         --firmware N or of the connected relay) against the grid-code profile\n"
        "         PROFILE: one line per row it names, with the value, the range allowed\n"
        "         and ok or OUTSIDE; a row the firmware does not have is not checked.\n"
        "         Exit code 0 when every row is inside, 1 when one is outside (named on\n"
        "         standard error too), 5 for a bad profile (every bad line as\n"
        "         FILE:LINE: what) or a bad file. PROFILE is a path, else a name looked\n"
        "         up as NAME or NAME.txt in $XDG_CONFIG_HOME/nx480-pc/profiles (else\n"
        "         ~/.config/nx480-pc/profiles), then in the installed profiles\n"
        "\n"
        "A file must be exactly 48 bytes (exit code 5 otherwise). A profile is a UTF-8\n"
        "text: a name: line, a source: line, and rows NAME LOWEST HIGHEST UNIT\n"
        "(Uu1 184 253 V, Uu2 80 80 %, Fu1 47.5 47.5 Hz, tUu1 3.0 3.0 s, Faze 1 1 -);\n"
        "\"#\" starts a comment.\n",
};

}  // namespace nx480::ctl
