#include "command_line.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>

namespace nx480::ctl {

namespace {

// An option of a command: its name and whether a value follows it.
struct OptionForm {
  const char* name;
  bool takesValue;
};

struct CommandForm {
  const char* name;
  std::vector<OptionForm> options;
};

const std::vector<CommandForm>& Commands() {
  static const std::vector<CommandForm> commands = {
      {"identify", {}},
      {"live",
       {{"--stream", false},
        {"--count", true},
        {"--csv", false},
        {"--csv-semicolon", false},
        {"--tenths", false},
        {"--record", false}}},
      {"settings", {{"--firmware", true}}},
      {"clock", {{"--set", false}}},
      {"relay", {{"--hold", false}}},
      {"calibration", {}},
      {"history", {{"--csv", true}, {"--utf8", false}}},
      {"upload", {{"--check", false}}},
      {"journal", {{"--all", false}, {"--other-relay", false}, {"--with-serial", false}}},
      {"report", {{"--profile", true}, {"--technician", true}, {"--site", true}, {"--lang", true}}},
  };
  return commands;
}

const CommandForm* FindCommand(const std::string& name) {
  for (const CommandForm& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

const OptionForm* FindOption(const CommandForm& command, const std::string& name) {
  for (const OptionForm& o : command.options)
    if (name == o.name) return &o;
  return nullptr;
}

std::optional<int> WholeNumber(const std::string& text, int min, int max) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || stop != end || value < min || value > max) return std::nullopt;
  return value;
}

constexpr const char* kCalibrationNames[] = {"KalU1", "KalU2", "KalU3", "KalF", "serial"};

// Builds the invocation of `command` from its words and options; an error text, or "".
std::string BuildCommand(const std::string& command, const std::vector<std::string>& words,
                         const std::map<std::string, std::string>& options, Invocation& inv) {
  auto has = [&](const char* name) { return options.count(name) != 0; };
  auto wordCount = [&](size_t n, const char* what) -> std::string {
    if (words.size() < n) return std::string("missing ") + what;
    if (words.size() > n) return "unexpected argument '" + words[n] + "'";
    return "";
  };

  if (command == "identify") {
    inv.command = Command::Identify;
    return wordCount(0, "");
  }
  if (command == "live") {
    inv.command = Command::Live;
    inv.stream = has("--stream");
    inv.csv = has("--csv");
    inv.csvSemicolon = has("--csv-semicolon");
    if (inv.csv && inv.csvSemicolon) return "--csv and --csv-semicolon exclude each other";
    inv.tenths = has("--tenths");
    inv.record = has("--record");
    if (has("--count")) {
      const std::optional<int> count = WholeNumber(options.at("--count"), 1, 1000000000);
      if (!count) return "--count takes a whole number of snapshots, 1 or more";
      inv.count = *count;
      inv.stream = true;
    }
    return wordCount(0, "");
  }
  if (command == "settings") {
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
    if (has("--firmware")) {
      if (inv.command != Command::SettingsShow && inv.command != Command::SettingsCheck)
        return "--firmware goes with settings show and settings check only";
      if (inv.file.empty())
        return "--firmware goes with a file: settings check PROFILE FILE.nx4 --firmware N";
      const std::optional<int> firmware = WholeNumber(options.at("--firmware"), 0, 99);
      if (!firmware) return "--firmware takes the firmware number, 0 to 99 (1.14.d: 14)";
      inv.firmware = *firmware;
    }
    return "";
  }
  if (command == "clock") {
    inv.command = Command::Clock;
    inv.setClock = has("--set");
    return wordCount(0, "");
  }
  if (command == "relay") {
    inv.command = Command::Relay;
    if (const std::string error = wordCount(1, "relay mode (auto, on or off)"); !error.empty())
      return error;
    static const std::map<std::string, int> modes = {{"auto", 1}, {"on", 2}, {"off", 3}};
    const auto mode = modes.find(words[0]);
    if (mode == modes.end()) return "relay mode must be auto, on or off, not '" + words[0] + "'";
    inv.relayMode = mode->second;
    inv.hold = has("--hold");
    if (inv.hold && inv.relayMode == 1) return "--hold goes with relay on or off";
    return "";
  }
  if (command == "calibration") {
    const std::string sub = words.empty() ? "show" : words[0];
    if (sub == "show") {
      inv.command = Command::Calibration;
      return words.size() > 1 ? "unexpected argument '" + words[1] + "'" : "";
    }
    if (sub == "clear-history") {
      inv.command = Command::ClearHistory;
      return words.size() > 1 ? "unexpected argument '" + words[1] + "'" : "";
    }
    if (sub != "set") return "unknown calibration command '" + sub + "'";
    inv.command = Command::CalibrationSet;
    if (words.size() < 2)
      return "calibration set needs NAME=VALUE (KalU1, KalU2, KalU3, KalF, serial)";
    for (size_t i = 1; i < words.size(); ++i) {
      const size_t equals = words[i].find('=');
      const std::string name = words[i].substr(0, equals);
      if (equals == std::string::npos ||
          std::find(std::begin(kCalibrationNames), std::end(kCalibrationNames), name) ==
              std::end(kCalibrationNames))
        return "'" + words[i] + "' is not NAME=VALUE with NAME KalU1, KalU2, KalU3, KalF or serial";
      for (const auto& [seen, value] : inv.assignments)
        if (seen == name) return name + " is given twice";
      inv.assignments.emplace_back(name, words[i].substr(equals + 1));
    }
    return "";
  }
  if (command == "history") {
    inv.command = Command::History;
    if (has("--csv")) inv.file = options.at("--csv");
    inv.utf8 = has("--utf8");
    return wordCount(0, "");
  }
  if (command == "upload") {
    inv.command = Command::Upload;
    inv.checkOnly = has("--check");
    if (const std::string error = wordCount(1, "firmware image (IMAGE.bn6)"); !error.empty())
      return error;
    inv.file = words[0];
    return "";
  }
  if (command == "journal") {
    if (words.empty()) return "journal needs list, show or restore";
    if (words[0] == "list") {
      inv.command = Command::JournalList;
      inv.allRelays = has("--all");
      if (has("--other-relay")) return "--other-relay goes with journal restore only";
      if (has("--with-serial")) return "--with-serial goes with journal restore only";
      return words.size() > 1 ? "unexpected argument '" + words[1] + "'" : "";
    }
    if (words[0] != "show" && words[0] != "restore")
      return "unknown journal command '" + words[0] + "'";
    inv.command = words[0] == "show" ? Command::JournalShow : Command::JournalRestore;
    if (has("--all")) return "--all goes with journal list only";
    inv.otherRelay = has("--other-relay");
    if (inv.otherRelay && inv.command != Command::JournalRestore)
      return "--other-relay goes with journal restore only";
    inv.withSerial = has("--with-serial");
    if (inv.withSerial && inv.command != Command::JournalRestore)
      return "--with-serial goes with journal restore only";
    if (words.size() < 2)
      return "journal " + words[0] + " needs an entry's ID (journal list gives them)";
    if (words.size() > 2) return "unexpected argument '" + words[2] + "'";
    inv.entryId = words[1];
    return "";
  }
  if (command == "report") {
    inv.command = Command::Report;
    if (has("--profile")) {
      inv.profile = options.at("--profile");
      if (inv.profile.empty()) return "--profile needs a profile (a file or a profile's name)";
    }
    if (has("--technician")) inv.technician = options.at("--technician");
    if (has("--site")) inv.site = options.at("--site");
    if (has("--lang")) {
      inv.language = options.at("--lang");
      if (inv.language != "cs" && inv.language != "en") return "--lang takes cs or en";
    }
    if (words.empty()) return "report needs a file (FILE.pdf)";
    if (words.size() > 1) return "unexpected argument '" + words[1] + "'";
    inv.file = words[0];
    return "";
  }
  return "unknown command '" + command + "'";
}

}  // namespace

const std::vector<std::string>& CommandNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const CommandForm& c : Commands()) list.emplace_back(c.name);
    return list;
  }();
  return names;
}

ParsedLine ParseCommandLine(const std::vector<std::string>& arguments) {
  ParsedLine parsed;
  Invocation& inv = parsed.invocation;
  std::string command;
  const CommandForm* form = nullptr;
  std::vector<std::string> words;
  std::map<std::string, std::string> options;
  bool help = false;
  bool version = false;
  bool endOfOptions = false;

  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (!endOfOptions && arg == "--") {
      endOfOptions = true;
      continue;
    }
    if (endOfOptions || arg.size() < 2 || arg[0] != '-') {
      if (command.empty()) {
        command = arg;
        form = FindCommand(arg);
        if (!form) {
          parsed.error = "unknown command '" + arg + "'";
          return parsed;
        }
      } else {
        words.push_back(arg);
      }
      continue;
    }
    // "--name=value" or "--name" [value].
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const bool inlineValue = equals != std::string::npos;
    auto value = [&](std::string& into) {
      if (inlineValue) {
        into = arg.substr(equals + 1);
        return true;
      }
      if (i + 1 >= arguments.size()) {
        parsed.error = name + " needs a value";
        return false;
      }
      into = arguments[++i];
      return true;
    };
    auto flag = [&](bool& into) {
      if (inlineValue) {
        parsed.error = name + " takes no value";
        return false;
      }
      into = true;
      return true;
    };

    bool good = true;
    if (name == "--help" || name == "-h") {
      good = flag(help);
    } else if (name == "--version") {
      good = flag(version);
    } else if (name == "--trace") {
      good = flag(inv.trace);
    } else if (name == "--service") {
      good = flag(inv.service);
    } else if (name == "--port") {
      good = value(inv.port);
      if (good && inv.port.empty()) {
        parsed.error = "--port needs a device, e.g. /dev/ttyUSB0";
        good = false;
      }
    } else if (const OptionForm* option = form ? FindOption(*form, name) : nullptr) {
      std::string text;
      bool set = false;
      good = option->takesValue ? value(text) : flag(set);
      options[name] = text;
    } else {
      parsed.error = form ? "unknown option " + name + " for " + command : "unknown option " + name;
      return parsed;
    }
    if (!good) return parsed;
  }

  if (help) {
    inv.command = Command::Help;
    inv.helpTopic = command;
    return parsed;
  }
  if (command.empty()) {
    if (version) {
      inv.command = Command::Version;
    } else {
      parsed.error = "no command given";
    }
    return parsed;
  }
  parsed.error = BuildCommand(command, words, options, inv);
  if (parsed.Ok() &&
      (inv.command == Command::Calibration || inv.command == Command::CalibrationSet ||
       inv.command == Command::ClearHistory) &&
      !inv.service)
    parsed.error = "calibration is a service command: add --service";
  if (parsed.Ok() && inv.withSerial && !inv.service)
    parsed.error = "--with-serial writes a serial number, a service change: add --service";
  return parsed;
}

std::string HelpText(const std::string& topic) {
  if (topic == "identify") {
    return "Usage: nx480ctl [--port DEVICE] identify\n"
           "\n"
           "Finds the relay and prints its port, identification (as the relay sends it),\n"
           "firmware number, temperature variant and serial number.\n";
  }
  if (topic == "live") {
    return "Usage: nx480ctl live [--stream | --count N] [--csv | --csv-semicolon] [--tenths]\n"
           "                     [--record]\n"
           "\n"
           "One snapshot of the live values: U1-U3, the frequency, the reconnection\n"
           "countdown, the 10-minute averages, the temperature and the protection stages\n"
           "that are picked up or tripped. Numbers as the live values window shows them\n"
           "(decimal comma).\n"
           "\n"
           "  --stream    a snapshot at the window's rate (every 200 ms) until Ctrl-C\n"
           "  --count N   N snapshots at that rate, then end\n"
           "  --csv       the recording's CSV: its header line, then a line per snapshot\n"
           "              as the recording's day files hold them (ISO 8601 time with the\n"
           "              UTC offset, \",\" between the cells, a decimal point, tenths\n"
           "              where the firmware has them, 0/1 per stage); a snapshot that\n"
           "              failed is its time and empty cells\n"
           "  --csv-semicolon  the former --csv: \";\" after every cell, CR LF, the\n"
           "              window's numbers (decimal comma), the local time without offset\n"
           "  --tenths    voltages in tenths of a volt where the firmware has them\n"
           "              (x.11 and later; always on with --service)\n"
           "  --record    keep every good snapshot in the relay's recording as the live\n"
           "              values window does (a CSV file per day under\n"
           "              $XDG_DATA_HOME/nx480-pc/recordings/SERIAL/)\n"
           "\n"
           "Exit code 4 when a snapshot failed (its values are empty), 5 when the\n"
           "recording stopped (a full disk: the snapshots go on).\n";
  }
  if (topic == "settings") {
    return "Usage: nx480ctl settings read FILE.nx4\n"
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
           "\"#\" starts a comment.\n";
  }
  if (topic == "clock") {
    return "Usage: nx480ctl clock [--set]\n"
           "\n"
           "Prints the relay's clock beside the PC's and the difference in seconds.\n"
           "\n"
           "  --set   sets the relay's clock to the PC's local time (20 ms ahead, for the\n"
           "          way to the relay) and prints the time sent; the relay's and the PC's\n"
           "          time are kept in the change journal first (exit code 5, nothing sent,\n"
           "          when they cannot be), the offset that remains after\n";
  }
  if (topic == "relay") {
    return "Usage: nx480ctl relay auto|on|off [--hold]\n"
           "\n"
           "Sends the relay mode: automatic operation, or the output relay forced on or\n"
           "off (firmware x.14 and later). The settings window does not look at the\n"
           "relay's answer; nx480ctl reports a missing or wrong one (exit status 4, or 6\n"
           "for an exception reply).\n"
           "\n"
           "  --hold  sends a forced state again every 4 s, as the settings window does,\n"
           "          until Ctrl-C, SIGTERM or SIGHUP, then sends auto (as the window does\n"
           "          when it disconnects): a forced output never outlives the command\n"
           "\n"
           "Each mode sent leaves a change journal entry; on and off are refused (exit\n"
           "code 5, nothing sent) when it cannot be written, auto is sent anyway.\n";
  }
  if (topic == "calibration") {
    return "Usage: nx480ctl --service calibration [show]\n"
           "       nx480ctl --service calibration set NAME=VALUE ...\n"
           "       nx480ctl --service calibration clear-history\n"
           "\n"
           "Service commands (they need --service, as the window's \"Kalibrace\" page needs\n"
           "service mode).\n"
           "\n"
           "  show           the calibration factors KalU1-KalU3 and KalF and the serial\n"
           "                 number\n"
           "  set            writes the named values (KalU1, KalU2, KalU3 e.g. 1.002, KalF\n"
           "                 e.g. 1.0001, serial e.g. 1234), keeps the others, reads back\n"
           "  clear-history  empties the relay's event history with the access code;\n"
           "                 exit code 6 when the relay refuses it\n"
           "\n"
           "set keeps the calibration block, clear-history the whole event history (as\n"
           "history --csv writes it; nothing is cleared when it cannot be read to its end),\n"
           "in the change journal first: exit code 5 and nothing sent when it cannot.\n"
           "clear-history counts the records read on standard error while it is a terminal.\n";
  }
  if (topic == "history") {
    return "Usage: nx480ctl history [--csv FILE] [--utf8]\n"
           "\n"
           "Reads the relay's event history, newest event first, and writes the history\n"
           "window's export: a title line, every cell followed by \";\", lines ended by\n"
           "CR LF, dates and times in the user's regional formats.\n"
           "\n"
           "  --csv FILE  the file to write (replaced whole, or left as it was); without it\n"
           "              the export goes to standard output\n"
           "  --utf8      UTF-8 instead of the window's Windows-1250 (the default for a file;\n"
           "              standard output is always UTF-8)\n"
           "\n"
           "Nothing is written when the history cannot be read to its end (exit code 4),\n"
           "or when Ctrl-C stops it after the record in progress (exit code 130; it says\n"
           "how many records were read). The records read are counted on standard error\n"
           "while it is a terminal.\n";
  }
  if (topic == "upload") {
    return "Usage: nx480ctl upload IMAGE.bn6 [--check]\n"
           "\n"
           "Checks a firmware image (length, every block's address and CRC) and uploads it\n"
           "into the relay: Start, eight data frames per block (a frame whose reply is bad\n"
           "is sent once more), Status, Run; then the relay restarts and is identified\n"
           "again. A progress bar on a terminal, a line every 10 % otherwise. Ctrl-C (or\n"
           "SIGTERM, SIGHUP) ends the upload after the block in progress and tells the\n"
           "relay to cancel, or stops waiting for the restarted relay; a second one ends it\n"
           "at once, the Cancel still sent. An output nobody reads any more does not end it.\n"
           "\n"
           "  --check   only checks the image; no relay needed\n"
           "\n"
           "The relay's identification, settings and (with --service) calibration are kept\n"
           "in the change journal before Start (exit code 5, nothing sent, when they cannot\n"
           "be). Settings that the new firmware changed are listed afterwards with the\n"
           "journal restore command that writes the saved ones back.\n"
           "\n"
           "Exit code 5 for a bad image, 6 when the relay refuses a frame.\n";
  }
  if (topic == "report") {
    return "Usage: nx480ctl report FILE.pdf [--profile PROFILE] [--technician NAME]\n"
           "                       [--site TEXT] [--lang cs|en]\n"
           "\n"
           "The commissioning record as a PDF (A4; in Czech, or in English where the locale\n"
           "is neither Czech, Slovak nor C, as the windows choose): site, technician, date and\n"
           "time, the PC and this program's version; the relay's identification, serial\n"
           "number, firmware, temperature variant and port; its clock against the PC's;\n"
           "every settings row with its value (and % of 230 V); the calibration factors\n"
           "(with --service); the newest 100 events, newest first; this relay's change\n"
           "journal entries of the last 24 hours; the SHA-256 of the settings as a settings\n"
           "file holds them (what sha256sum prints for the file of settings read); and\n"
           "lines for the technician's and the operator's signature.\n"
           "\n"
           "  --profile PROFILE   each settings row with the profile's range and verdict\n"
           "                      (a file, or a profile's name as settings check takes it)\n"
           "  --technician NAME   the technician's name\n"
           "  --site TEXT         where the relay is installed\n"
           "  --lang cs|en        the record's language, whatever the locale\n"
           "\n"
           "The parts read are shown on standard error while it is a terminal. Nothing\n"
           "is written unless the whole record was read; an existing file is\n"
           "replaced whole. Exit code 1 when a row is outside the profile (the record is\n"
           "written), 4 when the relay stops answering (the part that failed is named),\n"
           "5 for a bad profile (nothing read) or a file that cannot be written.\n";
  }
  if (topic == "journal") {
    return "Usage: nx480ctl journal list [--all]\n"
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
           "and for a damaged entry, 2 for an ID that is no entry's.\n";
  }
  return "Usage: nx480ctl [--port DEVICE] [--trace] [--service] COMMAND [ARGUMENTS]\n"
         "       nx480ctl COMMAND --help\n"
         "\n"
         "Command-line companion of nx480-pc for scripted service work on an NX480 relay.\n"
         "\n"
         "Commands:\n"
         "  identify                      the relay's identification and serial number\n"
         "  live [--stream] [--csv]       live values, once or at the window's rate\n"
         "  settings read|write FILE.nx4  protection settings to or from a settings file\n"
         "  settings show|diff FILE.nx4   a settings file decoded, or against the relay\n"
         "  settings check PROFILE        the settings against a grid-code profile\n"
         "  clock [--set]                 the relay's clock; set it to the PC's time\n"
         "  relay auto|on|off             the relay mode (firmware x.14 and later)\n"
         "  calibration [set|clear-history]  calibration factors (with --service)\n"
         "  history [--csv FILE]          the event history as the window exports it\n"
         "  upload IMAGE.bn6              firmware upload\n"
         "  journal list [--all]          the changes made to the relay, newest first\n"
         "  journal show ID               one change: its record and what it replaced\n"
         "  journal restore ID            write back what a change replaced\n"
         "  report FILE.pdf               the commissioning record as a PDF\n"
         "\n"
         "Options:\n"
         "  --port DEVICE  use this serial device only; without it the ports are searched\n"
         "                 as the window searches them (NX480_PORTS, else the USB adapters\n"
         "                 and the built-in ports present). NX480_PORTS is colon-separated;\n"
         "                 a colon separates only before a path that begins with /, so\n"
         "                 names under /dev/serial/by-path/ (which hold colons) can be given.\n"
         "                 On Windows DEVICE is COM5 (or \\\\.\\COM12), the search tries the\n"
         "                 COM ports present, and NX480_PORTS is semicolon-separated\n"
         "  --trace        every frame on the line to standard error (the frame log of\n"
         "                 nx480-pc, logging category nx480.link.frames)\n"
         "  --service      service mode (calibration; the live values in tenths)\n"
         "  --help, -h     this text, or a command's with COMMAND --help\n"
         "  --version      the program's version\n"
         "\n"
         "Files written: a FIFO or character device in place (a FIFO's reader must be\n"
         "there already), a link to a file replaces the file; nothing else is replaced.\n"
         "\n"
         "Exit codes:\n"
         "  0 done   1 settings differ, or outside a profile   2 bad command line\n"
         "  3 no relay   4 communication error\n"
         "  5 bad file or profile, or standard output not written whole\n"
         "  6 refused by the relay   7 change made or not, its journal entry not closed\n"
         "  130 interrupted\n"
         "\n"
         "Ctrl-C, SIGTERM and SIGHUP stop the command cleanly (an upload is cancelled) and\n"
         "nothing more is sent to the relay; a second one ends the program at once.\n"
         "Progress goes to standard error while it is a terminal, messages always.\n";
}

}  // namespace nx480::ctl
