// What the benchmarks that run our link against the simulated relay share: the relay with its
// replies paced at a baud rate, and our link opened on it. No Qt.
#pragma once

#include <chrono>
#include <cstdio>
#include <utility>

#include "connection.h"
#include "modbus.h"
#include "pty_relay.h"

namespace nx480::bench {

// The relay's replies at the wire time of `baud` (10 bits a byte), each starting after the time
// the 8-byte request would take on the wire, which the pseudo-terminal carries at once.
inline sim::PtyOptions PacedOptions(unsigned baud) {
  sim::PtyOptions options;
  options.baud = baud;
  options.answer_delay = std::chrono::microseconds(8 * 10 * 1'000'000LL / baud);
  return options;
}

// The simulated relay started with its replies paced at `baud`, and our link opened on its port
// with the relay line's settings (the worker parked). The link goes before the relay.
struct PacedLink {
  PacedLink(sim::RelayConfig config, unsigned baud) : relay(std::move(config), PacedOptions(baud)) {
    relay.Start();
    opened = link.OpenPort(relay.SlavePath(), RelayLine(), kPollInterval);
  }

  // Whether the link is open; if not, says so on standard error as `program`.
  bool Opened(const char* program) const {
    if (!opened)
      std::fprintf(stderr, "%s: the link cannot open %s\n", program, relay.SlavePath().c_str());
    return opened;
  }

  sim::PtyRelay relay;
  TModbus link;
  bool opened = false;
};

}  // namespace nx480::bench
