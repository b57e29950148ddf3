// The simulator's request framer: whatever bytes arrive, in whatever chunks and pauses, every
// frame it hands out is a whole request (its length rule and CRC) or, for a function without a
// length rule, what came before a pause; and it never holds more than one frame's worth.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "crc.h"
#include "rtu_framer.h"

namespace {

using nx480::sim::RtuFramer;

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckFrames(const std::vector<RtuFramer::Frame>& frames) {
  for (const RtuFramer::Frame& frame : frames) {
    Require(!frame.empty() && frame.size() <= RtuFramer::kMaxFrame);
    const int length = nx480::sim::RequestLength(frame);
    if (length > 0) {
      Require(frame.size() == static_cast<size_t>(length));
      Require(nx480::sim::CrcOk(frame));
    }
  }
}

}  // namespace

// Input: chunks, each a header byte (low 6 bits: length; bit 7: a pause longer than the gap
// before it; bit 6: a short pause) and its bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace std::chrono_literals;
  RtuFramer framer(20ms);
  auto now = RtuFramer::Clock::time_point{} + 1h;
  size_t at = 0;
  while (at < size) {
    const uint8_t header = data[at++];
    const size_t length = std::min<size_t>(header & 0x3F, size - at);
    if (header & 0x80) {
      now += 25ms;
      CheckFrames(framer.Expire(now));
    } else if (header & 0x40) {
      now += 5ms;
    }
    CheckFrames(framer.Push(std::span(data + at, length), now));
    at += length;
    Require(framer.Pending() <= RtuFramer::kMaxFrame);
    if (const auto deadline = framer.Deadline()) Require(*deadline > now);
  }
  now += 1s;
  CheckFrames(framer.Expire(now));
  Require(framer.Pending() == 0);
  return 0;
}
