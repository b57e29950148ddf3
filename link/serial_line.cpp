#include "serial_line.h"

#include <algorithm>

namespace nx480 {

PortTimeouts TimeoutsForBaud(int baud, int readConstant) {
  PortTimeouts t;
  if (baud <= 0) baud = 1;
  t.readInterval = 38000 / baud + 22;
  t.readPerByte = 11000 / baud + 1;
  t.readConstant = readConstant;
  t.writePerByte = 11000 / baud + 1;
  t.writeConstant = 50;
  return t;
}

ReadCourse::ReadCourse(const PortTimeouts& timeouts, size_t expected, FrameLength frameLength,
                       TimePoint start)
    : frameLength_(frameLength),
      deadline_(start +
                std::chrono::milliseconds(static_cast<long long>(expected) * timeouts.readPerByte +
                                          timeouts.readConstant)),
      gap_(timeouts.readInterval),
      lastByte_(start),
      want_(expected) {}

void ReadCourse::Received(const uint8_t* buffer, size_t count, TimePoint now) {
  if (count == 0) return;
  got_ += count;
  lastByte_ = now;
  if (frameLength_ != nullptr) {
    const size_t whole = frameLength_(buffer, got_);
    if (whole > 0) want_ = std::min(want_, std::max(whole, got_));
  }
}

ReadCourse::TimePoint ReadCourse::Limit() const {
  return got_ > 0 ? std::min(deadline_, lastByte_ + gap_) : deadline_;
}

}  // namespace nx480
