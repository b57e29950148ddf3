#include "calibration_record.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

#include "settings_record.h"
#include "translation.h"

namespace nx480 {

namespace {

struct FactorFormat {
  const char* caption;  // the box's label
  double unitsPerOne;   // record units of a factor of 1
  int width;            // printf width and precision: "%5.3f", "%6.4f"
  int precision;
  SpinnerRange spinner;
};
constexpr std::array<FactorFormat, kFactorCount> kFactors{{
    {"Kalibrace U1", 1000, 5, 3, {900, 1100}},
    {"Kalibrace U2", 1000, 5, 3, {900, 1100}},
    {"Kalibrace U3", 1000, 5, 3, {900, 1100}},
    {"Kalibrace Frekv", 10000, 6, 4, {9900, 10100}},
}};

constexpr int kSerialLow = kSerialLowWord;
constexpr int kSerialHigh = kSerialHighWord;
constexpr int kSerialDigits = 6;

// printf's "%<width>.<precision>f" without the C locale's say on the decimal point.
std::string Fixed(double v, int width, int precision) {
  char buf[64];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, precision);
  std::string text = ec == std::errc() ? std::string(buf, end) : std::string();
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

std::string OutOfRangeMessage(const FactorFormat& f, const std::string& text) {
  return Arg(
      translate("CalibrationRecord", "%1: '%2' je mimo rozsah %3 až %4"),
      {f.caption, text, Fixed(0, 0, f.precision), Fixed(65535 / f.unitsPerOne, 0, f.precision)});
}

}  // namespace

SpinnerRange FactorSpinnerRange(int factor) {
  return kFactors[factor].spinner;
}

int32_t SerialNumber(const CalibrationWords& record) {
  return static_cast<int32_t>(static_cast<uint32_t>(record[kSerialHigh]) << 16 |
                              record[kSerialLow]);
}

void CalibrationToBoxes(const CalibrationWords& record, CalibrationBoxes& boxes) {
  for (int i = 0; i < kFactorCount; ++i) {
    const FactorFormat& f = kFactors[i];
    boxes.factor[i] = Fixed(record[i] / f.unitsPerOne, f.width, f.precision);
    const int position = record[i];
    boxes.spinner[i] = position < f.spinner.min   ? f.spinner.min
                       : position > f.spinner.max ? f.spinner.max
                                                  : position;
  }
  boxes.serial = SerialNumberDigits(SerialNumber(record), kSerialDigits);
}

bool BoxesToCalibration(const CalibrationBoxes& boxes, CalibrationWords& record,
                        std::string& error) {
  // Built on a copy: a box that fails leaves the record as it was.
  CalibrationWords r = record;
  for (int i = 0; i < kFactorCount; ++i) {
    const FactorFormat& f = kFactors[i];
    const std::optional<double> number = ReadBoxNumber(boxes.factor[i]);
    if (!number) {
      error = InvalidNumberMessage(boxes.factor[i]);
      return false;
    }
    // A factor the word cannot hold is refused rather than written modulo 65536: 70 would go
    // out as 4.464.
    const double units = std::trunc(*number * f.unitsPerOne);
    if (units < 0 || units > 65535) {
      error = OutOfRangeMessage(f, boxes.factor[i]);
      return false;
    }
    r[i] = static_cast<uint16_t>(units);
  }
  std::optional<int32_t> serial = ReadBoxInteger(boxes.serial);
  // The box shows the 32 bits unsigned: above 2147483647 too.
  uint32_t unsignedSerial = 0;
  if (const auto [end, ec] = std::from_chars(
          boxes.serial.data(), boxes.serial.data() + boxes.serial.size(), unsignedSerial);
      !serial && ec == std::errc() && end == boxes.serial.data() + boxes.serial.size())
    serial = static_cast<int32_t>(unsignedSerial);
  if (!serial) {
    error = InvalidIntegerMessage(boxes.serial);
    return false;
  }
  const auto bits = static_cast<uint32_t>(*serial);
  r[kSerialLow] = static_cast<uint16_t>(bits & 0xFFFF);
  r[kSerialHigh] = static_cast<uint16_t>(bits >> 16);
  record = r;
  return true;
}

std::vector<std::string> DifferingNames(const CalibrationWords& a, const CalibrationWords& b) {
  std::vector<std::string> names;
  for (int i = 0; i < kFactorCount; ++i)
    if (a[i] != b[i]) names.emplace_back(kFactorNames[i]);
  if (SerialNumber(a) != SerialNumber(b)) names.emplace_back("s/n");
  for (int word : {4, 7})
    if (a[word] != b[word])
      names.push_back(Arg(translate("CalibrationRecord", "slovo %1"), {std::to_string(word)}));
  return names;
}

void SpinnersToCalibration(const std::array<int, kFactorCount>& positions,
                           CalibrationWords& record) {
  for (int i = 0; i < kFactorCount; ++i) record[i] = static_cast<uint16_t>(positions[i]);
}

}  // namespace nx480
