#include "relay_time.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "local_time.h"

namespace nx480 {

namespace {

using namespace std::chrono;

constexpr long long kMillisecondsPerDay = 86400000;
constexpr sys_days kDayZero = sys_days{year{1899} / December / 30};
constexpr int kFirstYear = 1;
constexpr int kLastYear = 9999;

}  // namespace

std::optional<double> EncodeDate(int y, int m, int d) {
  if (y < kFirstYear || y > kLastYear || m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
  const year_month_day date{year{y}, month{static_cast<unsigned>(m)},
                            day{static_cast<unsigned>(d)}};
  if (!date.ok()) return std::nullopt;
  return static_cast<double>((sys_days{date} - kDayZero).count());
}

std::optional<double> EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return std::nullopt;
  const long long ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(ms) / kMillisecondsPerDay;
}

double ComposeDateTime(double day, double time) {
  return day >= 0 ? day + time : day - time;
}

CalendarTime SplitDateTime(double value) {
  static const double kFirst = *EncodeDate(kFirstYear, 1, 1) - 1;
  static const double kLast = *EncodeDate(kLastYear, 12, 31) + 1;
  if (!std::isfinite(value) || value <= kFirst || value >= kLast) return {};
  const long long ms = std::llround(value * kMillisecondsPerDay);
  // Towards zero: before day 0 the fraction is the time of that (negative) day.
  const long long days = ms / kMillisecondsPerDay;
  const long long time = (ms < 0 ? -ms : ms) % kMillisecondsPerDay;
  const year_month_day date{kDayZero + sys_days::duration{days}};
  const int y = static_cast<int>(date.year());
  if (y < kFirstYear || y > kLastYear) return {};
  CalendarTime c;
  c.year = y;
  c.month = static_cast<int>(static_cast<unsigned>(date.month()));
  c.day = static_cast<int>(static_cast<unsigned>(date.day()));
  c.hour = static_cast<int>(time / 3600000);
  c.minute = static_cast<int>(time / 60000 % 60);
  c.second = static_cast<int>(time / 1000 % 60);
  c.millisecond = static_cast<int>(time % 1000);
  return c;
}

double DecodeRelayClock(const std::array<uint8_t, 8>& data) {
  const int seconds = data[0];
  const int hundredths = data[1];
  const int hours = data[2];
  const int minutes = data[3];
  const int month = data[4];
  const int day = data[5];
  const int year = data[6] << 8 | data[7];
  const double date = EncodeDate(year, month, day).value_or(0);
  // Hundredths above 99 make a second or more: no valid time, like minute 60.
  const double time = EncodeTime(hours, minutes, seconds, hundredths * 10).value_or(0);
  return ComposeDateTime(date, time);
}

std::array<uint8_t, 8> EncodeRelayClock(double value) {
  const CalendarTime c = SplitDateTime(value);
  return {static_cast<uint8_t>(c.second),    static_cast<uint8_t>(c.millisecond / 10),
          static_cast<uint8_t>(c.hour),      static_cast<uint8_t>(c.minute),
          static_cast<uint8_t>(c.month),     static_cast<uint8_t>(c.day),
          static_cast<uint8_t>(c.year >> 8), static_cast<uint8_t>(c.year & 0xFF)};
}

double LocalNow() {
  const auto now = system_clock::now();
  const auto sinceEpoch = duration_cast<milliseconds>(now.time_since_epoch());
  const auto whole = floor<seconds>(sinceEpoch);
  const std::time_t secs = static_cast<std::time_t>(whole.count());
  const std::tm local = LocalTimeAt(secs).value_or(LocalTime{}).fields;
  const double date = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday).value_or(0);
  // A leap second (tm_sec 60) counts as the last moment of its minute.
  const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
  const double time = EncodeTime(local.tm_hour, local.tm_min, second,
                                 static_cast<int>((sinceEpoch - whole).count()))
                          .value_or(0);
  return ComposeDateTime(date, time);
}

}  // namespace nx480
