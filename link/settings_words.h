// The protection settings record: 24 words, word n being the relay's holding register n, in
// host byte order. Shared by the parameter transactions, the settings page and the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace nx480 {

inline constexpr size_t kSettingsWords = 24;
using SettingsWords = std::array<uint16_t, kSettingsWords>;

}  // namespace nx480
