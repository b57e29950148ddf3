// SerialLine on POSIX termios and poll(): the serial port of Linux (and of other POSIX
// systems with the same termios flags).
//
// All waits are ppoll() to the nanosecond; termios' VTIME (100 ms steps) is not used.
// An event descriptor wakes a waiting call: Wake() to let it look at its stop flag, Close() to
// end it. Close() waits for the waiting call to leave the descriptor alone and only then closes
// it, so no closed or reused descriptor is ever touched.
#pragma once

#include <termios.h>

#include <atomic>
#include <mutex>

#include "serial_line.h"

namespace nx480 {

class SerialPort final : public SerialLine {
 public:
  SerialPort();
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens `path` read/write, exclusively, and sets raw 8-bit mode with the given line settings,
  // DTR and RTS on and no flow control. The device's own settings are kept for the close.
  bool Open(const std::string& path, const LineSettings& settings) override;
  // Lets what was written leave (as long as a write may take), then gives the device back its
  // settings of before the open - a console or terminal named as a port is left usable - and
  // closes it.
  void Close() override;
  bool IsOpen() const override { return open_.load(std::memory_order_acquire); }
  OpenError LastOpenError() const override { return lastError_; }
  int LastOpenErrno() const override { return lastErrno_; }
  const PortTimeouts& Timeouts() const override { return timeouts_; }

  size_t Write(const uint8_t* data, size_t length, const StopFlag* stop = nullptr) override;
  size_t Read(uint8_t* data, size_t expected, const StopFlag* stop = nullptr,
              FrameLength frameLength = nullptr) override;
  bool Sleep(std::chrono::microseconds duration, const StopFlag* stop = nullptr) override;
  void Wake() override;
  std::chrono::steady_clock::time_point Now() const override {
    return std::chrono::steady_clock::now();
  }
  void Idle(std::chrono::microseconds duration) override;
  bool DeviceGone() const override { return gone_.load(std::memory_order_acquire); }

 private:
  void CloseLocked();
  // Waits for `events` on the port (or nothing, fd -1) until `deadline`, a wake with the stop
  // flag set, or a close. Returns the port's revents, 0 at the deadline, -1 when cut short.
  int WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline,
              const StopFlag* stop);

  std::mutex ioMutex_;  // held by Read, Write, Sleep, Open and Close while they use fd_
  int fd_ = -1;
  termios opened_{};  // the device's settings before the open, given back at the close
  int wakeFd_ = -1;   // eventfd: Wake() and Close() signal it
  std::atomic<bool> open_{false};
  std::atomic<bool> gone_{false};
  PortTimeouts timeouts_;
  OpenError lastError_ = OpenError::None;
  int lastErrno_ = 0;
};

// For the thread that runs the transactions: its timed waits end when they are due. Linux lets
// a thread's timers run up to 50 us late by default, so as to bundle wake-ups; on a line whose
// waits are a few milliseconds (5 ms after each firmware frame) that adds up.
void TightenTimersOfThisThread();

}  // namespace nx480
