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

// Why the search passed over a port.
enum class PortFailure {
  NoAnswer,     // opened, but no identification came
  OtherDevice,  // opened, and a device that is no NX480 identified itself
  NotFound,     // the OpenError of a port that could not be opened
  AccessDenied,
  Busy,
  NotAPort,
  OpenFailed,
};

struct PortTried {
  std::string port;
  PortFailure failure = PortFailure::NoAnswer;
  std::string identText;  // OtherDevice: what the device sent (its code page), else empty
};

// The ports that failed alike, in the order of the first of them: for the messages, which name
// each reason once ("/dev/ttyS0, /dev/ttyS1: no NX480 answered").
struct PortFailureGroup {
  PortFailure failure = PortFailure::NoAnswer;
  std::string identText;
  std::vector<std::string> ports;
};
std::vector<PortFailureGroup> GroupedByFailure(const std::vector<PortTried>& tried);

struct SearchResult {
  bool found = false;
  RelaySession session;  // when found: port, identification, firmware, temperature, serial
  SearchProblems problems;
  std::vector<PortTried> tried;  // the ports passed over, in the order tried
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
