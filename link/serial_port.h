// One serial port on POSIX termios, with the relay link's time-out model.
//
// A read of E bytes returns as soon as E bytes are in. Otherwise it ends at the whole-read limit
// (E x per-byte + constant, counted from the start of the read) or, once a first byte has
// arrived, when no further byte comes within the inter-byte gap. A write is bounded by
// n x per-byte + its own constant. All waits are poll() with millisecond resolution; termios'
// VTIME (100 ms steps) is not used.
//
// Thread safety: the port is meant for one user at a time, but Close() may be called from
// another thread while a read or write is waiting. Close() wakes the waiter through an event
// descriptor, waits for it to leave the descriptor alone and only then closes it, so a waiting
// transaction fails as on a closed port and no closed or reused descriptor is ever touched.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace nx480 {

enum class OpenError {
  None,
  NotFound,      // no such device
  AccessDenied,  // the device exists but the user may not open it
  Busy,          // another program holds the port
  NotAPort,      // the path is not a serial device
  Other,
};

enum class Parity { None, Odd, Even, Mark };

struct PortTimeouts {
  int readInterval = 22;   // ms: largest gap between two received bytes
  int readPerByte = 1;     // ms per byte requested
  int readConstant = 100;  // ms
  int writePerByte = 1;    // ms per byte written
  int writeConstant = 50;  // ms
};

// Time-outs for a baud rate, in whole milliseconds (integer division): interval
// 38000 / baud + 22, per byte 11000 / baud + 1 for reads and writes, write constant 50.
PortTimeouts TimeoutsForBaud(int baud, int readConstant);

// "Lichá" odd, "Sudá" even, "Nulová" mark (parity bit always 1); anything else none.
Parity ParityFromText(const std::string& text);
// "2" two stop bits, "1,5" one and a half, anything else one.
int StopBitsTenthsFromText(const std::string& text);  // 10, 15 or 20

class SerialPort {
 public:
  SerialPort();
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens `path` read/write, exclusively, and sets raw 8-bit mode with the given line settings,
  // DTR and RTS on and no flow control. Only failing to open is an error; line settings the
  // driver refuses are ignored (such a port shows up as failing transactions).
  bool Open(const std::string& path, int baud, Parity parity, int stopBitsTenths,
            const PortTimeouts& timeouts);
  void Close();
  bool IsOpen() const { return open_.load(std::memory_order_acquire); }
  OpenError LastOpenError() const { return lastError_; }
  int LastOpenErrno() const { return lastErrno_; }

  // Writes the whole buffer within the write limit; returns the bytes written.
  size_t Write(const uint8_t* data, size_t length);
  // Reads up to `expected` bytes under the time-out model above; returns the bytes read.
  // On a closed port it returns 0 at once.
  size_t Read(uint8_t* data, size_t expected);

  // True once a read or write found the device gone: the adapter was unplugged or the line
  // hung up (the driver reports a hang-up, an I/O error or end of file). Such a port never
  // answers again; it stays gone until it is closed and opened anew. A device that is merely
  // silent is not gone.
  bool DeviceGone() const { return gone_.load(std::memory_order_acquire); }

  const PortTimeouts& Timeouts() const { return timeouts_; }

 private:
  void CloseLocked();

  std::mutex ioMutex_;  // held by Read, Write, Open and Close while they use fd_
  int fd_ = -1;
  int wakeFd_ = -1;  // eventfd: Close() signals it to end a waiting Read or Write
  std::atomic<bool> open_{false};
  std::atomic<bool> gone_{false};
  PortTimeouts timeouts_;
  OpenError lastError_ = OpenError::None;
  int lastErrno_ = 0;
};

}  // namespace nx480
