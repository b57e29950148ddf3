// Cuts the byte stream received from the master into RTU request frames.
// A pty delivers bytes in arbitrary chunks and has no line timing, so frames
// are delimited by the length their function code implies; a silence gap ends
// frames of unknown functions and drops torn ones. After a complete-length
// frame with a bad CRC the framer hunts for the next valid frame byte by byte.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace nx480::sim {

// Expected length (incl. CRC) of a request starting with `head`:
// > 0 the length, 0 when more bytes are needed to tell, -1 for a function
// whose requests have no length rule (such frames end at a silence gap).
int RequestLength(std::span<const std::uint8_t> head);

class RtuFramer {
 public:
  using Clock = std::chrono::steady_clock;
  using Frame = std::vector<std::uint8_t>;

  struct Stats {
    std::uint64_t frames = 0;         // frames handed out
    std::uint64_t bad_crc = 0;        // complete-length candidates with a bad CRC
    std::uint64_t torn = 0;           // incomplete frames dropped at a silence gap
    std::uint64_t dropped_bytes = 0;  // bytes discarded while hunting or as torn frames
  };

  static constexpr std::size_t kMaxFrame = 300;

  explicit RtuFramer(Clock::duration gap = std::chrono::milliseconds(20)) : gap_(gap) {}

  // Takes bytes received at `now` and returns the frames completed so far
  // (a gap since the previous bytes is handled first, as by Expire()).
  std::vector<Frame> Push(std::span<const std::uint8_t> bytes, Clock::time_point now);
  // Handles the silence gap if it has passed at `now`: hands out a pending
  // frame of an unknown function; otherwise hands out any complete valid
  // frames behind a torn start and drops the rest.
  std::vector<Frame> Expire(Clock::time_point now);
  // When Expire() has work to do; nullopt while nothing is pending.
  std::optional<Clock::time_point> Deadline() const;

  std::size_t Pending() const { return buffer_.size(); }
  const Stats& GetStats() const { return stats_; }
  Clock::duration Gap() const { return gap_; }

 private:
  void Extract(std::vector<Frame>& out);
  void Drop(std::size_t n);
  // Offset (>= from) of the first complete frame of a known function with a
  // good CRC in the buffer; 0 if there is none.
  std::size_t FindValidFrame(std::size_t from) const;

  Clock::duration gap_;
  std::vector<std::uint8_t> buffer_;
  Clock::time_point last_byte_{};
  bool hunting_ = false;
  Stats stats_;
};

}  // namespace nx480::sim
