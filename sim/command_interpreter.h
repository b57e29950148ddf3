// The simulator's commands, as nx480-sim reads them on its standard input: one line in, its
// answer out ("ok", a value, or "error: ..."). The list is in nx480-sim --help.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace nx480::sim {

class LiveValues;
class PtyRelay;

// Carries out the command on `line` against `relay` and `live` (nullptr: no live values) and
// writes its answer to `out`, a line at a time, each flushed. An empty line and one that starts
// with '#' are passed over without an answer. Returns false for "quit" and "exit".
bool RunCommand(PtyRelay& relay, LiveValues* live, const std::string& line, std::ostream& out);

// "trip STAGE [SECONDS [HOLD]]", as the command and --trip take it: starts the countdown of
// `stage` with `times` (at most two, both in seconds). False, with `error`, for a stage
// unknown to the firmware or a time out of range.
bool TripStage(LiveValues& live, const std::string& stage, const std::vector<std::string>& times,
               std::string& error);

// A whole number (decimal, or hexadecimal with 0x) within min..max, as the options and the
// commands take numbers; `out` is left alone when `text` is not one.
bool ParseNumber(std::string_view text, long long min, long long max, long long& out);

}  // namespace nx480::sim
