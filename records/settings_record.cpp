#include "settings_record.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "settings_compare.h"
#include "translation.h"

namespace nx480 {

namespace {

// Multiplied into every decimal box reading: 0.3 s * 10 is 2.9999999999999996 in binary
// floating point and would otherwise truncate to 2 steps.
constexpr double kReadingFactor = 1.00001;
constexpr double kNominalPercent = 100.0;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A decimal number at the start of `s` after blanks: sign, digits with an optional fraction,
// an optional exponent. Locale-independent.
std::optional<double> ParseLeadingDecimal(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  const size_t start = i;
  size_t digits = 0;
  while (i < n && IsDigit(s[i])) ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < n && IsDigit(s[j])) {
      while (j < n && IsDigit(s[j])) ++j;
      i = j;
    }
  }
  double value = 0;
  const auto [end, ec] = std::from_chars(s.data() + start, s.data() + i, value);
  if (ec != std::errc() || end != s.data() + i) return std::nullopt;
  return negative ? -value : value;
}

// trunc(v) reduced modulo 65536 (two's complement for negative values), for any finite v.
uint16_t Low16(double v) {
  double r = std::fmod(std::trunc(v), 65536.0);
  if (r < 0) r += 65536.0;
  return static_cast<uint16_t>(r);
}

// The decimal integer text of trunc(v), without limits on its size.
std::string IntegerText(double v) {
  double t = std::trunc(v);
  if (t == 0) t = 0;  // no "-0"
  return DecimalText(t, 0);
}

// printf's "%<width>.<precision>f" without the C locale's say on the decimal point.
std::string Fixed(double v, int width, int precision) {
  std::string text = DecimalText(v, precision);
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

// The order in which the boxes are read when the record is built: the first that gives no
// number is the one the message names.
constexpr int kReadingOrder[] = {kBoxUu1,  kBoxUu2,  kBoxUo1,  kBoxUo2,  kBoxUo3,  kBoxPUu1,
                                 kBoxPUu2, kBoxPUo1, kBoxPUo2, kBoxPUo3, kBoxFu1,  kBoxFu2,
                                 kBoxFo1,  kBoxFo2,  kBoxTRel, kBoxTUu1, kBoxTUu2, kBoxTUo2,
                                 kBoxTUo3, kBoxTFu1, kBoxTFu2, kBoxTFo1, kBoxTFo2, kBoxTUo1};
static_assert(std::size(kReadingOrder) == kBoxCount - 1, "every box but EditUn is read");

}  // namespace

int PartnerBox(int box) {
  if (IsVoltageBox(box)) return box + kVoltageBoxes;
  if (IsPercentBox(box)) return box - kVoltageBoxes;
  return -1;
}

int LogItemForSeconds(uint16_t seconds) {
  for (int i = 0; i < kLogItemCount; ++i) {
    if (kLogIntervals[i] >= seconds) return i;
  }
  return kLogItemCount - 1;
}

std::optional<double> ReadBoxNumber(std::string_view text) {
  std::string s(text);
  if (const size_t comma = s.find(','); comma != std::string::npos) s[comma] = '.';
  const std::optional<double> value = ParseLeadingDecimal(s);
  if (!value) return std::nullopt;
  const double scaled = *value * kReadingFactor;
  if (!std::isfinite(scaled)) return std::nullopt;
  return scaled;
}

std::optional<int32_t> ReadBoxInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return static_cast<int32_t>(value);
}

std::optional<std::string> PercentForVoltage(std::string_view volts, std::string_view un) {
  if (volts.empty()) return std::string();
  const std::optional<double> u = ReadBoxNumber(volts);
  const std::optional<double> nominal = ReadBoxNumber(un);
  if (!u || !nominal || *nominal == 0) return std::nullopt;
  return IntegerText(*u / *nominal * kNominalPercent + 0.5);
}

std::optional<std::string> VoltageForPercent(std::string_view percent, std::string_view un) {
  if (percent.empty()) return std::string();
  const std::optional<double> p = ReadBoxNumber(percent);
  const std::optional<double> nominal = ReadBoxNumber(un);
  if (!p || !nominal) return std::nullopt;
  return IntegerText(*nominal * *p * 0.01 + 0.5);
}

std::string InvalidIntegerMessage(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}

std::string InvalidNumberMessage(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid floating point value";
}

bool BoxesToSettings(const ParameterBoxes& boxes, const FirmwareFeatures& firmware,
                     SettingsWords& record, std::string& error) {
  // Every box read first: a box that gives no number fails the whole and leaves the record as
  // it was, instead of counting as 0. The percent boxes are not stored, but their voltages
  // follow them: a percent box without a number is refused too rather than written as whatever
  // the voltage box still holds.
  std::array<double, kBoxCount> number{};
  for (int box : kReadingOrder) {
    const std::string& text = boxes.text[box];
    if (IsVoltageBox(box)) {
      const std::optional<int32_t> volts = ReadBoxInteger(text);
      if (!volts) {
        error = InvalidIntegerMessage(text);
        return false;
      }
      number[box] = *volts;
    } else {
      const std::optional<double> value = ReadBoxNumber(text);
      if (!value) {
        error = InvalidNumberMessage(text);
        return false;
      }
      number[box] = *value;
    }
  }

  SettingsWords r = record;
  const ShownWord& shown = boxes.tRelShown;
  for (const SettingsParameter& p : SettingsParameters()) {
    switch (p.quantity) {
      case Quantity::Voltage:
        // A whole number, stored modulo 65536.
        SetParameterSteps(r, p, static_cast<uint16_t>(static_cast<int32_t>(number[p.box])));
        break;
      case Quantity::Frequency:
      case Quantity::Time:
        // An EdittRel still showing what SettingsToBoxes put there gives back its word.
        if (p.box == kBoxTRel && shown.timeScale == firmware.delayScale &&
            boxes.text[p.box] == shown.text) {
          SetParameterSteps(r, p, shown.word);
        } else {
          SetParameterSteps(r, p, Low16(number[p.box] * StepsPerUnit(p, firmware)));
        }
        break;
      case Quantity::Interval:
        if (boxes.logChosen) {
          const int log = boxes.logIndex < 0                ? 0
                          : boxes.logIndex >= kLogItemCount ? kLogItemCount - 1
                                                            : boxes.logIndex;
          SetParameterSteps(r, p, kLogIntervals[log]);
        }
        break;
      case Quantity::Phases:
        // With no item selected the mode is left as the record holds it: -1 * 256 would put
        // 0xFF into the relay's mode byte.
        if (boxes.fazeIndex >= 0)
          SetParameterSteps(r, p, static_cast<uint16_t>((boxes.fazeIndex & 0xFF) << 8));
        break;
    }
  }
  record = r;
  return true;
}

void SettingsToBoxes(const SettingsWords& record, const FirmwareFeatures& firmware,
                     ParameterBoxes& boxes) {
  for (const SettingsParameter& p : SettingsParameters()) {
    const double value = ParameterValue(record, p, firmware);
    switch (p.quantity) {
      case Quantity::Voltage:
        boxes.text[p.box] = DecimalText(value, 0);
        if (auto percent = PercentForVoltage(boxes.text[p.box], boxes.text[kBoxUn]))
          boxes.text[PartnerBox(p.box)] = *percent;
        break;
      case Quantity::Frequency:
      case Quantity::Time:
        // The boxes of a stage the firmware lacks are filled too (they are disabled).
        boxes.text[p.box] = Fixed(value, 4, p.decimals);
        if (p.box == kBoxTRel)
          boxes.tRelShown = {boxes.text[p.box], ParameterSteps(record, p), firmware.delayScale};
        break;
      case Quantity::Interval:
        if (HasParameter(firmware, p))
          boxes.logIndex = LogItemForSeconds(ParameterSteps(record, p));
        break;
      case Quantity::Phases:
        boxes.fazeIndex = value > 1 ? 1 : static_cast<int>(value);
        break;
    }
  }
  boxes.logChosen = false;
}

std::vector<std::string> DifferingNames(const SettingsWords& a, const SettingsWords& b) {
  std::vector<std::string> names;
  for (size_t row : DifferingRows(a, b)) names.push_back(PageRowName(row));
  return names;
}

std::string SetupCaption(bool parametryPage, const std::string& fileName, bool modified) {
  std::string caption = translate("SettingsRecord", "Nastavení");
  if (parametryPage && !fileName.empty()) {
    caption += " - " + fileName;
    if (modified) caption += "*";
  }
  return caption;
}

}  // namespace nx480
