// How the tool connects to the relay, and how it names what it learnt: the line settings of the
// relay link (with the words that name parity and stop bits), the command-line switch, and the
// version line. Plain C++, tested without windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial_line.h"

namespace nx480 {

// "Lichá" odd, "Sudá" even, "Nulová" mark (parity bit always 1); anything else none. Exact,
// case-sensitive.
Parity ParityFromText(const std::string& text);
// "2" two stop bits, "1,5" one and a half (with a comma), anything else one.
StopBits StopBitsFromText(const std::string& text);

// The relay link: 115200 baud, stop bits "1", parity "Žádná", read time-out constant 100 ms.
LineSettings RelayLine();
inline constexpr int kPollInterval = 50;  // ms, the worker's sleep after each pass

// "/servis" or "/SERVIS" as the first argument switches service mode on (exact comparison).
bool ServiceModeFromArguments(const std::vector<std::string>& arguments);

// The version line of the main window: the identification text, followed by ",   s/n:%06i"
// when the serial number is greater than 0.
std::string VersionLine(const std::string& identText, int32_t serialNumber);

}  // namespace nx480
