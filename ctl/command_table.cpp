#include "command_table.h"

#include <charconv>

#include "commands.h"

namespace nx480::ctl {

std::string CommandWords::Count(size_t n, const char* what) const {
  if (words.size() < n) return std::string("missing ") + what;
  return AtMost(n);
}

std::string CommandWords::AtMost(size_t n) const {
  return words.size() > n ? "unexpected argument '" + words[n] + "'" : "";
}

const std::vector<const CommandRow*>& CommandTable() {
  static const std::vector<const CommandRow*> table = {
      &kIdentifyCommandRow, &kLiveCommandRow,        &kSettingsCommandRow, &kClockCommandRow,
      &kRelayCommandRow,    &kCalibrationCommandRow, &kHistoryCommandRow,  &kUploadCommandRow,
      &kJournalCommandRow,  &kReportCommandRow,
  };
  return table;
}

const CommandRow* FindCommand(const std::string& name) {
  for (const CommandRow* row : CommandTable())
    if (name == row->name) return row;
  return nullptr;
}

std::optional<int> WholeNumber(const std::string& text, int min, int max) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || stop != end || value < min || value > max) return std::nullopt;
  return value;
}

Exit RunCommand(const Invocation& invocation) {
  return invocation.row ? invocation.row->run(invocation) : Exit::Usage;
}

}  // namespace nx480::ctl
