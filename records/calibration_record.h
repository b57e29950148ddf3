// The calibration record and the "Kalibrace" boxes: conversions both ways and the spinners.
// Plain C++: the page hands the texts of its boxes over in a CalibrationBoxes and shows what
// comes back.
//
// Record words (holding registers 0x18-0x1F): 0-2 KalU1..KalU3 in thousandths (1000 = 1.000),
// 3 KalF in ten-thousandths (10000 = 1.0000), 4 and 7 carried unchanged, 5 and 6 the serial
// number's low and high 16 bits.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "calibration_words.h"
#include "serial_number.h"

namespace nx480 {

// The four factors, in the order of their boxes and record words.
enum CalibrationFactor : int { kKalU1, kKalU2, kKalU3, kKalF, kFactorCount };

// The factors' short names (the boxes' names without "Edit"; nx480ctl's names).
inline constexpr const char* kFactorNames[kFactorCount] = {"KalU1", "KalU2", "KalU3", "KalF"};

// A factor's spinner: its range (step 1, no wrap-around); it starts at the lower end.
struct SpinnerRange {
  int min;
  int max;
};
SpinnerRange FactorSpinnerRange(int factor);

// The texts of the boxes and the spinner positions of the page.
struct CalibrationBoxes {
  std::array<std::string, kFactorCount> factor{};
  std::string serial;
  std::array<int, kFactorCount> spinner{900, 900, 900, 9900};
};

// The serial number: words 5 and 6 as a signed 32-bit value.
int32_t SerialNumber(const CalibrationWords& record);

// Fills the boxes from the record: the voltage factors "%5.3f", the frequency factor "%6.4f",
// the spinners at the words (held within their ranges), the serial number "%06i" when it is
// greater than 0 and an empty box otherwise.
void CalibrationToBoxes(const CalibrationWords& record, CalibrationBoxes& boxes);

// Builds the record from the boxes: each factor trunc(number * 1000), KalF trunc(number *
// 10000), the number read as the "Parametry" boxes read theirs (a comma for the point); the
// serial number a whole decimal number. Words 4 and 7 are not touched. A factor box without a
// number, a factor that the record's 16-bit word cannot hold (below 0, or above 65.535 and
// 6.5535), or a serial box that is not a whole number fails the whole operation: the record is
// left unchanged and `error` holds the message.
bool BoxesToCalibration(const CalibrationBoxes& boxes, CalibrationWords& record,
                        std::string& error);

// What differs between two records, in the page's order: the factors by kFactorNames, "s/n"
// (words 5 and 6), then the carried words as "slovo 4", "slovo 7" (translated: "word 4").
std::vector<std::string> DifferingNames(const CalibrationWords& a, const CalibrationWords& b);

// A spinner click: words 0-3 take the positions of all four spinners.
void SpinnersToCalibration(const std::array<int, kFactorCount>& positions,
                           CalibrationWords& record);

}  // namespace nx480
