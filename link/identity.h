// The relay's identification: parsing its reply, the firmware number and the serial number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nx480 {

// Identification reply (function 0x11): at least 29 bytes with a good CRC. Data start at reply
// byte 3: bytes 0-15 are the name field, up to its first zero byte; from byte 16 the version
// field, up to its first zero byte or the CRC, with spaces and control characters trimmed at
// both ends. The text is name + three spaces + version, in the relay's 8-bit code page.
bool ParseIdentification(const uint8_t* reply, size_t count, std::string& identText);

// The two-digit number at the end of the version: "... 1.14.d" and "... 1.14" both give 14,
// "... 2.07" gives 7. The characters are taken as they are, without a digit check; a text too
// short to hold two characters there gives 0.
int FirmwareMinorOf(const std::string& identText);

// Serial number from a 21-byte reply to the calibration read: register 0x1E is the high word,
// 0x1D the low word; reinterpreted as signed, so a top byte of 0x80 or more is negative.
int32_t SerialNumberFromReply(const uint8_t* reply);

}  // namespace nx480
