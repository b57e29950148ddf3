// The relay's serial number: calibration words 5 (holding 0x1D, bits 0-15) and 6 (0x1E, bits
// 16-31), kept as the int32_t they make (RtuMaster::ReadSerialNumber, SerialNumber of a
// calibration record), -1 also when it could not be read. A relay without one holds 0 (never
// set) or 0xFFFFFFFF (erased): these, and only these, are "no serial number", for the journal's
// and the recordings' folders, the restores, the texts and the record alike. A light header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace nx480 {

inline constexpr int kSerialLowWord = 5;   // of the calibration record
inline constexpr int kSerialHighWord = 6;  // of the calibration record

inline constexpr bool HasSerialNumber(int32_t serial) {
  return serial != 0 && serial != -1;
}

// Whether two serial numbers name the same relay: never without a serial number, since relays
// without one cannot be told apart.
inline constexpr bool SameSerialNumber(int32_t a, int32_t b) {
  return HasSerialNumber(a) && a == b;
}

// The serial number's digits, as the relay's 32 bits read unsigned (never a sign), with leading
// zeros to `width`; empty without a serial number.
inline std::string SerialNumberDigits(int32_t serial, int width) {
  if (!HasSerialNumber(serial)) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%0*u", width,
                static_cast<unsigned>(static_cast<uint32_t>(serial)));
  return text;
}

}  // namespace nx480
