// Small helpers shared by the simulator tests: frames written as hex text so
// that expectations read like protocol traces.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "crc.h"
#include "hex_text.h"

namespace nx480::sim::test {

// "01 03 00 00" -> {0x01, 0x03, 0x00, 0x00}; spaces are ignored.
inline std::vector<std::uint8_t> Bytes(const std::string& hex) {
  std::vector<std::uint8_t> out;
  std::string digits;
  for (char c : hex) {
    if (c != ' ') digits += c;
  }
  if (digits.size() % 2 != 0) throw std::invalid_argument("odd hex string: " + hex);
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// {0x01, 0x03} -> "01 03", as the simulator traces frames
using nx480::sim::Hex;

// A read request (functions 0x01, 0x03, 0x04) to slave 1, CRC included.
inline std::vector<std::uint8_t> ReadRequest(std::uint8_t function, std::uint16_t first,
                                             std::uint16_t count) {
  std::vector<std::uint8_t> f = {1,
                                 function,
                                 static_cast<std::uint8_t>(first >> 8),
                                 static_cast<std::uint8_t>(first),
                                 static_cast<std::uint8_t>(count >> 8),
                                 static_cast<std::uint8_t>(count)};
  AppendCrc(f);
  return f;
}

// A write of holding registers (function 0x10) to slave 1, CRC included.
inline std::vector<std::uint8_t> WriteRequest(std::uint16_t first,
                                              const std::vector<std::uint16_t>& values) {
  std::vector<std::uint8_t> f = {1,
                                 0x10,
                                 static_cast<std::uint8_t>(first >> 8),
                                 static_cast<std::uint8_t>(first),
                                 static_cast<std::uint8_t>(values.size() >> 8),
                                 static_cast<std::uint8_t>(values.size()),
                                 static_cast<std::uint8_t>(2 * values.size())};
  for (std::uint16_t v : values) {
    f.push_back(static_cast<std::uint8_t>(v >> 8));
    f.push_back(static_cast<std::uint8_t>(v));
  }
  AppendCrc(f);
  return f;
}

// The reply to a read of holding registers (function 0x03) from slave 1 showing `values`.
inline std::vector<std::uint8_t> ReadReply(const std::vector<std::uint16_t>& values) {
  std::vector<std::uint8_t> f = {1, 0x03, static_cast<std::uint8_t>(2 * values.size())};
  for (std::uint16_t v : values) {
    f.push_back(static_cast<std::uint8_t>(v >> 8));
    f.push_back(static_cast<std::uint8_t>(v));
  }
  AppendCrc(f);
  return f;
}

// The eight data frames of one image block at byte address `address` whose data carry `name`
// and `version` where a first block does, the rest a pattern: words low byte first in the
// file, so register value = data[2j] | data[2j + 1] << 8.
inline std::vector<std::vector<std::uint8_t>> BlockFrames(std::uint16_t address,
                                                          const std::string& name,
                                                          const std::string& version) {
  std::uint8_t data[256];
  for (int i = 0; i < 256; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
  for (int i = 0; i < 16; ++i) data[16 + i] = i < static_cast<int>(name.size()) ? name[i] : 0;
  for (int i = 0; i < 8; ++i) data[32 + i] = i < static_cast<int>(version.size()) ? version[i] : 0;
  std::vector<std::vector<std::uint8_t>> frames;
  for (int k = 0; k < 8; ++k) {
    std::vector<std::uint16_t> words;
    for (int j = 0; j < 16; ++j)
      words.push_back(
          static_cast<std::uint16_t>(data[32 * k + 2 * j] | data[32 * k + 2 * j + 1] << 8));
    frames.push_back(WriteRequest(static_cast<std::uint16_t>((address + 32 * k) / 2), words));
  }
  return frames;
}

}  // namespace nx480::sim::test
