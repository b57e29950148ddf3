#include "setting_clamp.h"

#include <algorithm>

#include "faults.h"

namespace nx480::sim {

std::uint16_t SettingClamp::Apply(std::uint16_t value) const {
  switch (bits) {
    case ClampedBits::kWord:
      return std::clamp(value, min, max);
    case ClampedBits::kLowByte: {
      const auto low = std::clamp<std::uint16_t>(value & 0xFFU, min, max);
      return static_cast<std::uint16_t>((value & 0xFF00U) | low);
    }
    case ClampedBits::kHighByte: {
      const auto high = std::clamp<std::uint16_t>(value >> 8, min, max);
      return static_cast<std::uint16_t>(high << 8 | (value & 0xFFU));
    }
  }
  return value;
}

std::optional<SettingClamp> ParseSettingClamp(std::string_view text, std::string* error) {
  auto fail = [&](std::string why) -> std::optional<SettingClamp> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  const auto colon1 = text.find(':');
  const auto colon2 = colon1 == std::string_view::npos ? colon1 : text.find(':', colon1 + 1);
  if (colon2 == std::string_view::npos || text.find(':', colon2 + 1) != std::string_view::npos)
    return fail("takes WORD[.lo|.hi]:MIN:MAX");
  std::string_view word = text.substr(0, colon1);
  SettingClamp clamp;
  if (word.ends_with(".lo") || word.ends_with(".hi")) {
    clamp.bits = word.ends_with(".lo") ? ClampedBits::kLowByte : ClampedBits::kHighByte;
    word.remove_suffix(3);
  }
  long long address = 0;
  long long min = 0;
  long long max = 0;
  if (!ParseInt(word, address) || address < 0 || address > kLastClampedWord)
    return fail("WORD must be 0..31, with .lo or .hi for a byte");
  const long long top = clamp.bits == ClampedBits::kWord ? 0xFFFF : 0xFF;
  if (!ParseInt(text.substr(colon1 + 1, colon2 - colon1 - 1), min) ||
      !ParseInt(text.substr(colon2 + 1), max) || min < 0 || max > top || min > max)
    return fail("MIN and MAX must be 0.." + std::to_string(top) + ", MIN not above MAX");
  clamp.word = static_cast<std::uint16_t>(address);
  clamp.min = static_cast<std::uint16_t>(min);
  clamp.max = static_cast<std::uint16_t>(max);
  return clamp;
}

std::string Describe(const SettingClamp& clamp) {
  const char* suffix = clamp.bits == ClampedBits::kLowByte    ? ".lo"
                       : clamp.bits == ClampedBits::kHighByte ? ".hi"
                                                              : "";
  return std::to_string(clamp.word) + suffix + ":" + std::to_string(clamp.min) + ":" +
         std::to_string(clamp.max);
}

std::uint16_t ClampSetting(std::span<const SettingClamp> clamps, std::uint16_t address,
                           std::uint16_t value) {
  for (const SettingClamp& clamp : clamps) {
    if (clamp.word == address) value = clamp.Apply(value);
  }
  return value;
}

}  // namespace nx480::sim
