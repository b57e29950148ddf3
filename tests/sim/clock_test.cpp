// The relay's real-time clock: the text and register forms, and the clock registers on the
// wire, running, set and refused.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "relay_clock.h"
#include "relay_model.h"
#include "test_util.h"

namespace nx480::sim {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;
using test::ReadRequest;
using test::WriteRequest;

const std::string kReadClock = "01 03 00 40 00 04 45 DD";

std::string Ask(RelayModel& model, const std::vector<std::uint8_t>& frame,
                RelayModel::Steady::time_point now) {
  const auto reply = model.Handle(frame, now);
  return reply ? Hex(reply->bytes) : "(none)";
}

TEST(SimClock, TextFormsAndCalendar) {
  struct Case {
    const char* text;
    const char* parsed;  // nullptr: refused
  } cases[] = {
      {"2026-12-09T10:20:30.45", "2026-12-09T10:20:30.45"},
      {"2026-12-09 10:20:30,4", "2026-12-09T10:20:30.40"},
      {"2026-12-09T10:20", "2026-12-09T10:20:00.00"},
      {"2028-02-29T00:00:00", "2028-02-29T00:00:00.00"},
      {"2000-01-01T00:00:00.00", "2000-01-01T00:00:00.00"},
      {"2099-12-31T23:59:59.99", "2099-12-31T23:59:59.99"},
      {"2027-02-29T10:00", nullptr},
      {"2026-11-31T10:00", nullptr},
      {"2026-13-01T10:00", nullptr},
      {"2026-00-01T10:00", nullptr},
      {"2026-12-00T10:00", nullptr},
      {"2026-12-09T24:00", nullptr},
      {"2026-12-09T10:60", nullptr},
      {"2026-12-09T10:20:60", nullptr},
      {"1999-12-31T23:59", nullptr},
      {"2100-01-01T00:00", nullptr},
      {"2026-12-09T10:20:30.456", nullptr},
      {"2026-12-09", nullptr},
      {"2026-12-09T10:20:3", nullptr},
      {"2026/12/09T10:20", nullptr},
  };
  for (const Case& c : cases) {
    const auto t = ParseDateTime(c.text);
    if (c.parsed == nullptr) {
      EXPECT_FALSE(t) << c.text;
    } else {
      ASSERT_TRUE(t) << c.text;
      EXPECT_EQ(FormatDateTime(*t), c.parsed);
    }
  }
  // Counting on in milliseconds crosses days, months, leap days and years.
  for (const auto& [from, plus, to] :
       {std::tuple{"2026-12-31T23:59:59.99", 10LL, "2027-01-01T00:00:00.00"},
        std::tuple{"2028-02-28T23:00:00", 3'600'000LL, "2028-02-29T00:00:00.00"},
        std::tuple{"2027-02-28T23:00:00", 3'600'000LL, "2027-03-01T00:00:00.00"},
        std::tuple{"2026-12-09T10:20:30.45", -86'400'000LL * 365, "2025-12-09T10:20:30.45"}}) {
    EXPECT_EQ(FormatDateTime(FromMilliseconds(ToMilliseconds(*ParseDateTime(from)) + plus)), to)
        << from;
  }
}

TEST(SimClock, RegistersRunFromTheSetTimeAndWritesSetIt) {
  RelayConfig config;
  config.clock = ParseDateTime("2026-12-09T10:20:30.45");
  config.clock_running = false;
  RelayModel stopped(config);
  const auto t0 = RelayModel::Steady::now();
  EXPECT_EQ(Ask(stopped, Bytes(kReadClock), t0), "01 03 08 1E 2D 0A 14 0C 09 07 EA 88 11");
  EXPECT_EQ(Ask(stopped, Bytes(kReadClock), t0 + 5s), "01 03 08 1E 2D 0A 14 0C 09 07 EA 88 11");

  RelayModel model;
  model.SetClock(*ParseDateTime("2026-12-31T23:59:59.00"), true, t0);
  EXPECT_EQ(FormatDateTime(model.ClockAt(t0 + 1500ms)), "2027-01-01T00:00:00.50");
  // A read sees the time at which the request arrived.
  EXPECT_EQ(Ask(model, ReadRequest(0x03, 0x40, 4), t0 + 1500ms).substr(0, 32),
            "01 03 08 00 32 00 00 01 01 07 EB");

  // The whole clock written at once: 2099-12-31 23:59:59.99, and it runs on from there.
  EXPECT_EQ(Ask(model, WriteRequest(0x40, {0x3B63, 0x173B, 0x0C1F, 0x0833}), t0 + 2s),
            "01 10 00 40 00 04 C0 1E");
  EXPECT_EQ(FormatDateTime(model.ClockAt(t0 + 2s)), "2099-12-31T23:59:59.99");
  EXPECT_TRUE(model.ClockRunning());
  // The year alone; the other fields keep running.
  EXPECT_EQ(Ask(model, WriteRequest(0x43, {2032}), t0 + 2s).substr(0, 17), "01 10 00 43 00 01");
  EXPECT_EQ(FormatDateTime(model.ClockAt(t0 + 2s)), "2032-12-31T23:59:59.99");

  // Impossible dates and times are refused and change nothing.
  const std::vector<std::uint16_t> refused[] = {
      {0x0000, 0x0A00, 0x0D01, 2030},  // month 13
      {0x0000, 0x0A00, 0x0001, 2030},  // month 0
      {0x0000, 0x0A00, 0x0B1F, 2030},  // 31 November
      {0x0000, 0x0A00, 0x021D, 2031},  // 29 February of a common year
      {0x0000, 0x0A00, 0x0100, 2030},  // day 0
      {0x0000, 0x1800, 0x0101, 2030},  // 24:00
      {0x0000, 0x0A3C, 0x0101, 2030},  // minute 60
      {0x3C00, 0x0A00, 0x0101, 2030},  // second 60
      {0x0064, 0x0A00, 0x0101, 2030},  // hundredths 100
      {0x0000, 0x0A00, 0x0101, 1999},  //
      {0x0000, 0x0A00, 0x0101, 0},     //
  };
  for (const auto& values : refused) {
    EXPECT_EQ(Ask(model, WriteRequest(0x40, values), t0 + 2s), "01 90 03 0C 01")
        << values[0] << " " << values[1] << " " << values[2] << " " << values[3];
  }
  EXPECT_EQ(Ask(model, WriteRequest(0x43, {2100}), t0 + 2s), "01 90 03 0C 01");
  // Only the clock registers: a write that runs into them from outside is refused too.
  EXPECT_EQ(Ask(model, WriteRequest(0x3F, {0, 0x1E2D}), t0 + 2s), "01 90 02 CD C1");
  EXPECT_EQ(FormatDateTime(model.ClockAt(t0 + 2s)), "2032-12-31T23:59:59.99");
}

}  // namespace
}  // namespace nx480::sim
