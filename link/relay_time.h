// Date-time values of the relay's clock and the PC's: days since 30 December 1899 00:00 as a
// double, the fraction being the time of day (0.5 is noon). Dates before that day count
// negative, with the time of day still added as a positive fraction of the day's length:
// -1.25 is 29 December 1899 06:00.
//
// The clock registers 0x40-0x43 carry, high byte first: seconds, hundredths, hours, minutes,
// month, day of the month, year (16 bits).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace nx480 {

// 20 ms as a fraction of a day: what the clock write adds to the PC's time for the way to the
// relay.
inline constexpr double kTwentyMilliseconds = 20.0 / 86400000.0;

// A date-time value's calendar date and time of day, to the millisecond.
struct CalendarTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  bool operator==(const CalendarTime&) const = default;
};

// The day of a Gregorian date (years 1-9999), or nullopt for a date that does not exist.
std::optional<double> EncodeDate(int year, int month, int day);
// The fraction of a time of day, or nullopt for hours above 23, minutes or seconds above 59, or
// milliseconds above 999.
std::optional<double> EncodeTime(int hour, int minute, int second, int millisecond);
// Date plus time, as the value counts them (see above). `day` from EncodeDate, `time` from
// EncodeTime.
double ComposeDateTime(double day, double time);
// The value rounded to the nearest millisecond and split; 23:59:59.9996 is the next day.
// Values outside years 1-9999 give 30 December 1899 00:00.
CalendarTime SplitDateTime(double value);

// The relay's clock from the 8 data bytes of the clock registers. A date that does not exist
// (month outside 1-12, a day the month does not have, year 0) contributes 0 days, a time of day
// that does not exist (hours above 23, minutes or seconds above 59, hundredths above 99)
// contributes 0: eight zero bytes are day 0, 30 December 1899 00:00.
double DecodeRelayClock(const std::array<uint8_t, 8>& data);
// The 8 data bytes that set the relay's clock to `value` (the hundredths truncated from the
// milliseconds).
std::array<uint8_t, 8> EncodeRelayClock(double value);

// The PC's local date and time now, to the millisecond.
double LocalNow();

}  // namespace nx480
