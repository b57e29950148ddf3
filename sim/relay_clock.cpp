#include "relay_clock.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace nx480::sim {
namespace {

namespace chr = std::chrono;

constexpr long long kMsPerDay = 86'400'000;

chr::sys_days Epoch() {
  return chr::sys_days{chr::year{2000} / chr::January / 1};
}

// Whole number of exactly `digits` digits at `pos` of `text`.
bool Digits(std::string_view text, std::size_t pos, std::size_t digits, int& out) {
  if (pos + digits > text.size()) return false;
  const char* first = text.data() + pos;
  const auto [end, ec] = std::from_chars(first, first + digits, out);
  return ec == std::errc() && end == first + digits;
}

}  // namespace

bool DateTime::Valid() const {
  const chr::year_month_day date{chr::year{year}, chr::month{static_cast<unsigned>(month)},
                                 chr::day{static_cast<unsigned>(day)}};
  return year >= 2000 && year <= 2099 && month >= 1 && day >= 1 && date.ok() && hour >= 0 &&
         hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59 &&
         hundredths >= 0 && hundredths <= 99;
}

std::optional<DateTime> ParseDateTime(std::string_view text) {
  DateTime t;
  // YYYY-MM-DD[T ]HH:MM[:SS[.h[h]]]
  if (text.size() < 16 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || !Digits(text, 0, 4, t.year) ||
      !Digits(text, 5, 2, t.month) || !Digits(text, 8, 2, t.day) || !Digits(text, 11, 2, t.hour) ||
      !Digits(text, 14, 2, t.minute))
    return std::nullopt;
  std::size_t pos = 16;
  if (pos < text.size()) {
    if (text[pos] != ':' || !Digits(text, pos + 1, 2, t.second)) return std::nullopt;
    pos += 3;
  }
  if (pos < text.size()) {
    const std::size_t digits = text.size() - pos - 1;
    if ((text[pos] != '.' && text[pos] != ',') || digits < 1 || digits > 2 ||
        !Digits(text, pos + 1, digits, t.hundredths))
      return std::nullopt;
    if (digits == 1) t.hundredths *= 10;
  }
  if (!t.Valid()) return std::nullopt;
  return t;
}

std::string FormatDateTime(const DateTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.hundredths);
  return text;
}

long long ToMilliseconds(const DateTime& t) {
  const chr::sys_days date{chr::year{t.year} / chr::month{static_cast<unsigned>(t.month)} /
                           chr::day{static_cast<unsigned>(t.day)}};
  const long long days = (date - Epoch()).count();
  return days * kMsPerDay + ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 +
         t.hundredths * 10LL;
}

DateTime FromMilliseconds(long long ms) {
  long long days = ms / kMsPerDay;
  long long rest = ms % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --days;
  }
  const chr::year_month_day date{Epoch() + chr::days{days}};
  DateTime t;
  t.year = static_cast<int>(date.year());
  t.month = static_cast<int>(static_cast<unsigned>(date.month()));
  t.day = static_cast<int>(static_cast<unsigned>(date.day()));
  t.hundredths = static_cast<int>(rest % 1000 / 10);
  rest /= 1000;
  t.second = static_cast<int>(rest % 60);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.hour = static_cast<int>(rest / 3600);
  return t;
}

std::array<std::uint16_t, 4> ClockRegisters(const DateTime& t) {
  auto pair = [](int high, int low) {
    return static_cast<std::uint16_t>((high & 0xFF) << 8 | (low & 0xFF));
  };
  return {pair(t.second, t.hundredths), pair(t.hour, t.minute), pair(t.month, t.day),
          static_cast<std::uint16_t>(t.year)};
}

std::optional<DateTime> FromClockRegisters(const std::array<std::uint16_t, 4>& r) {
  DateTime t;
  t.second = r[0] >> 8;
  t.hundredths = r[0] & 0xFF;
  t.hour = r[1] >> 8;
  t.minute = r[1] & 0xFF;
  t.month = r[2] >> 8;
  t.day = r[2] & 0xFF;
  t.year = r[3];
  if (!t.Valid()) return std::nullopt;
  return t;
}

DateTime PcLocalTime() {
  const auto now = chr::system_clock::now();
  const std::time_t seconds = chr::system_clock::to_time_t(now);
  std::tm local{};
#ifdef _WIN32
  ::localtime_s(&local, &seconds);
#else
  ::localtime_r(&seconds, &local);
#endif
  DateTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second
  const auto ms = chr::duration_cast<chr::milliseconds>(now.time_since_epoch()).count() % 1000;
  t.hundredths = static_cast<int>((ms < 0 ? ms + 1000 : ms) / 10);
  return t;
}

RelayClock::RelayClock(Steady::time_point now) {
  DateTime pc = PcLocalTime();
  if (!pc.Valid()) pc = DateTime{};  // a PC outside the relay's years
  Set(pc, true, now);
}

DateTime RelayClock::At(Steady::time_point at) const {
  long long ms = base_ms_;
  if (running_) ms += chr::duration_cast<chr::milliseconds>(at - base_).count();
  return FromMilliseconds(ms);
}

void RelayClock::Set(const DateTime& time, bool running, Steady::time_point now) {
  base_ms_ = ToMilliseconds(time);
  base_ = now;
  running_ = running;
}

}  // namespace nx480::sim
