#include "identity.h"

#include <cstdio>

#include "frames.h"

namespace nx480 {

bool ParseIdentification(const uint8_t* reply, size_t count, std::string& identText) {
  if (count < 29 || ModbusCrc(reply, count) != 0) return false;
  const uint8_t* data = reply + 3;
  const size_t dataLength = count - 5;  // header of 3 bytes, CRC of 2

  std::string name;
  for (size_t i = 0; i < 16 && data[i] != 0; ++i) name.push_back(static_cast<char>(data[i]));

  size_t end = 16;
  while (end < dataLength && data[end] != 0) ++end;
  size_t begin = 16;
  while (begin < end && data[begin] <= 0x20) ++begin;
  while (end > begin && data[end - 1] <= 0x20) --end;
  const std::string version(reinterpret_cast<const char*>(data + begin), end - begin);

  identText = name + "   " + version;
  return true;
}

int FirmwareMinorOf(const std::string& identText) {
  const long length = static_cast<long>(identText.size());
  long i = length - 2;  // the last but one character, counted from 0
  if (i >= 0 && identText[i] == '.') i -= 2;
  if (i < 0) return 0;
  return 10 * (identText[i] - '0') + (identText[i + 1] - '0');
}

int32_t SerialNumberFromReply(const uint8_t* reply) {
  const uint8_t* data = reply + 3;
  const uint32_t high = WireWord(data + 12);
  const uint32_t low = WireWord(data + 10);
  return static_cast<int32_t>((high << 16) | low);
}

std::string VersionLine(const std::string& identText, int32_t serialNumber) {
  std::string line = identText;
  if (serialNumber > 0) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, ",   s/n:%06i", static_cast<int>(serialNumber));
    line += buffer;
  }
  return line;
}

std::string Cp1250ToUtf8(const std::string& bytes) {
  // Code points of 0x80-0xFF; 0 marks the five unassigned bytes, shown as U+FFFD.
  static const char16_t kHigh[128] = {
      0x20AC, 0,      0x201A, 0,      0x201E, 0x2026, 0x2020, 0x2021, 0,      0x2030, 0x0160,
      0x2039, 0x015A, 0x0164, 0x017D, 0x0179, 0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0,      0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0,
      0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB,
      0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6,
      0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1,
      0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A,
      0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
      0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2,
      0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED,
      0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, 0x0159,
      0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9};
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto b = static_cast<uint8_t>(ch);
    char32_t cp = b < 0x80 ? b : kHigh[b - 0x80];
    if (cp == 0 && b != 0) cp = 0xFFFD;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace nx480
