#include "crc.h"

#include <array>

namespace nx480::sim {
namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t crc = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001U)
                       : static_cast<std::uint16_t>(crc >> 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

std::uint16_t Crc16Modbus(std::span<const std::uint8_t> data) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t byte : data) {
    crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ byte) & 0xFFU]);
  }
  return crc;
}

void AppendCrc(std::vector<std::uint8_t>& frame) {
  const std::uint16_t crc = Crc16Modbus(frame);
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFFU));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool CrcOk(std::span<const std::uint8_t> frame) {
  if (frame.size() < 3) return false;
  const std::size_t n = frame.size() - 2;
  const std::uint16_t crc = Crc16Modbus(frame.first(n));
  return frame[n] == (crc & 0xFFU) && frame[n + 1] == (crc >> 8);
}

}  // namespace nx480::sim
