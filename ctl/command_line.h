// nx480ctl's command line: what the user asked for, parsed without touching the relay, and the
// help texts, both as the command table (command_table.h) has them. Plain C++.
//
//   nx480ctl [--port DEVICE | --demo] [--trace] [--service] COMMAND [ARGUMENTS]
//
// The global options may stand anywhere on the line; "--" ends the options (a file name that
// begins with "-" then follows it).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace nx480::ctl {

struct CommandRow;

// Which of the commands and their forms the line asked for.
enum class Command {
  Help,
  Version,
  Identify,
  Live,
  SettingsRead,
  SettingsWrite,
  SettingsShow,
  SettingsDiff,
  SettingsCheck,
  Clock,
  Relay,
  Calibration,
  CalibrationSet,
  ClearHistory,
  History,
  Upload,
  JournalList,
  JournalShow,
  JournalRestore,
  Report,
};

struct Invocation {
  Command command = Command::Help;
  const CommandRow* row = nullptr;  // the command's row in the table; nullptr: Help or Version
  std::string helpTopic;  // Help: "" for the overview, else a command ("settings", "live", ...)

  // Global options.
  std::string port;   // --port DEVICE: only this device, instead of the search
  bool demo = false;  // --demo: the demo relay inside the program, instead of the serial ports
  bool trace = false;
  bool service = false;

  // Command arguments.
  std::string file;           // settings FILE, history --csv FILE, upload IMAGE, report FILE.pdf
  bool stream = false;        // live --stream
  int count = 0;              // live --count N (0: without end)
  bool csv = false;           // live --csv: the recording's lines
  bool csvSemicolon = false;  // live --csv-semicolon: the window's numbers, ";" after each
  bool tenths = false;        // live --tenths
  bool record = false;        // live --record
  int firmware = -1;          // settings show|check --firmware N (-1: ask the relay)
  std::string profile;     // settings check PROFILE, report --profile: a path, or a profile's name
  std::string technician;  // report --technician NAME
  std::string site;        // report --site TEXT
  std::string language;    // report --lang: "cs" or "en", empty for the locale's
  bool setClock = false;
  int relayMode = 0;       // relay: the RelayCommand value, 1 automatic, 2 forced on, 3 forced off
  bool hold = false;       // relay on|off --hold
  bool utf8 = false;       // history --utf8
  bool checkOnly = false;  // upload --check
  // calibration set NAME=VALUE ...: KalU1, KalU2, KalU3, KalF, serial
  std::vector<std::pair<std::string, std::string>> assignments;
  bool allRelays = false;   // journal list --all
  std::string entryId;      // journal show|restore ID: the entry's folder name, or SERIAL/ID
  bool otherRelay = false;  // journal restore --other-relay
  bool withSerial = false;  // journal restore --with-serial (with --service)
};

struct ParsedLine {
  Invocation invocation;
  std::string error;  // empty when the line is good
  bool Ok() const { return error.empty(); }
};

// `arguments` without the program name.
ParsedLine ParseCommandLine(const std::vector<std::string>& arguments);

// The help of a command ("settings", "live", ...), or the overview for "" and any other name.
std::string HelpText(const std::string& topic);

// The commands that have a help of their own.
const std::vector<std::string>& CommandNames();

}  // namespace nx480::ctl
