#include "rtu_framer.h"

#include "crc.h"

namespace nx480::sim {

int RequestLength(std::span<const std::uint8_t> head) {
  if (head.size() < 2) return 0;
  switch (head[1]) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x08:
      return 8;
    case 0x07:
    case 0x0B:
    case 0x0C:
    case 0x11:
      return 4;
    case 0x0F:
    case 0x10:
      return head.size() < 7 ? 0 : 9 + head[6];
    case 0x16:
      return 10;
    case 0x17:
      return head.size() < 11 ? 0 : 13 + head[10];
    default:
      return -1;
  }
}

std::vector<RtuFramer::Frame> RtuFramer::Push(std::span<const std::uint8_t> bytes,
                                              Clock::time_point now) {
  std::vector<Frame> out = Expire(now);
  if (bytes.empty()) return out;
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  last_byte_ = now;
  Extract(out);
  return out;
}

std::vector<RtuFramer::Frame> RtuFramer::Expire(Clock::time_point now) {
  std::vector<Frame> out;
  if (buffer_.empty() || now - last_byte_ < gap_) return out;
  if (!hunting_ && RequestLength(buffer_) < 0) {
    out.push_back(std::move(buffer_));
    ++stats_.frames;
  } else {
    // The start is torn. Complete valid frames may still follow it, e.g. when
    // a torn request and the next one were read in one go.
    while (const std::size_t next = FindValidFrame(1)) {
      ++stats_.torn;
      Drop(next);
      hunting_ = false;
      Extract(out);
    }
    if (!buffer_.empty()) {
      ++stats_.torn;
      stats_.dropped_bytes += buffer_.size();
    }
  }
  buffer_.clear();
  hunting_ = false;
  return out;
}

std::optional<RtuFramer::Clock::time_point> RtuFramer::Deadline() const {
  if (buffer_.empty()) return std::nullopt;
  return last_byte_ + gap_;
}

void RtuFramer::Drop(std::size_t n) {
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
  stats_.dropped_bytes += n;
}

std::size_t RtuFramer::FindValidFrame(std::size_t from) const {
  for (std::size_t i = from; i + 4 <= buffer_.size(); ++i) {
    const std::span<const std::uint8_t> rest(buffer_.data() + i, buffer_.size() - i);
    const int length = RequestLength(rest);
    if (length > 0 && rest.size() >= static_cast<std::size_t>(length) &&
        CrcOk(rest.first(static_cast<std::size_t>(length)))) {
      return i;
    }
  }
  return 0;
}

void RtuFramer::Extract(std::vector<Frame>& out) {
  while (!buffer_.empty()) {
    const int length = RequestLength(buffer_);
    if (length > 0 && buffer_.size() >= static_cast<std::size_t>(length)) {
      const std::span<const std::uint8_t> candidate(buffer_.data(),
                                                    static_cast<std::size_t>(length));
      if (CrcOk(candidate)) {
        out.emplace_back(candidate.begin(), candidate.end());
        ++stats_.frames;
        buffer_.erase(buffer_.begin(), buffer_.begin() + length);
        hunting_ = false;
      } else {
        ++stats_.bad_crc;
        hunting_ = true;
        Drop(1);
      }
      continue;
    }
    // No complete frame at the start. While hunting, or when the start is a
    // frame of unknown length, a complete valid frame further on ends what
    // came before it.
    if (hunting_ || length < 0) {
      if (const std::size_t next = FindValidFrame(1); next != 0) {
        const std::span<const std::uint8_t> head(buffer_.data(), next);
        if (!hunting_ && next >= 4 && CrcOk(head)) {
          out.emplace_back(head.begin(), head.end());
          ++stats_.frames;
          buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(next));
        } else {
          Drop(next);
        }
        hunting_ = false;
        continue;
      }
    }
    if (length >= 0) return;  // wait for the rest (or the gap)
    // Unknown function: normally the frame ends at the gap; while hunting, or
    // once longer than any frame, only known functions may start a frame.
    if (!hunting_ && buffer_.size() <= kMaxFrame) return;
    hunting_ = true;
    Drop(1);
  }
  hunting_ = false;  // nothing left to hunt through
}

}  // namespace nx480::sim
