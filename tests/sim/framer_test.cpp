// Cutting the received byte stream into request frames.
#include <gtest/gtest.h>

#include <algorithm>

#include "rtu_framer.h"
#include "test_util.h"

namespace nx480::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;
using Clock = RtuFramer::Clock;

const std::string kRead = "01 03 00 00 00 08 44 0C";
const std::string kWrite = "01 10 00 00 00 02 04 00 0A 01 02 53 FC";
const std::string kIdent = "01 11 C0 2C";

std::vector<std::string> Hexes(const std::vector<RtuFramer::Frame>& frames) {
  std::vector<std::string> out;
  for (const auto& f : frames) out.push_back(Hex(f));
  return out;
}

using Frames = std::vector<std::string>;

TEST(RtuFramer, FramesByLengthWhateverTheChunks) {
  RtuFramer framer(20ms);
  Clock::time_point t{};

  // One byte at a time: the frame is complete with its last byte.
  const auto bytes = Bytes(kWrite);
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    EXPECT_TRUE(framer.Push({&bytes[i], 1}, t += 1ms).empty()) << i;
  }
  EXPECT_EQ(Hexes(framer.Push({&bytes.back(), 1}, t += 1ms)), Frames{kWrite});
  EXPECT_EQ(framer.Pending(), 0U);
  EXPECT_FALSE(framer.Deadline());

  // Three requests back to back in one chunk, the last one split.
  const auto all = Bytes(kRead + " " + kIdent + " " + kWrite);
  EXPECT_EQ(Hexes(framer.Push({all.data(), 15}, t += 1ms)), (Frames{kRead, kIdent}));
  EXPECT_EQ(Hexes(framer.Push({all.data() + 15, all.size() - 15}, t += 1ms)), Frames{kWrite});
  EXPECT_EQ(framer.GetStats().frames, 4U);
  EXPECT_EQ(framer.GetStats().dropped_bytes, 0U);
}

TEST(RtuFramer, TornFramesAndBadCrcDoNotWedge) {
  RtuFramer framer(20ms);
  Clock::time_point t{};

  // A torn request is dropped once the line has been quiet for the gap.
  EXPECT_TRUE(framer.Push(Bytes("01 03 00 00"), t += 1ms).empty());
  ASSERT_TRUE(framer.Deadline());
  EXPECT_EQ(*framer.Deadline(), t + 20ms);
  EXPECT_TRUE(framer.Expire(t + 19ms).empty());
  EXPECT_EQ(framer.Pending(), 4U);
  EXPECT_TRUE(framer.Expire(t + 20ms).empty());
  EXPECT_EQ(framer.Pending(), 0U);
  EXPECT_EQ(framer.GetStats().torn, 1U);
  EXPECT_EQ(Hexes(framer.Push(Bytes(kRead), t += 50ms)), Frames{kRead});

  // Bytes after a gap start afresh even when Expire() was not called in time.
  EXPECT_TRUE(framer.Push(Bytes("01 03 00"), t += 50ms).empty());
  EXPECT_EQ(Hexes(framer.Push(Bytes(kRead), t += 30ms)), Frames{kRead});

  // A torn request directly followed by a full one: the framer hunts through
  // the bad candidate and finds the real request.
  EXPECT_EQ(Hexes(framer.Push(Bytes("01 03 00 " + kRead), t += 50ms)), Frames{kRead});
  EXPECT_EQ(framer.Pending(), 0U);

  // A torn request read together with the next one, which is shorter than
  // the torn one claims to be: the request is found at the gap.
  EXPECT_TRUE(framer.Push(Bytes("01 03 00 " + kIdent), t += 50ms).empty());
  EXPECT_EQ(Hexes(framer.Expire(t + 20ms)), Frames{kIdent});
  EXPECT_EQ(framer.Pending(), 0U);

  // A bad CRC yields no frame; the next request is found.
  const auto bad_crc_before = framer.GetStats().bad_crc;
  EXPECT_TRUE(framer.Push(Bytes("01 03 00 00 00 08 44 0D"), t += 50ms).empty());
  EXPECT_GT(framer.GetStats().bad_crc, bad_crc_before);
  EXPECT_EQ(Hexes(framer.Push(Bytes(kIdent), t += 1ms)), Frames{kIdent});

  // Line noise in front of a request.
  EXPECT_EQ(Hexes(framer.Push(Bytes("FF 00 55 " + kWrite), t += 50ms)), Frames{kWrite});

  // A write whose byte count promises more than ever comes ends at the gap.
  EXPECT_TRUE(framer.Push(Bytes("01 10 00 00 00 7B F6 00 01"), t += 50ms).empty());
  EXPECT_TRUE(framer.Expire(t + 25ms).empty());
  EXPECT_EQ(Hexes(framer.Push(Bytes(kIdent), t += 30ms)), Frames{kIdent});
}

TEST(RtuFramer, UnknownFunctionEndsAtTheGap) {
  RtuFramer framer(20ms);
  Clock::time_point t{};
  EXPECT_TRUE(framer.Push(Bytes("01 2B 0E"), t += 1ms).empty());
  EXPECT_TRUE(framer.Push(Bytes("01 00 70 77"), t += 5ms).empty());
  EXPECT_TRUE(framer.Expire(t + 10ms).empty());
  EXPECT_EQ(Hexes(framer.Expire(t + 20ms)), Frames{"01 2B 0E 01 00 70 77"});
  EXPECT_EQ(framer.Pending(), 0U);

  // A known request right behind an unknown-function frame ends that frame.
  EXPECT_EQ(Hexes(framer.Push(Bytes("01 2B 0E 01 00 70 77 " + kRead), t += 50ms)),
            (Frames{"01 2B 0E 01 00 70 77", kRead}));

  // A stream of unknown bytes without a gap cannot grow without bound.
  std::vector<std::uint8_t> junk(2 * RtuFramer::kMaxFrame, 0x2B);
  for (std::size_t i = 0; i < junk.size(); i += 16) {
    framer.Push({junk.data() + i, std::min<std::size_t>(16, junk.size() - i)}, t += 1ms);
  }
  EXPECT_LE(framer.Pending(), RtuFramer::kMaxFrame + 16);
  EXPECT_EQ(Hexes(framer.Push(Bytes(kRead), t += 1ms)), Frames{kRead});
}

TEST(RtuFramer, LengthRules) {
  EXPECT_EQ(RequestLength(Bytes("01")), 0);
  EXPECT_EQ(RequestLength(Bytes("01 03")), 8);
  EXPECT_EQ(RequestLength(Bytes("01 01")), 8);
  EXPECT_EQ(RequestLength(Bytes("01 04")), 8);
  EXPECT_EQ(RequestLength(Bytes("01 11")), 4);
  EXPECT_EQ(RequestLength(Bytes("01 10 00 00 00 02")), 0);
  EXPECT_EQ(RequestLength(Bytes("01 10 00 00 00 02 04")), 13);
  EXPECT_EQ(RequestLength(Bytes("01 0F 00 00 00 0A 02")), 11);
  EXPECT_EQ(RequestLength(Bytes("01 2B")), -1);
}

}  // namespace
}  // namespace nx480::sim
