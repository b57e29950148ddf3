// The demo relay inside the tool: its one port, its pace on the wire, and the sag it makes by
// itself, seen through the tool's serial line as the tool sees it.
#include "demo_relay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

namespace nx480::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// `request` sent, a reply of `length` bytes read; empty when it did not come whole.
std::vector<std::uint8_t> Ask(SerialLine& line, const std::vector<std::uint8_t>& request,
                              std::size_t length) {
  std::vector<std::uint8_t> reply(length);
  if (line.Write(request.data(), request.size()) != request.size()) return {};
  if (line.Read(reply.data(), length) != length) return {};
  return reply;
}

TEST(DemoRelay, OnePortThatAnswersAtTheWiresPace) {
  const std::unique_ptr<SerialLine> line = MakeDemoLine();
  const LineSettings settings;  // 115200 baud, the relay's line
  EXPECT_FALSE(line->Open("/dev/ttyUSB0", settings));
  EXPECT_EQ(line->LastOpenError(), OpenError::NotFound);
  ASSERT_TRUE(line->Open(kDemoPort, settings));

  // The identification: 4 bytes out, 30 back, 10 bits each at 115200 baud, and the answer
  // delay between them. Never sooner, however the threads run.
  const Clock::time_point start = Clock::now();
  const std::vector<std::uint8_t> ident = Ask(*line, test::Bytes("01 11 C0 2C"), 30);
  const Clock::duration took = Clock::now() - start;
  ASSERT_EQ(ident.size(), 30u);
  EXPECT_EQ(std::string(ident.begin() + 3, ident.begin() + 8), "NX480");
  EXPECT_GE(took, 34 * 10 * std::chrono::microseconds(1s) / 115200 + 500us);

  // Its own serial number (0x1D low, 0x1E high), apart from the simulator's default.
  const std::vector<std::uint8_t> serial = Ask(*line, test::ReadRequest(0x03, 0x1D, 2), 9);
  ASSERT_EQ(serial.size(), 9u);
  EXPECT_EQ(static_cast<std::uint32_t>(serial[3] << 8 | serial[4]) |
                static_cast<std::uint32_t>(serial[5] << 8 | serial[6]) << 16,
            kDemoSerial);
}

TEST(DemoRelay, AVoltageSagPicksUpAndTripsUu1ThenRecovers) {
  DemoOptions options;
  options.firstSag = 0ms;
  options.sagEvery = 1h;
  const std::unique_ptr<SerialLine> line = MakeDemoLine(options);
  ASSERT_TRUE(line->Open(kDemoPort, LineSettings{}));

  // Polled as the live values window polls: the stages' coils (Uu1 picked up: coil 0, tripped:
  // coil 8), then U1 (input 0, whole volts). The sag sets the voltage before the pickup.
  struct State {
    int u1 = -1;
    bool pickedUp = false;
    bool tripped = false;
  };
  auto poll = [&line] {
    State s;
    const auto coils = Ask(*line, test::ReadRequest(0x01, 0, 24), 8);
    const auto u = Ask(*line, test::ReadRequest(0x04, 0, 1), 7);
    if (u.size() == 7) s.u1 = u[3] << 8 | u[4];
    if (coils.size() == 8) {
      s.pickedUp = (coils[3] & 1) != 0;
      s.tripped = (coils[4] & 1) != 0;
    }
    return s;
  };
  // Waits (at most `limit`) for a state that `wanted` accepts.
  auto waitFor = [&poll](auto wanted, Clock::duration limit) {
    const Clock::time_point until = Clock::now() + limit;
    for (State s = poll(); Clock::now() < until; s = poll()) {
      if (wanted(s)) return s;
      std::this_thread::sleep_for(20ms);
    }
    return State{};
  };
  const State sag = waitFor([](const State& s) { return s.pickedUp; }, 30s);
  EXPECT_TRUE(sag.pickedUp);
  EXPECT_EQ(sag.u1, 185);
  EXPECT_TRUE(waitFor([](const State& s) { return s.tripped; }, 30s).tripped);
  const State after =
      waitFor([](const State& s) { return !s.pickedUp && !s.tripped && s.u1 == 230; }, 30s);
  EXPECT_EQ(after.u1, 230) << "the voltage did not come back";
}

}  // namespace
}  // namespace nx480::sim
