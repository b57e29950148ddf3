// The relay's real-time clock: a calendar date and time of day to the hundredth of a second,
// running in real time from the moment it was set. At power-up it takes the PC's local time.
//
// On the wire it is holding registers 0x40-0x43 (high byte / low byte): seconds / hundredths,
// hours / minutes, month / day, year (all 16 bits). The relay keeps years 2000-2099.
//
// Not thread-safe; the relay model keeps it under the relay's lock.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nx480::sim {

struct DateTime {
  int year = 2000;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int hundredths = 0;

  // A date of the Gregorian calendar in 2000-2099 and a time of day with hours <= 23,
  // minutes and seconds <= 59, hundredths <= 99.
  bool Valid() const;
  bool operator==(const DateTime&) const = default;
};

// "2026-12-09T10:20:30.45", "2026-12-09 10:20:30", "2026-12-09T10:20" (seconds and hundredths
// may be left out; one fraction digit means tenths). nullopt unless the result is Valid().
std::optional<DateTime> ParseDateTime(std::string_view text);
// "2026-12-09T10:20:30.45"
std::string FormatDateTime(const DateTime& time);

// Milliseconds since 2000-01-01 00:00 of the same calendar, and back.
long long ToMilliseconds(const DateTime& time);
DateTime FromMilliseconds(long long ms);

// The four clock registers 0x40-0x43, and back (nullopt when they hold no valid time).
std::array<std::uint16_t, 4> ClockRegisters(const DateTime& time);
std::optional<DateTime> FromClockRegisters(const std::array<std::uint16_t, 4>& registers);

// The PC's local date and time now.
DateTime PcLocalTime();

class RelayClock {
 public:
  using Steady = std::chrono::steady_clock;

  // Runs from the PC's local time.
  explicit RelayClock(Steady::time_point now = Steady::now());

  // The relay's time at `at` (a moment before the last Set() is counted back from it).
  DateTime At(Steady::time_point at) const;
  DateTime Now() const { return At(Steady::now()); }

  // Sets the clock to `time` at `now`; a clock that does not run stays at `time`.
  void Set(const DateTime& time, bool running = true, Steady::time_point now = Steady::now());
  bool Running() const { return running_; }

 private:
  long long base_ms_ = 0;  // the time at base_, in ToMilliseconds() units
  Steady::time_point base_;
  bool running_ = true;
};

}  // namespace nx480::sim
