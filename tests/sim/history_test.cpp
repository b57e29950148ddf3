// The relay's event history: record layout, the ring on the wire as the tool walks it, and the
// events the relay writes itself.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "event_history.h"
#include "relay_live.h"
#include "relay_model.h"
#include "test_util.h"

namespace nx480::sim {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using test::ReadRequest;
using test::WriteRequest;
using Steady = RelayModel::Steady;

// One record as the tool decodes it from the eight registers of a read reply.
struct Decoded {
  std::string time;  // "YYYY-MM-DD hh:mm:ss"
  int code;
  int frequency;
  int u1;
};

std::vector<std::uint16_t> ReadRegisters(RelayModel& model, std::uint16_t first,
                                         std::uint16_t count) {
  const auto reply = model.Handle(ReadRequest(0x03, first, count));
  if (!reply || reply->bytes.size() != 5U + 2U * count) return {};
  std::vector<std::uint16_t> out;
  for (std::size_t i = 0; i < count; ++i)
    out.push_back(
        static_cast<std::uint16_t>(reply->bytes[3 + 2 * i] << 8 | reply->bytes[4 + 2 * i]));
  return out;
}

// The history walk over the wire: from the slot before the pointer downwards, wrapping, until
// an empty slot or every slot has been read.
std::vector<Decoded> Walk(RelayModel& model) {
  const auto pointer = ReadRegisters(model, 0x44, 2);
  if (pointer.size() != 2) return {};
  const int slots = 64 * (pointer[1] & 0xFF) - 33;
  std::vector<Decoded> out;
  int index = pointer[0];
  do {
    index = (index == 0 ? slots : index) - 1;
    const auto r = ReadRegisters(model, static_cast<std::uint16_t>(0x4100 + 8 * index), 8);
    if (r.size() != 8) {
      ADD_FAILURE() << "slot " << index << " unreadable";
      break;
    }
    const std::uint32_t t = static_cast<std::uint32_t>(r[1]) << 16 | r[0];
    if (t == 0) break;
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 2000 + (t >> 26),
                  t >> 22 & 15, t >> 17 & 31, t >> 12 & 31, t >> 6 & 63, t & 63);
    out.push_back({text, r[2] & 0xFF, r[4], r[5]});
  } while (index != pointer[0]);
  return out;
}

RelayModel StoppedAt(const char* time, int size_code, int fill) {
  RelayConfig config;
  config.clock = ParseDateTime(time);
  config.clock_running = false;
  config.history_size_code = size_code;
  config.history_fill = fill;
  return RelayModel(config);
}

TEST(SimHistory, RecordLayout) {
  const EventRecord record{
      *ParseDateTime("2009-03-05T14:07:09"), EventCode::kClockSet, {4998, {7, 230, 231}}};
  const std::array<std::uint16_t, 8> registers = {0xE1C9, 0x24CA, 17, 0, 4998, 7, 230, 231};
  EXPECT_EQ(record.Registers(), registers);
  EXPECT_EQ(EventRecord::FromRegisters(registers), record);
  EXPECT_FALSE(EventRecord::FromRegisters({0, 0, 2, 0, 5000, 230, 230, 230}));
  EXPECT_EQ(PackTimestamp(*ParseDateTime("2063-12-31T23:59:59")), 0xFF3F7EFBU);
  EXPECT_EQ(PackTimestamp(*ParseDateTime("2064-01-01T00:00:01")), 0x00420001U);  // six bits
}

TEST(SimHistory, PrefilledRingOnTheWire) {
  RelayModel model = StoppedAt("2026-12-09T10:20:30", 1, 10);
  EXPECT_EQ(Hex(model.Handle(ReadRequest(0x03, 0x44, 2))->bytes).substr(0, 20),
            "01 03 04 00 0A 00 01");
  const std::vector<Decoded> events = Walk(model);
  ASSERT_EQ(events.size(), 10U);
  EXPECT_EQ(events.back().code, 1);  // the oldest: a start
  EXPECT_LT(events.front().time, "2026-12-09 10:20:30");
  EXPECT_GT(events.front().time, "2026-12-09 10:00:00");
  for (std::size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(events[i].time + " code " + std::to_string(events[i].code));
    EXPECT_TRUE(ParseDateTime(events[i].time.substr(0, 10) + "T" + events[i].time.substr(11)));
    if (i + 1 < events.size()) {
      EXPECT_GT(events[i].time, events[i + 1].time);
    }
    EXPECT_GT(events[i].frequency, 4600);
    EXPECT_LT(events[i].frequency, 5300);
    // Pairs, newest first: a reconnection follows its disconnection, the new time the old
    // one, a start the stop.
    for (const auto& [first, then] : {std::pair{2, 3}, std::pair{18, 17}, std::pair{0, 1}}) {
      if (events[i].code == first) {
        ASSERT_GT(i, 0U);
        EXPECT_EQ(events[i - 1].code, then);
      }
    }
  }
  EXPECT_EQ(ReadRegisters(model, 0x4100 + 8 * 10, 8), std::vector<std::uint16_t>(8, 0));

  // Outside the ring of 31 slots, and writes anywhere in it, are illegal data addresses.
  for (const auto& request :
       {ReadRequest(0x03, 0x4100 + 8 * 31, 8), ReadRequest(0x03, 0x4100 + 8 * 30, 16),
        ReadRequest(0x03, 0x40FF, 2), WriteRequest(0x44, {0}), WriteRequest(0x45, {2}),
        WriteRequest(0x4100, {1, 2})}) {
    EXPECT_EQ(Hex(model.Handle(request)->bytes).substr(3, 5), request[1] == 3 ? "83 02" : "90 02");
  }
  ASSERT_TRUE(model.MakeHistory(32, 0));  // 2015 slots: the last one ends at 0x7FFF
  EXPECT_EQ(ReadRegisters(model, 0x45, 1), std::vector<std::uint16_t>{32});
  EXPECT_EQ(ReadRegisters(model, 0x4100 + 8 * 2014, 8).size(), 8U);
  EXPECT_EQ(Hex(model.Handle(ReadRequest(0x03, 0x4100 + 8 * 2015, 8))->bytes), "01 83 02 C0 F1");
}

TEST(SimHistory, WrapAroundEmptyRingAndClearing) {
  RelayModel model = StoppedAt("2026-12-09T10:20:30", 1, 40);
  EXPECT_EQ(ReadRegisters(model, 0x44, 1), std::vector<std::uint16_t>{40 - 31});
  const auto sample = SampleEvents(40, *ParseDateTime("2026-12-09T10:20:30"));
  const auto held = model.Events();
  ASSERT_EQ(held.size(), 31U);
  for (std::size_t i = 0; i < held.size(); ++i) EXPECT_EQ(held[i], sample[39 - i]) << i;
  EXPECT_EQ(Walk(model).size(), 31U);

  EXPECT_EQ(Hex(model.Handle(WriteRequest(0x8001, {3470}))->bytes), "01 90 03 0C 01");
  EXPECT_EQ(model.Events().size(), 31U);
  EXPECT_EQ(Hex(model.Handle(WriteRequest(0x8001, {3471}))->bytes), "01 10 80 01 00 01 79 C9");
  EXPECT_EQ(ReadRegisters(model, 0x44, 2), (std::vector<std::uint16_t>{0, 1}));
  for (int slot : {0, 8, 9, 30})
    EXPECT_EQ(ReadRegisters(model, static_cast<std::uint16_t>(0x4100 + 8 * slot), 8),
              std::vector<std::uint16_t>(8, 0))
        << slot;
  EXPECT_TRUE(Walk(model).empty());

  RelayModel empty = StoppedAt("2026-12-09T10:20:30", 3, 0);
  EXPECT_EQ(ReadRegisters(empty, 0x44, 2), (std::vector<std::uint16_t>{0, 3}));
  EXPECT_TRUE(Walk(empty).empty());
}

TEST(SimHistory, TheRelayWritesEventsOnTripsAndWrites) {
  RelayConfig config;
  config.history_fill = 0;
  RelayModel model(config);
  auto live = std::make_shared<LiveValues>(LiveConfig{.noise = false});
  AttachLiveValues(model, live);
  const auto t0 = Steady::now();
  model.SetClock(*ParseDateTime("2026-12-09T10:20:00"), true, t0);

  live->SetVoltage(0, 1902);
  live->Trip(*ParseStage("U<", 14), 1s, std::nullopt, t0 + 1s);  // reconnects at t0 + 2 s
  ASSERT_TRUE(model.Handle(ReadRequest(0x04, 0, 16), t0 + 3s));
  ASSERT_TRUE(model.Handle(WriteRequest(8, {200}), t0 + 4s));           // settings
  ASSERT_TRUE(model.Handle(WriteRequest(0x18, {1001, 999}), t0 + 5s));  // calibration
  ASSERT_TRUE(model.Handle(WriteRequest(0x40, {0x0000, 0x0000, 0x0101, 2030}), t0 + 6s));
  ASSERT_TRUE(
      model.Handle(WriteRequest(0x40, {0x0000, 0x0000, 0x0D01, 2030}), t0 + 7s));  // refused

  std::vector<std::string> seen;
  for (const Decoded& e : Walk(model)) {
    seen.push_back(e.time + " " + std::to_string(e.code) + " " + std::to_string(e.frequency) + " " +
                   std::to_string(e.u1));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "2030-01-01 00:00:00 17 5000 190",  // the new time
                      "2026-12-09 10:20:06 18 5000 190",  // the time before
                      "2026-12-09 10:20:05 19 5000 190",
                      "2026-12-09 10:20:04 16 5000 190",
                      "2026-12-09 10:20:02 3 5000 190",
                      "2026-12-09 10:20:01 2 5000 190",
                  }));
  // A trip that is tripped again before its countdown ends reconnects once, at the end.
  live->Trip(*ParseStage("f>", 14), 2s, std::nullopt, t0 + 8s);
  live->Trip(*ParseStage("f>", 14), 2s, std::nullopt, t0 + 9s);
  ASSERT_TRUE(model.Handle(ReadRequest(0x04, 0, 1), t0 + 20s));
  std::vector<int> codes;
  for (const EventRecord& e : model.Events()) codes.push_back(static_cast<int>(e.code));
  EXPECT_EQ(codes, (std::vector<int>{3, 2, 2, 17, 18, 19, 16, 3, 2}));
}

}  // namespace
}  // namespace nx480::sim
