// One live snapshot as the recorder keeps it and the trend reads it back: the PC's time, the
// values in units, and the picked-up and tripped state of each protection stage. Plain data, no
// Qt; the recording's file format (one line per sample) is recording.h's.
#pragma once

#include <cstdint>
#include <limits>

#include "live_view.h"

namespace nx480 {

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

struct RecordingSample {
  int64_t pcMillis = 0;      // the PC's time: milliseconds since 1970-01-01 UTC
  int utcOffsetMinutes = 0;  // the PC's offset from UTC at that moment (the ISO text's +01:00)
  double u[3] = {kNoValue, kNoValue, kNoValue};    // U1, U2, U3 in volts
  double f = kNoValue;                             // frequency in hertz
  double avg[3] = {kNoValue, kNoValue, kNoValue};  // 10-minute averages in volts (NaN: none)
  double countdown = kNoValue;    // the reconnection countdown in seconds (NaN: none)
  double temperature = kNoValue;  // degrees Celsius (NaN: the relay has none)
  uint16_t pickedUp = 0;          // bit i: stage kStages[i] picked up
  uint16_t tripped = 0;           // bit i: stage kStages[i] tripped

  bool PickedUp(Stage s) const { return (pickedUp >> static_cast<int>(s)) & 1u; }
  bool Tripped(Stage s) const { return (tripped >> static_cast<int>(s)) & 1u; }
};

}  // namespace nx480
