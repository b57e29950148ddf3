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
struct PlannedTrip;

// Carries out the command on `line` against `relay` and `live` (nullptr: no live values) and
// writes its answer to `out`, a line at a time, each flushed. An empty line and one that starts
// with '#' are passed over without an answer. Returns false for "quit" and "exit".
bool RunCommand(PtyRelay& relay, LiveValues* live, const std::string& line, std::ostream& out);

// A command line's words, split at blanks.
std::vector<std::string> CommandWords(const std::string& line);

// The commands of the live values alone (pickup, release, trip, voltage, frequency,
// temperature, live), as RunCommand takes them: carries out `words` against `live` (nullptr:
// answered as off) and writes the answer to `out`; false when words[0] is none of them. They
// need no relay of a pty (live_commands.cpp), so the relay in memory takes them as well.
bool RunLiveCommand(LiveValues* live, const std::vector<std::string>& words, std::ostream& out);

// "trip STAGE [SECONDS [HOLD]]", as the command takes it: starts the countdown of `stage` with
// `times` (at most two, both in seconds). False, with `error`, for a stage unknown to the
// firmware or a time out of range.
bool TripStage(LiveValues& live, const std::string& stage, const std::vector<std::string>& times,
               std::string& error);

// --trip STAGE[:SECONDS[:HOLD[:AFTER]]]: the countdown (0.1..6000 s, default 10), the hold
// (0..6000 s, default the whole countdown) and the time after the start (0..6000 s, default 0)
// of a trip of `stage`, into `trip`. The stage is not looked at (the firmware may not be known
// yet). False, with `error`, for a time out of range or more than three.
bool ParseTrip(const std::string& stage, const std::vector<std::string>& times, PlannedTrip& trip,
               std::string& error);

// A whole number (decimal, or hexadecimal with 0x) within min..max, as the options and the
// commands take numbers; `out` is left alone when `text` is not one.
bool ParseNumber(std::string_view text, long long min, long long max, long long& out);

}  // namespace nx480::sim
