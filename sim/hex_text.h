// Bytes as hex text, "01 03 00 00": the simulator's trace of frames (--verbose) and its tests'
// expectations, written the same way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace nx480::sim {

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

}  // namespace nx480::sim
