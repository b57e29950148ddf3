// One record of the relay's event ring as the history window receives it: registers 0-7 of the
// slot, in register order, each already in host order. Light header: the Qt-free view code
// that decodes the record includes it.
//
//   0, 1  timestamp, bits 0-15 and 16-31     4     frequency in hundredths of a hertz
//   2     low byte: event code               5-7   U1, U2, U3 in volts
//   3     not used
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace nx480 {

inline constexpr size_t kHistoryRecordWords = 8;
using HistoryRecord = std::array<uint16_t, kHistoryRecordWords>;

}  // namespace nx480
