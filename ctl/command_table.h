// nx480ctl's command table: a row per command with its name, options, the parse of its words,
// its run and its help. The overview, a command's help, the parse of the line and the dispatch
// all walk this one table. Each row stands beside its run in ctl/<name>_command.cpp.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "exit_code.h"

namespace nx480::ctl {

// An option of a command: its name and whether a value follows it.
struct OptionForm {
  const char* name;
  bool takesValue;
};

// What the line gave a command: its words (the arguments that are no option, after the
// command's name) and its options by name, with their values ("" for an option without one).
struct CommandWords {
  const std::vector<std::string>& words;
  const std::map<std::string, std::string>& options;

  bool Has(const char* option) const { return options.count(option) != 0; }
  const std::string& Value(const char* option) const { return options.at(option); }
  // "" when there are exactly `n` words, else what is missing or the first one too many.
  std::string Count(size_t n, const char* what) const;
  // "" when there are at most `n` words, else the first one too many.
  std::string AtMost(size_t n) const;
};

// A line of the overview's command list: the command's form and what it does.
struct OverviewLine {
  const char* form;
  const char* what;
};

struct CommandRow {
  const char* name;
  std::vector<OptionForm> options;
  // Fills the invocation from the command's words and options (the global options are already
  // in it); an error text, or "" for a good line.
  std::string (*parse)(const CommandWords& given, Invocation& invocation);
  Exit (*run)(const Invocation& invocation);
  std::vector<OverviewLine> overview;
  const char* help;  // what `nx480ctl NAME --help` prints
};

// The rows, in the overview's order.
const std::vector<const CommandRow*>& CommandTable();
const CommandRow* FindCommand(const std::string& name);

// `text` as a whole number from `min` to `max`, or nullopt.
std::optional<int> WholeNumber(const std::string& text, int min, int max);

// The rows, each defined in its command's file.
extern const CommandRow kIdentifyCommandRow;
extern const CommandRow kLiveCommandRow;
extern const CommandRow kSettingsCommandRow;
extern const CommandRow kClockCommandRow;
extern const CommandRow kRelayCommandRow;
extern const CommandRow kCalibrationCommandRow;
extern const CommandRow kHistoryCommandRow;
extern const CommandRow kUploadCommandRow;
extern const CommandRow kJournalCommandRow;
extern const CommandRow kReportCommandRow;

}  // namespace nx480::ctl
