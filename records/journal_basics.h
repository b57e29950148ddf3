// What the journal's pieces share, so that none needs another's insides: CRC-32, a failure
// said and returned, what a folder's failure means to the user, hex and decimal numbers written
// and read strictly. Plain C++.
#pragma once

#include <charconv>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "atomic_file.h"

namespace nx480 {

// CRC-32 (IEEE 802.3, as zlib computes it).
uint32_t Crc32(std::span<const uint8_t> bytes);

namespace journal_basics {

// Sets `error` to the problem and the system's error number; false.
bool Fail(FileError& error, FileProblem problem, int err);
// Says why something read is not what it should be; false.
bool Why(std::string& why, std::string text);
// What a failure to make, open or sync a folder means to the user.
FileProblem FolderProblem(int err);
// The bytes of a text, as written to a file.
std::span<const uint8_t> BytesOf(std::string_view text);

// Eight lowercase hex digits: "0badf00d".
std::string Hex8(uint32_t value);
// One to eight hex digits, lowercase only when `lowerOnly`; false for anything else.
bool ParseHex(std::string_view text, bool lowerOnly, uint32_t& value);

// A decimal number written exactly as std::to_string writes it (no sign, spaces or leading
// zeros that it would not write).
template <typename Number>
bool ParseCanonical(std::string_view text, Number& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::to_string(value) == text;
}

}  // namespace journal_basics
}  // namespace nx480
