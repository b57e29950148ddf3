// Settings the relay stores other than written: a write of a protection setting (holding 0-23)
// or of the calibration block (0x18-0x1F) whose value lies outside a rule's range keeps the
// nearest value inside it. The write is
// acknowledged as usual, echoing the request; a read shows what was kept. Words 0-3 hold two
// 8-bit delays each, so a rule takes the whole word or its low or high byte.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nx480::sim {

// The last word a rule may name: the calibration block's end (0x1F).
inline constexpr std::uint16_t kLastClampedWord = 31;

enum class ClampedBits : std::uint8_t { kWord, kLowByte, kHighByte };

struct SettingClamp {
  std::uint16_t word = 0;  // holding 0..31
  ClampedBits bits = ClampedBits::kWord;
  std::uint16_t min = 0;  // inclusive; within 0..255 for a byte
  std::uint16_t max = 0xFFFF;

  // `value` as the relay keeps it: the word, or the byte named, clamped into [min, max]; the
  // other byte as written.
  std::uint16_t Apply(std::uint16_t value) const;
};

// Parses "WORD[.lo|.hi]:MIN:MAX" (numbers decimal or 0x-hex; WORD 0..31, MIN <= MAX, both
// 0..65535 for a word and 0..255 for a byte). On failure returns nullopt and, if `error` is
// given, a reason.
std::optional<SettingClamp> ParseSettingClamp(std::string_view text, std::string* error = nullptr);
// The rule as ParseSettingClamp() takes it, in decimal: "8:180:260", "0.hi:2:20".
std::string Describe(const SettingClamp& clamp);

// `value` written to holding `address` as the relay keeps it: every rule for that word applied
// in order.
std::uint16_t ClampSetting(std::span<const SettingClamp> clamps, std::uint16_t address,
                           std::uint16_t value);

}  // namespace nx480::sim
