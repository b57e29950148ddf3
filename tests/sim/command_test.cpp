// The simulator's commands as a script meets them: one line in, the answer out, in order,
// against a relay that is not started (its model alone).
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "command_interpreter.h"
#include "pty_relay.h"
#include "relay_live.h"

namespace nx480::sim {
namespace {

TEST(Commands, AnswerEachLineAsAScriptReadsThem) {
  PtyRelay relay;
  LiveConfig steady;
  steady.noise = false;
  const auto live = AttachLiveValues(relay, steady);
  const struct {
    const char* line;
    const char* answer;  // every line of it
    bool goesOn = true;
  } script[] = {
      // Blank lines and notes get no answer: a script's next read is the next command's.
      {"", ""},
      {"   ", ""},
      {"# set holding 0 1", ""},
      {"nonsense 1 2", "error: unknown command 'nonsense'\n"},
      // The tables by their short names, numbers in hexadecimal too.
      {"set c 5 1", "ok\n"},
      {"get coils 5", "1\n"},
      {"set i 3 0x1234", "ok\n"},
      {"get input 3", "4660\n"},
      {"get h 0x80", "error: undefined address\n"},
      {"get holding x", "error: bad arguments\n"},
      // The fault list ends with "ok", empty or not.
      {"fault late 3 2 1 150", "ok\n"},
      {"fault silence", "ok\n"},
      {"faults",
       "late function=3 count=2 skip=1 param=150\n"
       "silence function=any count=1 skip=0 param=0\n"
       "ok\n"},
      {"clear-faults", "ok\n"},
      {"faults", "ok\n"},
      // Decimal commas, a phase or all three, stages by either name.
      {"voltage all 231", "ok\n"},
      {"voltage U3 229,6", "ok\n"},
      {"frequency 49,98", "ok\n"},
      {"pickup Fu1", "ok\n"},
      {"pickup f<<", "ok\n"},
      {"release Fu1", "ok\n"},
      {"live", "V=14 U=231.0/231.0/229.6 f=49.98 coils=0x000020 countdown=0.0 s\n"},
      {"relay", "auto commands=0\n"},
      // Clamp rules, listed as the option takes them.
      {"clamp 0.hi:2:20", "ok\n"},
      {"clamp 8:0xB4:260", "ok\n"},
      {"clamp", "0.hi:2:20\n8:180:260\nok\n"},
      {"clamp 32:0:1", "error: clamp WORD must be 0..31, with .lo or .hi for a byte\n"},
      {"clamp clear", "ok\n"},
      {"clamp", "ok\n"},
      {"exit", "", false},
      {"quit", "", false},
  };
  for (const auto& step : script) {
    SCOPED_TRACE(step.line);
    std::ostringstream out;
    EXPECT_EQ(RunCommand(relay, live.get(), step.line, out), step.goesOn);
    EXPECT_EQ(out.str(), step.answer);
  }
}

}  // namespace
}  // namespace nx480::sim
