#include "connection.h"

#include <cstdio>

#include "serial_number.h"

namespace nx480 {

Parity ParityFromText(const std::string& text) {
  if (text == "Lichá") return Parity::Odd;
  if (text == "Sudá") return Parity::Even;
  if (text == "Nulová") return Parity::Mark;
  return Parity::None;
}

StopBits StopBitsFromText(const std::string& text) {
  if (text == "1,5") return StopBits::OneAndHalf;
  if (text == "2") return StopBits::Two;
  return StopBits::One;
}

LineSettings RelayLine() {
  constexpr int kBaud = 115200;
  constexpr int kReadTimeoutConstant = 100;
  LineSettings line;
  line.baud = kBaud;
  line.parity = ParityFromText("Žádná");
  line.stopBits = StopBitsFromText("1");
  line.timeouts = TimeoutsForBaud(kBaud, kReadTimeoutConstant);
  return line;
}

bool ServiceModeFromArguments(const std::vector<std::string>& arguments) {
  return !arguments.empty() && (arguments[0] == "/servis" || arguments[0] == "/SERVIS");
}

std::string VersionLine(const std::string& identText, int32_t serialNumber) {
  std::string line = identText;
  if (HasSerialNumber(serialNumber)) line += ",   s/n:" + SerialNumberDigits(serialNumber, 6);
  return line;
}

}  // namespace nx480
