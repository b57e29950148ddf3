// Small helpers shared by the simulator tests: frames written as hex text so
// that expectations read like protocol traces.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

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

// {0x01, 0x03} -> "01 03"
inline std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  char buf[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    out += buf;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

}  // namespace nx480::sim::test
