#include "journal_basics.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <utility>

namespace nx480 {

uint32_t Crc32(std::span<const uint8_t> bytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (const uint8_t b : bytes) crc = table[(crc ^ b) & 0xFFu] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

namespace journal_basics {

bool Fail(FileError& error, FileProblem problem, int err) {
  error = {problem, err};
  return false;
}

bool Why(std::string& why, std::string text) {
  why = std::move(text);
  return false;
}

FileProblem FolderProblem(int err) {
  return err == ELOOP ? FileProblem::BrokenLink : FileProblemOf(err, true);
}

std::span<const uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

bool ParseHex(std::string_view text, bool lowerOnly, uint32_t& value) {
  if (text.empty() || text.size() > 8) return false;
  value = 0;
  for (const char c : text) {
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (!lowerOnly && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    value = (value << 4) | digit;
  }
  return true;
}

}  // namespace journal_basics
}  // namespace nx480
