#include "local_time.h"

namespace nx480 {

std::optional<LocalTime> LocalTimeAt(std::time_t seconds) {
  LocalTime local;
#ifdef _WIN32
  if (::localtime_s(&local.fields, &seconds) != 0) return std::nullopt;
  // The fields read as a time at UTC, less the moment, are the offset (with summer time).
  std::tm copy = local.fields;
  const std::time_t asUtc = ::_mkgmtime(&copy);
  if (asUtc == static_cast<std::time_t>(-1)) return std::nullopt;
  local.utcOffsetSeconds = static_cast<long>(asUtc - seconds);
#else
  if (!::localtime_r(&seconds, &local.fields)) return std::nullopt;
  local.utcOffsetSeconds = local.fields.tm_gmtoff;
#endif
  return local;
}

}  // namespace nx480
