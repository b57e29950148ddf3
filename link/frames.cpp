#include "frames.h"

#include <cstring>

namespace nx480 {

uint16_t ModbusCrc(const uint8_t* data, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    uint8_t byte = data[i];
    for (int bit = 0; bit < 8; ++bit) {
      if ((crc ^ byte) & 1u) {
        crc = static_cast<uint16_t>((crc >> 1) ^ 0xA001);
      } else {
        crc = static_cast<uint16_t>(crc >> 1);
      }
      byte = static_cast<uint8_t>(byte >> 1);
    }
  }
  return crc;
}

void CopySwapped(void* dst, const void* src, size_t words) {
  auto* d = static_cast<uint8_t*>(dst);
  const auto* s = static_cast<const uint8_t*>(src);
  for (size_t i = 0; i < words; ++i) {
    // Read both bytes first so that an in-place swap (dst == src) works too.
    const uint8_t lo = s[2 * i];
    const uint8_t hi = s[2 * i + 1];
    d[2 * i] = hi;
    d[2 * i + 1] = lo;
  }
}

size_t BuildFrame(std::span<uint8_t> buffer, const FrameTemplate& tmpl, const RequestPatch& patch) {
  size_t length = tmpl.length;
  if (patch.words != nullptr && patch.wordCount > 0) length = 7 + 2 * patch.wordCount;
  if (length < tmpl.length || length + 2 > buffer.size()) return 0;
  if (patch.byteOffset >= static_cast<int>(length)) return 0;

  std::memcpy(buffer.data(), tmpl.bytes.data(), tmpl.length);
  if (patch.address >= 0) {
    buffer[2] = static_cast<uint8_t>(patch.address >> 8);
    buffer[3] = static_cast<uint8_t>(patch.address);
  }
  if (patch.byteOffset >= 0) buffer[patch.byteOffset] = patch.byteValue;
  if (patch.words != nullptr && patch.wordCount > 0) {
    CopySwapped(buffer.data() + 7, patch.words, patch.wordCount);
  }
  const uint16_t crc = ModbusCrc(buffer.data(), length);
  buffer[length] = static_cast<uint8_t>(crc & 0xFF);
  buffer[length + 1] = static_cast<uint8_t>(crc >> 8);
  return length + 2;
}

}  // namespace nx480
