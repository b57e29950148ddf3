// nx480ctl's command table: what each row's help promises on its usage lines is what the parse
// of that row takes.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "command_table.h"

using namespace nx480::ctl;

namespace {

// The options of a help's usage lines (its first paragraph), each with whether a value follows
// it ("--count N", "--lang cs|en"; "--stream |" and "--record]" have none). The global options
// are left out.
std::map<std::string, bool> UsageOptions(const std::string& help) {
  static const std::set<std::string> globals = {"--port", "--demo", "--trace", "--service"};
  std::map<std::string, bool> found;
  std::istringstream lines(help.substr(0, help.find("\n\n")));
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> tokens;
    std::istringstream words(line);
    for (std::string word; words >> word;) tokens.push_back(word);
    for (size_t i = 0; i < tokens.size(); ++i) {
      std::string token = tokens[i];
      if (token.front() == '[') token.erase(0, 1);
      if (token.rfind("--", 0) != 0) continue;
      const bool closed = token.back() == ']';
      if (closed) token.pop_back();
      if (globals.count(token)) continue;
      found[token] = !closed && i + 1 < tokens.size() && tokens[i + 1] != "|";
    }
  }
  return found;
}

TEST(CtlCommandTable, UsageLinesAndParseAgree) {
  std::set<std::string> names;
  for (const CommandRow* row : CommandTable()) {
    const std::string name = row->name;
    EXPECT_TRUE(names.insert(name).second) << name << " twice";
    EXPECT_EQ(FindCommand(name), row) << name;
    for (const OverviewLine& line : row->overview)
      EXPECT_EQ((std::string(line.form) + " ").rfind(name + " ", 0), 0u) << line.form;

    std::map<std::string, bool> taken;
    for (const OptionForm& option : row->options) {
      taken[option.name] = option.takesValue;
      // The parse knows the option, and its value, for this command.
      const std::string given = std::string(option.name) + (option.takesValue ? "=v" : "");
      const std::string error = ParseCommandLine({name, given}).error;
      EXPECT_EQ(error.find("unknown option"), std::string::npos) << name << " " << error;
      EXPECT_EQ(error.find("takes no value"), std::string::npos) << name << " " << error;
    }
    EXPECT_EQ(UsageOptions(row->help), taken) << name;
  }
  EXPECT_EQ(names.size(), CommandNames().size());
}

}  // namespace
