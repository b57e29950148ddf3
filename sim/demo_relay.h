// The demo relay: the simulated relay inside the tool's own process, so that a technician can
// learn the tool without a relay, on any platform (nx480-pc --demo, nx480ctl --demo).
//
// It is the simulator's model (relay_model.h) with its live values (relay_live.h) behind the
// in-memory line (virtual_line.h) paced in real time at 115200 baud: a reply arrives after its
// bytes' time on the wire and the relay's answer delay, and the line's waits run on the steady
// clock, as on a port. U1-U3 and f wander by a little noise as on nx480-sim, and now and then a
// voltage sag trips Uu1 and recovers (DemoSag: what scripts/demo-relay sag does, as the
// simulator's live values commands). Changes (settings, clock, output relay, calibration,
// upload) are taken as nx480-sim takes them and last as long as the line.
//
// Nothing of the platform: no pty, no process, no signal; the sag runs on a std::thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "relay_model.h"
#include "serial_line.h"

namespace nx480::sim {

// The one port of a demo line: the search finds the demo relay there.
inline constexpr const char* kDemoPort = "demo";
// The demo relay's serial number: its journal and recordings are apart from a real relay's.
inline constexpr std::uint32_t kDemoSerial = 999999;

// One step of the sag: a live values command (command_interpreter.h, RunLiveCommand) given
// `after` the step before it.
struct DemoStep {
  std::chrono::milliseconds after{0};
  std::string command;
};

// U1-U3 fall to 185 V and Uu1 picks up; 2 s later it trips (tripped for 2 s, reconnection after
// 20 s); 3 s after the trip Uu1 drops out and the voltage comes back to 230 V.
std::vector<DemoStep> DemoSag();

struct DemoOptions {
  RelayConfig relay = [] {
    RelayConfig config;
    config.serial = kDemoSerial;
    return config;
  }();
  // The first sag this long after the relay is made, then one every `sagEvery`.
  std::chrono::milliseconds firstSag{30'000};
  std::chrono::milliseconds sagEvery{120'000};
  std::vector<DemoStep> sag = DemoSag();
};

// A serial line with one port, kDemoPort, where a demo relay of its own answers: made with the
// line, its sags stopped and the relay gone when the line is destroyed. Any other port name is
// not found.
std::unique_ptr<SerialLine> MakeDemoLine(DemoOptions options = {});

}  // namespace nx480::sim
