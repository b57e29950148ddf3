// What a simulated relay on a line has seen and sent: the model's counters, the framer's, and
// the bytes and replies on the line (PtyRelay, VirtualRelay).
#pragma once

#include <cstdint>

#include "relay_model.h"
#include "rtu_framer.h"

namespace nx480::sim {

struct RelayCounters {
  ModelCounters model;
  RtuFramer::Stats framer;
  std::uint64_t bytes_received = 0;
  std::uint64_t bytes_sent = 0;
  std::uint64_t replies_sent = 0;     // replies written completely
  std::uint64_t replies_dropped = 0;  // replies discarded because nobody read the port
  std::uint64_t babble_bytes = 0;     // random bytes sent after replies (babble fault)
};

}  // namespace nx480::sim
