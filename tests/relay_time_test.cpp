// Date-time values of the relay's clock: the decoding of its registers with the validity
// rules, the encoding of the time that sets it, and the PC's local time.
#include "relay_time.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <cmath>
#include <cstdlib>
#include <string>

#include "local_time.h"

using namespace nx480;

namespace {

void SetZone(const char* zone) {
#ifdef _WIN32
  ::_putenv_s("TZ", zone);
  ::_tzset();
#else
  if (*zone)
    ::setenv("TZ", zone, 1);
  else
    ::unsetenv("TZ");
  ::tzset();
#endif
}

double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return ComposeDateTime(EncodeDate(y, mo, d).value(), EncodeTime(h, mi, s, ms).value());
}

}  // namespace

namespace nx480 {
void PrintTo(const CalendarTime& c, std::ostream* os) {
  *os << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute << ":"
      << c.second << "." << c.millisecond;
}
}  // namespace nx480

TEST(RelayTime, DaysCountFrom30December1899) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  // Before day 0 the time of day still counts forward within its day.
  EXPECT_EQ(SplitDateTime(-1.25), (CalendarTime{1899, 12, 29, 6, 0, 0, 0}));
  EXPECT_EQ(SplitDateTime(At(2026, 12, 9, 10, 20, 30, 450)),
            (CalendarTime{2026, 12, 9, 10, 20, 30, 450}));
  EXPECT_EQ(SplitDateTime(1e9), CalendarTime{});  // beyond year 9999
  // Every millisecond comes back as itself, although most are not exact in binary.
  for (int ms = 0; ms < 1000; ++ms)
    ASSERT_EQ(SplitDateTime(At(2026, 12, 9, 23, 59, 59, ms)).millisecond, ms);
}

TEST(RelayTime, DecodingTheClockRegisters) {
  struct Case {
    std::array<uint8_t, 8> data;  // s, 1/100 s, h, min, month, day, year high, year low
    CalendarTime expected;
  } cases[] = {
      {{30, 45, 10, 20, 12, 9, 0x07, 0xEA}, {2026, 12, 9, 10, 20, 30, 450}},
      {{0, 0, 0, 0, 0, 0, 0, 0}, {1899, 12, 30, 0, 0, 0, 0}},  // all zero: day 0
      {{59, 99, 23, 59, 2, 29, 0x07, 0xE8}, {2024, 2, 29, 23, 59, 59, 990}},
      // A date that does not exist counts 0 days; the time of day stays.
      {{5, 0, 8, 0, 2, 29, 0x07, 0xE9}, {1899, 12, 30, 8, 0, 5, 0}},  // 29.2. of a common year
      {{5, 0, 8, 0, 11, 31, 0x07, 0xE9}, {1899, 12, 30, 8, 0, 5, 0}},
      {{5, 0, 8, 0, 13, 1, 0x07, 0xE9}, {1899, 12, 30, 8, 0, 5, 0}},
      {{5, 0, 8, 0, 1, 0, 0x07, 0xE9}, {1899, 12, 30, 8, 0, 5, 0}},
      {{5, 0, 8, 0, 1, 1, 0, 0}, {1899, 12, 30, 8, 0, 5, 0}},  // year 0
      // A time that does not exist counts 0: the date alone.
      {{30, 100, 10, 20, 12, 9, 0x07, 0xEA}, {2026, 12, 9, 0, 0, 0, 0}},  // hundredths 100
      {{30, 255, 10, 20, 12, 9, 0x07, 0xEA}, {2026, 12, 9, 0, 0, 0, 0}},
      {{30, 0, 24, 0, 12, 9, 0x07, 0xEA}, {2026, 12, 9, 0, 0, 0, 0}},
      {{30, 0, 10, 60, 12, 9, 0x07, 0xEA}, {2026, 12, 9, 0, 0, 0, 0}},
      {{60, 0, 10, 20, 12, 9, 0x07, 0xEA}, {2026, 12, 9, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const double value = DecodeRelayClock(c.data);
    EXPECT_EQ(SplitDateTime(value), c.expected) << int(c.data[0]) << " " << int(c.data[1]);
  }
  EXPECT_EQ(DecodeRelayClock({}), 0.0);
}

TEST(RelayTime, SettingTheClockAddsTwentyMillisecondsBeforeTheDateIsSplit) {
  struct Case {
    double pc;
    std::array<uint8_t, 8> sent;
  } cases[] = {
      {At(2026, 12, 9, 10, 20, 30, 450), {30, 47, 10, 20, 12, 9, 0x07, 0xEA}},
      {At(2026, 6, 30, 23, 59, 59, 990), {0, 1, 0, 0, 7, 1, 0x07, 0xEA}},   // next day
      {At(2026, 12, 31, 23, 59, 59, 990), {0, 1, 0, 0, 1, 1, 0x07, 0xEB}},  // next year
      {At(2024, 2, 28, 23, 59, 59, 985), {0, 0, 0, 0, 2, 29, 0x07, 0xE8}},  // leap day, 5 ms
      {At(2026, 3, 1, 12, 0, 0, 9), {0, 2, 12, 0, 3, 1, 0x07, 0xEA}},       // 29 ms: 2/100
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeRelayClock(c.pc + kTwentyMilliseconds), c.sent);
    // What was sent reads back as the time sent, to the hundredth.
    const double back = DecodeRelayClock(c.sent);
    EXPECT_LT(std::fabs(back - (c.pc + kTwentyMilliseconds)) * 86400000, 10.0);
  }
}

TEST(RelayTime, LocalNowIsThePcsLocalTime) {
  const QDateTime before = QDateTime::currentDateTime();
  const CalendarTime now = SplitDateTime(LocalNow());
  const QDateTime local(QDate(now.year, now.month, now.day),
                        QTime(now.hour, now.minute, now.second, now.millisecond));
  EXPECT_LE(std::abs(before.msecsTo(local)), 1000) << local.toString().toStdString();
}

TEST(RelayTime, LocalTimeAtGivesTheFieldsAndTheOffsetOfItsMoment) {
  const char* const saved = std::getenv("TZ");
  const std::string savedZone = saved ? saved : "";
  // 2026-12-09 22:15:02 UTC and 2026-07-01 10:00:00 UTC.
  constexpr std::time_t kWinter = 1796854502, kSummer = 1782900000;
  const struct {
    const char* zone;
    std::time_t at;
    int year, month, day, hour, minute;
    long offset;
  } cases[] = {
      {"UTC0", kWinter, 2026, 12, 9, 22, 15, 0},
      {"IST-5:30", kWinter, 2026, 12, 10, 3, 45, 19800},
#ifdef _WIN32
      // The Windows C runtime reads TZ as a name, an offset and a summer time name only, and
      // applies summer time by rules of its own (UCRT: the USA's; Wine's: none), so zones with
      // summer time are checked where TZ carries its rules (POSIX) and not here.
      {"CET-1", kWinter, 2026, 12, 9, 23, 15, 3600},
      {"EST5", kSummer, 2026, 7, 1, 5, 0, -18000},
      {"NST3:30", kSummer, 2026, 7, 1, 6, 30, -12600},
#else
      {"CET-1CEST,M3.5.0,M10.5.0/3", kWinter, 2026, 12, 9, 23, 15, 3600},
      {"CET-1CEST,M3.5.0,M10.5.0/3", kSummer, 2026, 7, 1, 12, 0, 7200},
      {"EST5EDT,M3.2.0,M11.1.0", kSummer, 2026, 7, 1, 6, 0, -14400},
#endif
  };
  for (const auto& c : cases) {
    SetZone(c.zone);
    const std::optional<LocalTime> local = LocalTimeAt(c.at);
    ASSERT_TRUE(local) << c.zone;
    const std::tm& f = local->fields;
    EXPECT_EQ(f.tm_year + 1900, c.year) << c.zone;
    EXPECT_EQ(f.tm_mon + 1, c.month) << c.zone;
    EXPECT_EQ(f.tm_mday, c.day) << c.zone;
    EXPECT_EQ(f.tm_hour, c.hour) << c.zone;
    EXPECT_EQ(f.tm_min, c.minute) << c.zone;
    EXPECT_EQ(local->utcOffsetSeconds, c.offset) << c.zone;
  }
  SetZone(savedZone.c_str());
}
