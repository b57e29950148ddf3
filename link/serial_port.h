// SerialLine on the system's serial port. The build picks one of two backends:
//
// * serial_port.cpp, POSIX termios and poll(): the serial port of Linux (and of other POSIX
//   systems with the same termios flags). All waits are ppoll() to the nanosecond; termios'
//   VTIME (100 ms steps) is not used. An event descriptor wakes a waiting call.
// * serial_port_win32.cpp, Windows: "\\.\COMn" opened for overlapped I/O without sharing; the
//   driver's time-outs make a read return what is there at once, and every wait is
//   WaitForMultipleObjects on the operation's event and a wake event, with our own deadlines.
//
// Either way Wake() lets a waiting call look at its stop flag, and Close() ends it: Close() waits
// for the waiting call to leave the device alone and only then closes it, so no closed or reused
// descriptor or handle is ever touched.
#pragma once

#include <atomic>
#include <memory>
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
  // On Windows `path` is "COMn" or "\\.\COMn" (any other name is opened as given).
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
  // The device's settings before the open (termios, or the DCB and COMMTIMEOUTS), given back at
  // the close.
  struct Saved;

  void CloseLocked();
#ifdef _WIN32
  enum class Waited{Done, Deadline, CutShort};
  // Waits for the pending overlapped operation on `event` (or for nothing, `event` null) until
  // `deadline`, a wake with the stop flag set, or a close.
  Waited WaitFor(void* event, std::chrono::steady_clock::time_point deadline, const StopFlag* stop);
  // Ends a pending overlapped operation: cancels it unless it completed, and waits for it to
  // leave its OVERLAPPED. Returns the bytes it moved; sets gone_ on a device error.
  unsigned long Finish(void* overlapped, bool cancel);
  void MarkGoneIf(unsigned long error);

  std::mutex ioMutex_;         // held by Read, Write, Open and Close while they use handle_
  void* handle_ = nullptr;     // HANDLE of the port, null when closed
  void* wakeEvent_ = nullptr;  // manual-reset event: Wake() and Close() set it
  void* ioEvent_ = nullptr;    // manual-reset event of the pending overlapped operation
  void* portLock_ = nullptr;   // named mutex of the port while it is ours (see Open)
#else
  // Waits for `events` on the port (or nothing, fd -1) until `deadline`, a wake with the stop
  // flag set, or a close. Returns the port's revents, 0 at the deadline, -1 when cut short.
  int WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline,
              const StopFlag* stop);

  std::mutex ioMutex_;  // held by Read, Write, Open and Close while they use fd_
  int fd_ = -1;
  int wakeFd_ = -1;  // eventfd: Wake() and Close() signal it
#endif
  std::unique_ptr<Saved> opened_;
  std::atomic<bool> open_{false};
  std::atomic<bool> gone_{false};
  PortTimeouts timeouts_;
  OpenError lastError_ = OpenError::None;
  int lastErrno_ = 0;
};

// For the thread that runs the transactions: its timed waits end when they are due. Linux lets
// a thread's timers run up to 50 us late by default, so as to bundle wake-ups; on a line whose
// waits are a few milliseconds (5 ms after each firmware frame) that adds up. Windows counts
// waits in ticks of 15.6 ms by default: there the system timer is set to 1 ms for the rest of
// the process.
void TightenTimersOfThisThread();

}  // namespace nx480
