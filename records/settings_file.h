// The settings file "*.nx4": exactly the 48 bytes of the protection settings record, the 24
// words in order, each low byte first. No header, no checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "atomic_file.h"
#include "settings_words.h"

namespace nx480 {

inline constexpr size_t kSettingsFileSize = 2 * kSettingsWords;
using SettingsFileImage = std::array<uint8_t, kSettingsFileSize>;

SettingsFileImage SettingsFileBytes(const SettingsWords& record);

// Puts the first (up to 48) bytes of a file into the record, byte for byte: a short file
// replaces only what it covers and the rest of the record keeps its values; bytes after the
// 48th are ignored. Returns the number of bytes taken.
size_t ApplySettingsFileBytes(std::span<const uint8_t> bytes, SettingsWords& record);

// Saves the record as `path` through WriteFileAtomically (atomic_file.h): an existing file is
// replaced whole or left as it was, a write-protected one is refused.
bool SaveSettingsFile(const std::string& path, const SettingsWords& record, FileError& error);

// Reads up to 48 bytes of `path` into the record (see ApplySettingsFileBytes). A file that
// cannot be opened or read leaves the record unchanged; `error` says why.
bool LoadSettingsFile(const std::string& path, SettingsWords& record, FileError& error);

}  // namespace nx480
