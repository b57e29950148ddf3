// The Windows serial line against the Linux simulator, under Wine: nx480-sim's pty is linked as
// COM5 into the Wine prefix (scripts run it so; see tests/win/README.md). Only nx480link.
//
//   serial_line_wine_test.exe [PORT [MISSING-PORT [REPORT-FILE]]]   (default COM5, COM9)
//   serial_line_wine_test.exe --gone PORT REPORT-FILE
//
// With --gone it opens PORT, writes "opened" to REPORT-FILE and waits in a read of 20 s; the
// script then ends the simulator behind PORT, and the read must end at once with the device gone.
//
// Each check prints "ok" or "FAIL" with what it saw; the exit code is the number of failed
// checks (0: all passed). The figures (the identification's round trip, the search's time) go
// to the same lines. Under Wine a console program's output may not reach a redirected file:
// give REPORT-FILE, or run it through "wine cmd /c".
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frames.h"
#include "identity.h"
#include "modbus.h"
#include "port_list.h"
#include "relay_search.h"
#include "reply_check.h"
#include "serial_port.h"

using namespace nx480;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::ostringstream report;
int failures = 0;

void Check(bool ok, const std::string& what, const std::string& seen = {}) {
  report << (ok ? "ok    " : "FAIL  ") << what << (seen.empty() ? "" : ": " + seen) << "\n";
  if (!ok) ++failures;
}

double MsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

std::string Ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", ms);
  return text;
}

// The identification request with its CRC: 01 11 crc.
std::vector<uint8_t> IdentificationRequest() {
  std::vector<uint8_t> frame{0x01, 0x11};
  const uint16_t crc = ModbusCrc(frame.data(), frame.size());
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

// One identification on an open port: the text, or empty.
std::string Identify(SerialPort& port) {
  const auto request = IdentificationRequest();
  if (port.Write(request.data(), request.size()) != request.size()) return {};
  uint8_t reply[64] = {};
  const size_t got = port.Read(reply, sizeof reply, nullptr, IdentificationReplyLength);
  std::string text;
  if (!ParseIdentification(reply, got, text)) return {};
  return text;
}

PortTimeouts WithConstant(int constant) {
  return TimeoutsForBaud(115200, constant);
}

LineSettings Line(PortTimeouts timeouts = WithConstant(100)) {
  LineSettings line;
  line.timeouts = timeouts;
  return line;
}

void IdentifiesAndMeasures(const std::string& portName) {
  SerialPort port;
  const bool opened = port.Open(portName, Line());
  Check(opened, "open " + portName, "error " + std::to_string(port.LastOpenErrno()));
  if (!opened) return;
  const std::string text = Identify(port);
  Check(text.compare(0, 5, kModelName) == 0, "identification on " + portName, text);
  // The round trip: request written, whole reply read (the frame-length early end).
  constexpr int kRounds = 50;
  std::vector<double> times;
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    const bool ok = !Identify(port).empty();
    times.push_back(MsBetween(t0, Clock::now()));
    if (!ok) {
      Check(false, "identification round " + std::to_string(i));
      return;
    }
  }
  std::sort(times.begin(), times.end());
  Check(true, "identification round trip over " + std::to_string(kRounds),
        "median " + Ms(times[kRounds / 2]) + ", best " + Ms(times.front()) + ", worst " +
            Ms(times.back()));
  // The reply ends the read by its length, long before the inter-byte gap (22 ms) would.
  Check(times[kRounds / 2] < 20.0, "the reply's length ends the read", Ms(times[kRounds / 2]));
}

void OpenErrors(const std::string& portName, const std::string& missing) {
  SerialPort absent;
  const bool absentOpened = absent.Open(missing, Line());
  Check(!absentOpened && absent.LastOpenError() == OpenError::NotFound,
        "a missing " + missing + " is not found",
        "error " + std::to_string(absent.LastOpenErrno()));
  SerialPort first;
  SerialPort second;
  const bool opened = first.Open(portName, Line());
  Check(opened, "open " + portName + " once");
  const bool secondOpened = second.Open(portName, Line());
  Check(!secondOpened && second.LastOpenError() == OpenError::Busy,
        "a second open of " + portName + " finds it held",
        "error " + std::to_string(second.LastOpenErrno()));
  first.Close();
  Check(second.Open(portName, Line()), "open again once it was closed");
  Check(!Identify(second).empty(), "the port given back answers again");
}

void TimeOutModel(const std::string& portName) {
  // No request: nothing comes; a read of 10 bytes ends at 10 x 1 + 200 ms, not before.
  SerialPort port;
  if (!port.Open(portName, Line(WithConstant(200)))) return Check(false, "open for the time-out");
  uint8_t buffer[16];
  const auto t0 = Clock::now();
  const size_t got = port.Read(buffer, 10);
  const double ms = MsBetween(t0, Clock::now());
  Check(got == 0 && ms >= 210.0 && ms < 2000.0, "a silent read ends at its limit (210 ms)", Ms(ms));
}

void WakingRules(const std::string& portName) {
  SerialPort port;
  if (!port.Open(portName, Line(WithConstant(20000)))) return Check(false, "open for waking");
  StopFlag stop{false};
  // Close from another thread ends a read at once.
  {
    uint8_t buffer[64];
    std::thread closer([&port] {
      std::this_thread::sleep_for(200ms);
      port.Close();
    });
    const auto t0 = Clock::now();
    const size_t got = port.Read(buffer, sizeof buffer, &stop);
    const double ms = MsBetween(t0, Clock::now());
    closer.join();
    Check(got == 0 && ms < 5000.0 && !port.IsOpen(), "Close() ends a waiting read", Ms(ms));
    Check(port.Read(buffer, 1) == 0, "a closed port reads nothing at once");
  }
  if (!port.Open(portName, Line(WithConstant(20000)))) return Check(false, "open again");
  // A wake without the flag: the sleep goes on; with the flag: it ends.
  {
    std::thread waker([&port, &stop] {
      std::this_thread::sleep_for(50ms);
      port.Wake();
      std::this_thread::sleep_for(100ms);
      stop.store(true);
      port.Wake();
    });
    const auto t0 = Clock::now();
    const bool slept = port.Sleep(std::chrono::seconds(20), &stop);
    const double ms = MsBetween(t0, Clock::now());
    waker.join();
    Check(!slept && ms >= 140.0 && ms < 5000.0, "Sleep() ends on a wake with its flag set only",
          Ms(ms));
  }
  {
    stop.store(false);
    const auto t0 = Clock::now();
    const bool slept = port.Sleep(300ms, &stop);
    const double ms = MsBetween(t0, Clock::now());
    Check(slept && ms >= 300.0 && ms < 2000.0, "Sleep() lasts its time", Ms(ms));
  }
  {
    // A write then a read stopped by its flag: the read ends at the wake, short.
    stop.store(false);
    uint8_t buffer[64];
    std::thread stopper([&port, &stop] {
      std::this_thread::sleep_for(200ms);
      stop.store(true);
      port.Wake();
    });
    const auto t0 = Clock::now();
    const size_t got = port.Read(buffer, sizeof buffer, &stop);
    const double ms = MsBetween(t0, Clock::now());
    stopper.join();
    Check(got == 0 && ms < 5000.0 && port.IsOpen(), "the stop flag ends a waiting read", Ms(ms));
  }
}

void Search(const std::string& portName) {
  const auto t0 = Clock::now();
  const std::vector<std::string> ports = ListSerialPorts();
  const double listMs = MsBetween(t0, Clock::now());
  std::string names;
  for (const auto& p : ports) names += (names.empty() ? "" : " ") + p;
  Check(std::find(ports.begin(), ports.end(), ComPortName(portName)) != ports.end(),
        "the port list holds " + portName, names + " (" + Ms(listMs) + ")");
  TModbus link;
  const auto t1 = Clock::now();
  const SearchResult result = SearchRelay(link, ports, Line(), 20);
  const double searchMs = MsBetween(t1, Clock::now());
  std::string passed;
  for (const PortTried& t : result.tried)
    passed += (passed.empty() ? "" : ", ") + PortLabel(t.port) + ":" +
              std::to_string(static_cast<int>(t.failure));
  Check(result.found && result.session.port == ComPortName(portName),
        "the search finds the relay on " + portName,
        Ms(searchMs) + " over " + std::to_string(ports.size()) + " ports; passed over: " +
            (passed.empty() ? "none" : passed) + "; label " + PortLabel(result.session.port));
  link.ClosePort();
}

}  // namespace

// The simulator behind `portName` is ended while a read waits: the read ends, the device gone.
int DeviceGoneCheck(const std::string& portName, const std::string& reportFile) {
  SerialPort port;
  if (!port.Open(portName, Line(WithConstant(20000)))) {
    Check(false, "open " + portName, "error " + std::to_string(port.LastOpenErrno()));
  } else {
    std::ofstream(reportFile) << "opened\n";
    uint8_t buffer[64];
    const auto t0 = Clock::now();
    const size_t got = port.Read(buffer, sizeof buffer);
    const double ms = MsBetween(t0, Clock::now());
    Check(got == 0 && port.DeviceGone() && ms < 15000.0,
          "a read ends when the device goes, and tells it gone", Ms(ms));
    Check(port.Write(buffer, 8) == 0 && port.DeviceGone(), "a gone device takes no write");
  }
  report << (failures == 0 ? "PASSED" : "FAILED: " + std::to_string(failures)) << "\n";
  std::ofstream(reportFile) << report.str();
  return failures;
}

int main(int argc, char** argv) {
  if (argc > 3 && std::string(argv[1]) == "--gone") return DeviceGoneCheck(argv[2], argv[3]);
  const std::string port = argc > 1 ? argv[1] : "COM5";
  const std::string missing = argc > 2 ? argv[2] : "COM9";
  TightenTimersOfThisThread();
  IdentifiesAndMeasures(port);
  IdentifiesAndMeasures("\\\\.\\" + port);
  OpenErrors(port, missing);
  TimeOutModel(port);
  WakingRules(port);
  Search(port);
  report << (failures == 0 ? "PASSED" : "FAILED: " + std::to_string(failures)) << "\n";
  std::cout << report.str() << std::flush;
  if (argc > 3) std::ofstream(argv[3]) << report.str();
  return failures;
}
