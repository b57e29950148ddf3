// Whatever arrives on the line, the simulated relay neither crashes nor answers with a broken
// frame: random byte streams and random well-formed requests with random fields.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <vector>

#include "crc.h"
#include "relay_model.h"
#include "rtu_framer.h"

namespace nx480::sim {
namespace {

std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
  const uint16_t crc = Crc16Modbus(frame);
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

void ExpectWellFormed(const std::optional<Reply>& reply, const std::vector<uint8_t>& request) {
  if (!reply || reply->fault) return;
  const auto& bytes = reply->bytes;
  ASSERT_GE(bytes.size(), 5u);
  EXPECT_EQ(Crc16Modbus(bytes), 0) << "reply to function " << int(request[1]);
  EXPECT_EQ(bytes[0], request[0]);
  EXPECT_TRUE(bytes[1] == request[1] || bytes[1] == (request[1] | 0x80)) << int(bytes[1]);
}

TEST(SimRobustness, RandomStreamsAndRandomRequests) {
  std::mt19937 rng(4800);
  RelayModel model{RelayConfig{}};
  RtuFramer framer;
  auto now = std::chrono::steady_clock::now();

  // Random bytes in random chunks, with gaps now and then.
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> chunk(rng() % 40);
    for (auto& b : chunk) b = static_cast<uint8_t>(rng());
    if (rng() % 3 == 0 && !chunk.empty()) chunk[0] = 0x01;  // often addressed to us
    now += std::chrono::milliseconds(rng() % 4 == 0 ? 30 : 1);
    for (const auto& frame : framer.Push(chunk, now)) {
      EXPECT_LE(frame.size(), RtuFramer::kMaxFrame);
      ExpectWellFormed(model.Handle(frame), frame);
    }
    ASSERT_LE(framer.Pending(), RtuFramer::kMaxFrame);
  }

  // Well-formed requests with random fields for every function the relay knows, and others.
  const uint8_t functions[] = {0x01, 0x03, 0x04, 0x0F, 0x10, 0x11, 0x05, 0x2B, 0x90};
  for (int round = 0; round < 5000; ++round) {
    const uint8_t function = functions[rng() % std::size(functions)];
    std::vector<uint8_t> request = {0x01, function};
    const uint16_t first = static_cast<uint16_t>(rng() % 3 == 0 ? rng() : rng() % 0x90);
    const uint16_t quantity = static_cast<uint16_t>(rng() % 4 == 0 ? rng() : rng() % 40);
    request.push_back(first >> 8);
    request.push_back(first & 0xFF);
    request.push_back(quantity >> 8);
    request.push_back(quantity & 0xFF);
    if (function == 0x0F || function == 0x10) {
      const uint8_t count = static_cast<uint8_t>(rng() % 3 == 0 ? rng() : quantity * 2);
      request.push_back(count);
      for (int i = 0; i < count; ++i) request.push_back(static_cast<uint8_t>(rng()));
    }
    if (function == 0x11) request.resize(2);
    const auto frame = WithCrc(request);
    ExpectWellFormed(model.Handle(frame), frame);
  }
}

}  // namespace
}  // namespace nx480::sim
