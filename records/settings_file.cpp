#include "settings_file.h"

namespace nx480 {

SettingsFileImage SettingsFileBytes(const SettingsWords& record) {
  SettingsFileImage bytes{};
  for (size_t i = 0; i < kSettingsWords; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(record[i] & 0xFFu);
    bytes[2 * i + 1] = static_cast<uint8_t>(record[i] >> 8);
  }
  return bytes;
}

size_t ApplySettingsFileBytes(std::span<const uint8_t> bytes, SettingsWords& record) {
  const size_t count = bytes.size() < kSettingsFileSize ? bytes.size() : kSettingsFileSize;
  for (size_t k = 0; k < count; ++k) {
    uint16_t& word = record[k / 2];
    if (k % 2 == 0) {
      word = static_cast<uint16_t>((word & 0xFF00u) | bytes[k]);
    } else {
      word = static_cast<uint16_t>((word & 0x00FFu) | (bytes[k] << 8));
    }
  }
  return count;
}

bool SaveSettingsFile(const std::string& path, const SettingsWords& record, FileError& error) {
  const SettingsFileImage bytes = SettingsFileBytes(record);
  return WriteFileAtomically(path, bytes, error);
}

bool LoadSettingsFile(const std::string& path, SettingsWords& record, FileError& error) {
  SettingsFileImage bytes{};
  size_t got = 0;
  if (!ReadFileStart(path, bytes, got, error)) return false;
  ApplySettingsFileBytes(std::span<const uint8_t>(bytes.data(), got), record);
  return true;
}

}  // namespace nx480
