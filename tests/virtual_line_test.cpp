// The simulated relay's line in virtual time keeps the port's time-out model to the microsecond
// (serial_line.h): the transactions' tests stand on it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "link_support.h"
#include "virtual_line.h"

using namespace nx480;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A frame that says its length in byte 2 (count + 5), as a read reply or the identification do.
size_t CountedLength(const uint8_t* head, size_t count) {
  return count >= 3 ? head[2] + 5u : 0u;
}

struct Bytes {
  std::chrono::microseconds at;  // after the read begins
  std::vector<uint8_t> bytes;
};

struct ReadCase {
  const char* what;
  PortTimeouts timeouts;
  size_t expected;
  bool counted;  // the read is given CountedLength
  std::vector<Bytes> sent;
  size_t got;
  std::chrono::microseconds ends;  // after the read began
};

constexpr auto kByte = std::chrono::nanoseconds(10'000'000'000LL / 115200);  // 86.8 us

class VirtualLineTest : public ::testing::TestWithParam<ReadCase> {
 protected:
  VirtualLineTest()
      : ports_(std::make_shared<sim::VirtualPorts>()),
        relay_(ports_->Add("relay")),
        line_(ports_) {}
  std::shared_ptr<sim::VirtualPorts> ports_;
  std::shared_ptr<sim::VirtualRelay> relay_;
  sim::VirtualLine line_;
};

PortTimeouts Timeouts(int interval, int perByte, int constant) {
  PortTimeouts t;
  t.readInterval = interval;
  t.readPerByte = perByte;
  t.readConstant = constant;
  return t;
}

std::chrono::microseconds Us(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d);
}

}  // namespace

TEST_P(VirtualLineTest, ReadEndsExactlyByTheTimeOutModel) {
  const ReadCase& c = GetParam();
  LineSettings settings = TestLine();
  settings.timeouts = c.timeouts;
  ASSERT_TRUE(line_.Open("relay", settings));
  const Clock::time_point t0 = line_.Now();
  for (const Bytes& b : c.sent) relay_->Emit(b.bytes, t0 + b.at);
  uint8_t buf[300] = {};
  EXPECT_EQ(line_.Read(buf, c.expected, nullptr, c.counted ? CountedLength : nullptr), c.got);
  EXPECT_EQ(Us(line_.Now() - t0), c.ends);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, VirtualLineTest, ::testing::Values(
    // All 8 in: at the last byte, long before the limit.
    ReadCase{"whole", Timeouts(1000, 1, 2000), 8, false, {{30ms, std::vector<uint8_t>(8, 1)}},
             8, Us(30ms + 8 * kByte)},
    // Fewer: one gap (150 ms) after the last byte; a byte inside the gap starts it again.
    ReadCase{"gap", Timeouts(150, 1, 5000), 30, false,
             {{20ms, {1, 2, 3}}, {120ms, {4, 5}}}, 5, Us(120ms + 2 * kByte + 150ms)},
    // Silence: E x per-byte + constant.
    ReadCase{"silence", Timeouts(22, 5, 250), 10, false, {}, 0, Us(300ms)},
    // Bytes trickling within the gap do not stretch the whole-read limit (60 + 300 ms).
    ReadCase{"trickle", Timeouts(200, 1, 300), 60, false,
             {{0ms, {0x55}}, {100ms, {0x55}}, {200ms, {0x55}}, {300ms, {0x55}}}, 4, Us(360ms)},
    // A frame whole by its own length ends the read at its last byte, not a gap later; one that
    // stops short of its length ends a gap after its last byte.
    ReadCase{"counted short", Timeouts(1000, 1, 3000), 30, true,
             {{0ms, {0x01, 0x11, 24}}, {0ms, std::vector<uint8_t>(17, 0x20)}}, 20,
             Us(20 * kByte + 1000ms)},
    ReadCase{"counted whole", Timeouts(1000, 1, 3000), 30, true,
             {{0ms, {0x01, 0x11, 24}}, {10ms, std::vector<uint8_t>(26, 0x20)}}, 29,
             Us(10ms + 26 * kByte)},
    // A count beyond the read's size: the read stops at its own size.
    ReadCase{"counted long", Timeouts(1000, 1, 3000), 30, true,
             {{0ms, std::vector<uint8_t>{0x01, 0x11, 250}}, {0ms, std::vector<uint8_t>(37, 0x20)}},
             30, Us(30 * kByte)}),
    [](const ::testing::TestParamInfo<ReadCase>& info) {
      std::string name = info.param.what;
      for (char& ch : name) if (ch == ' ') ch = '_';
      return name;
    });
// clang-format on

// The stop flag, an action at a chosen moment, a close and an unplugged adapter end the waits as
// on the port; a write goes out even with the flag set (a Cancel after a pause).
TEST(VirtualLine, WaitsEndOnTheStopFlagAnActionACloseAndAGoneDevice) {
  auto ports = std::make_shared<sim::VirtualPorts>();
  auto relay = ports->Add("relay");
  sim::VirtualLine line(ports);
  EXPECT_FALSE(line.Open("elsewhere", TestLine()));
  EXPECT_EQ(line.LastOpenError(), OpenError::NotFound);
  ASSERT_TRUE(line.Open("relay", TestLine()));
  sim::VirtualLine second(ports);
  EXPECT_FALSE(second.Open("relay", TestLine()));
  EXPECT_EQ(second.LastOpenError(), OpenError::Busy);

  StopFlag stop{false};
  Clock::time_point t0 = line.Now();
  line.At(t0 + 40ms, [&] { stop = true; });
  EXPECT_FALSE(line.Sleep(100ms, &stop));
  EXPECT_EQ(line.Now() - t0, 40ms);
  uint8_t buf[32];
  EXPECT_EQ(line.Read(buf, 8, &stop), 0u);
  EXPECT_EQ(line.Now() - t0, 40ms);  // not a moment waited
  const uint8_t request[] = {0x01, 0x11, 0xC0, 0x2C};
  EXPECT_EQ(line.Write(request, sizeof request, &stop), sizeof request);
  stop = false;

  // The identification asked for above comes back: the relay took it.
  EXPECT_EQ(line.Read(buf, 3), 3u);
  EXPECT_EQ(relay->Counters().model.requests, 1u);

  t0 = line.Now();
  line.At(t0 + 10ms, [&] { line.Close(); });
  EXPECT_EQ(line.Read(buf, 27), 27u);  // the rest of the identification
  EXPECT_EQ(line.Read(buf, 8), 0u);    // then the close
  EXPECT_FALSE(line.IsOpen());
  EXPECT_EQ(line.Now() - t0, 10ms);
  EXPECT_FALSE(line.Sleep(1ms));

  ASSERT_TRUE(line.Open("relay", TestLine()));  // what was left is gone with the open
  t0 = line.Now();
  relay->Unplug(t0 + 5ms);
  EXPECT_EQ(line.Read(buf, 8), 0u);
  EXPECT_TRUE(line.DeviceGone());
  EXPECT_EQ(line.Now() - t0, 5ms);
  EXPECT_EQ(line.Write(request, sizeof request), 0u);
}
