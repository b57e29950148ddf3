#include "settings_record.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

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
uint8_t Low8(double v) {
  return static_cast<uint8_t>(Low16(v) & 0xFFu);
}

// The decimal integer text of trunc(v), without limits on its size.
std::string IntegerText(double v) {
  double t = std::trunc(v);
  if (t == 0) t = 0;  // no "-0"
  char buf[400];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, t, std::chars_format::fixed, 0);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

// printf's "%<width>.<precision>f" without the C locale's say on the decimal point.
std::string Fixed(double v, int width, int precision) {
  char buf[400];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, precision);
  std::string text = ec == std::errc() ? std::string(buf, end) : std::string();
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

struct VoltageWord {
  int box;
  int word;
};
constexpr std::array<VoltageWord, kVoltageBoxes> kVoltageWords{{{kBoxUu1, kWordUu1},
                                                                {kBoxUu2, kWordUu2},
                                                                {kBoxUo1, kWordUo1},
                                                                {kBoxUo2, kWordUo2},
                                                                {kBoxUo3, kWordUo3}}};

struct FrequencyWord {
  int box;
  int word;
};
constexpr std::array<FrequencyWord, 4> kFrequencyWords{
    {{kBoxFu1, kWordFu1}, {kBoxFu2, kWordFu2}, {kBoxFo1, kWordFo1}, {kBoxFo2, kWordFo2}}};

// Words 0-3: two delays each, the first box in the low byte.
struct DelayPair {
  int word;
  int lowBox;
  int highBox;
};
constexpr std::array<DelayPair, 4> kDelayPairs{{{kWordTUu, kBoxTUu1, kBoxTUu2},
                                                {kWordTUo, kBoxTUo2, kBoxTUo3},
                                                {kWordTFu, kBoxTFu1, kBoxTFu2},
                                                {kWordTFo, kBoxTFo1, kBoxTFo2}}};

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
  // Built on a copy: a box that fails leaves the record as it was.
  SettingsWords r = record;

  for (const VoltageWord& v : kVoltageWords) {
    const std::optional<int32_t> volts = ReadBoxInteger(boxes.text[v.box]);
    if (!volts) {
      error = InvalidIntegerMessage(boxes.text[v.box]);
      return false;
    }
    r[v.word] = static_cast<uint16_t>(static_cast<uint32_t>(*volts));
  }

  bool ok = true;
  // A decimal box that holds no number stops the operation instead of counting as 0.
  auto number = [&](int box) -> double {
    if (!ok) return 0;
    const std::optional<double> value = ReadBoxNumber(boxes.text[box]);
    if (!value) {
      ok = false;
      error = InvalidNumberMessage(boxes.text[box]);
      return 0;
    }
    return *value;
  };

  // The percent boxes are not stored, but their voltages follow them: a percent box without a
  // number is refused too rather than written as whatever the voltage box still holds.
  for (int box = kBoxPUu1; box <= kBoxPUo3; ++box) number(box);

  const int scale = firmware.delayScale;
  for (const FrequencyWord& f : kFrequencyWords) r[f.word] = Low16(number(f.box) * 10);
  const ShownWord& shown = boxes.tRelShown;
  if (shown.timeScale == scale && boxes.text[kBoxTRel] == shown.text) {
    number(kBoxTRel);
    r[kWordTRel] = shown.word;
  } else {
    r[kWordTRel] = Low16(number(kBoxTRel) * scale);
  }
  for (const DelayPair& d : kDelayPairs) {
    const uint8_t low = Low8(number(d.lowBox) * scale);
    const uint8_t high = Low8(number(d.highBox) * scale);
    r[d.word] = static_cast<uint16_t>(high << 8 | low);
  }
  r[kWordTUo1] = Low16(number(kBoxTUo1) * scale);
  if (!ok) return false;

  if (boxes.logChosen) {
    const int log = boxes.logIndex < 0                ? 0
                    : boxes.logIndex >= kLogItemCount ? kLogItemCount - 1
                                                      : boxes.logIndex;
    r[kWordLog] = kLogIntervals[log];
  }
  // With no item selected the mode is left as the record holds it: -1 * 256 would put 0xFF into
  // the relay's mode byte.
  if (boxes.fazeIndex >= 0) r[kWordFaze] = static_cast<uint16_t>((boxes.fazeIndex & 0xFF) << 8);

  record = r;
  return true;
}

void SettingsToBoxes(const SettingsWords& record, const FirmwareFeatures& firmware,
                     ParameterBoxes& boxes) {
  for (const VoltageWord& v : kVoltageWords) {
    boxes.text[v.box] = std::to_string(record[v.word]);
    if (auto percent = PercentForVoltage(boxes.text[v.box], boxes.text[kBoxUn]))
      boxes.text[PartnerBox(v.box)] = *percent;
  }
  const double scale = firmware.delayScale;
  for (const FrequencyWord& f : kFrequencyWords)
    boxes.text[f.box] = Fixed(record[f.word] * 0.1, 4, 1);
  boxes.text[kBoxTRel] = Fixed(record[kWordTRel] / scale, 4, 1);
  boxes.tRelShown = {boxes.text[kBoxTRel], record[kWordTRel], static_cast<int>(scale)};
  for (const DelayPair& d : kDelayPairs) {
    boxes.text[d.lowBox] = Fixed((record[d.word] & 0xFF) / scale, 4, 2);
    boxes.text[d.highBox] = Fixed((record[d.word] >> 8) / scale, 4, 2);
  }
  boxes.text[kBoxTUo1] = Fixed(record[kWordTUo1] / scale, 4, 2);
  if (firmware.logInterval) boxes.logIndex = LogItemForSeconds(record[kWordLog]);
  boxes.logChosen = false;
  const int faze = record[kWordFaze] >> 8;
  boxes.fazeIndex = faze > 1 ? 1 : faze;
}

std::string SetupCaption(bool parametryPage, const std::string& fileName, bool modified) {
  std::string caption = "Nastavení";
  if (parametryPage && !fileName.empty()) {
    caption += " - " + fileName;
    if (modified) caption += "*";
  }
  return caption;
}

}  // namespace nx480
