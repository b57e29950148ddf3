#include "identity.h"

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

}  // namespace nx480
