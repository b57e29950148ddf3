// The PC's local time of a moment: the calendar fields and the offset from UTC, as the time zone
// the system is set to gives them. One call for every platform (POSIX localtime_r and tm_gmtoff;
// Windows localtime_s and the offset computed back through _mkgmtime). A light header.
#pragma once

#include <ctime>
#include <optional>

namespace nx480 {

struct LocalTime {
  std::tm fields{};           // tm_year from 1900, tm_mon from 0, as localtime gives them
  long utcOffsetSeconds = 0;  // local minus UTC: +3600 in Central European winter time
};

// `seconds` since 1970 (UTC) in the PC's time zone; nullopt when the system cannot convert it.
std::optional<LocalTime> LocalTimeAt(std::time_t seconds);

}  // namespace nx480
