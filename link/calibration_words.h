// The calibration record: 8 words, word n being the relay's holding register 0x18 + n, in host
// byte order. Shared by the calibration transactions and the "Kalibrace" page.
//   0-2 KalU1..KalU3 (thousandths)   3 KalF (ten-thousandths)   4 carried unchanged
//   5 serial number bits 0-15   6 serial number bits 16-31   7 carried unchanged
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace nx480 {

inline constexpr size_t kCalibrationWords = 8;
using CalibrationWords = std::array<uint16_t, kCalibrationWords>;

}  // namespace nx480
