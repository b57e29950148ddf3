// The connection search: the ports are tried in order until a relay identifies itself as an
// NX480. Runs on the user-interface thread while the worker is parked.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "modbus.h"
#include "relay_session.h"
#include "serial_line.h"

namespace nx480 {

// The model name that an identification text must begin with (exact, case-sensitive).
inline constexpr const char* kModelName = "NX480";

// What the search learnt about ports it could not open.
struct SearchProblems {
  std::string deniedPort;   // the first port refused for lack of permission
  std::string deniedGroup;  // the group that owns it ("" when unknown)
  std::string busyPort;     // the first port held by another program
};

struct SearchResult {
  bool found = false;
  RelaySession session;  // when found: port, identification, firmware, temperature, serial
  SearchProblems problems;
};

// Takes an identification text into the session: the temperature variant from its 7th
// character ("T"), which is then replaced by "-", and the firmware number from its end.
void TakeIdentification(const std::string& identText, RelaySession& session);

// Each port in turn: open (with `line` and `pollInterval`), identify, and check the name; a
// port that fails any step is closed and skipped. The first match is kept open, its session
// completed with the serial number (-1 when that read fails), and the search ends; the worker
// stays parked for the caller to resume. `session.connected` is left to the caller. `stop`, when
// given, is asked before each port: true ends the search there (nothing found).
SearchResult SearchRelay(TModbus& link, const std::vector<std::string>& ports,
                         const LineSettings& line, int pollInterval,
                         const std::function<bool()>& stop = {});

}  // namespace nx480
