// CRC-16/MODBUS as used on the relay's RTU link: reflected polynomial 0xA001,
// initial value 0xFFFF, no final xor; the low byte goes on the wire first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace nx480::sim {

std::uint16_t Crc16Modbus(std::span<const std::uint8_t> data);

// Appends the CRC of `frame` (low byte first).
void AppendCrc(std::vector<std::uint8_t>& frame);

// True when `frame` is at least 3 bytes long and its last two bytes are the
// CRC of the bytes before them.
bool CrcOk(std::span<const std::uint8_t> frame);

}  // namespace nx480::sim
