#include "settings_table.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace nx480 {

bool ThreePhase(double mode) {
  return mode >= 1;
}

std::span<const SettingsParameter> SettingsParameters() {
  return kSettingsParameters;
}

const SettingsParameter* FindSettingsParameter(std::string_view name) {
  for (const SettingsParameter& p : kSettingsParameters)
    if (p.name == name) return &p;
  return nullptr;
}

bool HasParameter(const FirmwareFeatures& firmware, const SettingsParameter& parameter) {
  return parameter.feature == nullptr || firmware.*parameter.feature;
}

uint16_t ParameterMask(const SettingsParameter& parameter) {
  switch (parameter.part) {
    case WordPart::LowByte:
      return 0x00FF;
    case WordPart::HighByte:
      return 0xFF00;
    case WordPart::Whole:
      break;
  }
  return 0xFFFF;
}

bool ParameterDiffers(const SettingsWords& a, const SettingsWords& b,
                      const SettingsParameter& parameter) {
  return ((a[parameter.word] ^ b[parameter.word]) & ParameterMask(parameter)) != 0;
}

uint16_t ParameterSteps(const SettingsWords& record, const SettingsParameter& parameter) {
  const uint16_t word = record[parameter.word];
  switch (parameter.part) {
    case WordPart::LowByte:
      return word & 0xFF;
    case WordPart::HighByte:
      return word >> 8;
    case WordPart::Whole:
      break;
  }
  return word;
}

void SetParameterSteps(SettingsWords& record, const SettingsParameter& parameter, uint16_t steps) {
  uint16_t& word = record[parameter.word];
  switch (parameter.part) {
    case WordPart::LowByte:
      word = static_cast<uint16_t>((word & 0xFF00) | (steps & 0xFF));
      return;
    case WordPart::HighByte:
      word = static_cast<uint16_t>((steps & 0xFF) << 8 | (word & 0x00FF));
      return;
    case WordPart::Whole:
      word = steps;
      return;
  }
}

int StepsPerUnit(const SettingsParameter& parameter, const FirmwareFeatures& firmware) {
  return parameter.quantity == Quantity::Time ? firmware.delayScale : parameter.stepsPerUnit;
}

bool RescaleDelays(SettingsWords& record, const FirmwareFeatures& from, const FirmwareFeatures& to,
                   std::vector<std::string>& rows) {
  rows.clear();
  SettingsWords rescaled = record;
  for (const SettingsParameter& p : kSettingsParameters) {
    if (p.quantity != Quantity::Time) continue;
    const uint32_t scaled = uint32_t{ParameterSteps(record, p)} * StepsPerUnit(p, to);
    const uint32_t steps = scaled / StepsPerUnit(p, from);
    const uint32_t most = p.part == WordPart::Whole ? 0xFFFF : 0xFF;
    if (scaled % StepsPerUnit(p, from) != 0 || steps > most) {
      rows.emplace_back(p.name);
      continue;
    }
    SetParameterSteps(rescaled, p, static_cast<uint16_t>(steps));
  }
  if (!rows.empty()) return false;
  record = rescaled;
  return true;
}

double ParameterValue(const SettingsWords& record, const SettingsParameter& parameter,
                      const FirmwareFeatures& firmware) {
  const uint16_t steps = ParameterSteps(record, parameter);
  if (parameter.quantity == Quantity::Phases) return steps >> 8;
  return steps / static_cast<double>(StepsPerUnit(parameter, firmware));
}

double PercentOfNominal(double volts) {
  return volts / kNominalVolts * 100;
}

std::string_view UnitSymbol(Quantity quantity) {
  switch (quantity) {
    case Quantity::Voltage:
      return "V";
    case Quantity::Frequency:
      return "Hz";
    case Quantity::Time:
    case Quantity::Interval:
      return "s";
    case Quantity::Phases:
      break;
  }
  return "";
}

std::string DecimalText(double value, int decimals) {
  char buf[400];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string HexWord(uint16_t word) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x0000";
  for (int i = 0; i < 4; ++i) text[5 - i] = kDigits[(word >> (4 * i)) & 0xF];
  return text;
}

std::string ValueText(const SettingsParameter& parameter, double value) {
  if (parameter.quantity == Quantity::Phases)
    return ThreePhase(value) ? "three-phase" : "single-phase";
  std::string text = DecimalText(value, parameter.decimals);
  text += ' ';
  text += UnitSymbol(parameter.quantity);
  if (parameter.quantity == Quantity::Voltage)
    text += " (" + DecimalText(std::trunc(PercentOfNominal(value) + 0.5), 0) + " %)";
  return text;
}

std::string ParameterText(const SettingsWords& record, const SettingsParameter& parameter,
                          const FirmwareFeatures& firmware) {
  const double value = ParameterValue(record, parameter, firmware);
  std::string text = ValueText(parameter, value);
  if (parameter.quantity == Quantity::Phases) {
    const uint16_t written = ThreePhase(value) ? 0x0100 : 0x0000;
    if (record[parameter.word] != written) text += " (" + HexWord(record[parameter.word]) + ")";
  }
  return text;
}

}  // namespace nx480
