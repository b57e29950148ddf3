// The serial line as the worker and the transactions use it: a narrow interface, so that the
// protocol code above it never sees the platform. The termios implementation is SerialPort
// (serial_port.h); another platform's backend would be one more class behind this one.
//
// The time-out model (the relay link's own): a read of E bytes returns as soon as E bytes are
// in; otherwise it ends at the whole-read limit (E x per-byte + constant, counted from the start
// of the read) or, once a first byte has arrived, when no further byte comes within the
// inter-byte gap. A write is bounded by n x per-byte + its own constant.
//
// A reply whose length varies (the identification, an exception reply) says how long it is in
// its first bytes. A read given a FrameLength ends as soon as the frame is whole by that length,
// instead of waiting out the gap after its last byte; the length never takes the read past E
// bytes or past the model's limits, and a frame that stops short still ends by the model.
//
// Time: the line keeps the clock its waits run on (Now()). Whatever the link times itself - the
// drain's limit, a reply's age for the trace, the upload's pause between frames, the grace the
// worker is given - reads that clock too, so a line whose clock is virtual (the simulated relay
// in memory, sim/virtual_line.h) makes every wait of a transaction virtual, and a transaction's
// outcome depends on the line alone, not on when threads happen to run.
//
// Waking: every wait (Read, Write, Sleep) takes an optional stop flag. Wake() makes a waiting
// call look at its flag at once; a call whose flag is set returns early with what it has (a
// read then ends short, which its transaction treats as a failure). Close() from another thread
// ends a waiting call as on a closed port. The worker passes its pause request as the flag, so a
// pause or a close cuts every wait of a running transaction short; the connection search (which
// runs while the worker is parked) passes none.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
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
enum class StopBits { One, OneAndHalf, Two };

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

struct LineSettings {
  int baud = 115200;
  Parity parity = Parity::None;
  StopBits stopBits = StopBits::One;
  PortTimeouts timeouts;
};

using StopFlag = std::atomic<bool>;

// The length of a whole frame as its first `count` bytes (at `head`) tell it; 0 while they do
// not tell it yet, or when they never will.
using FrameLength = size_t (*)(const uint8_t* head, size_t count);

// One read's course under the time-out model, for the backends: its limits come from `expected`
// alone; it ends at `expected` bytes or, with a FrameLength, once the frame's first bytes tell
// its length (never below what is read already, never past `expected`).
class ReadCourse {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  ReadCourse(const PortTimeouts& timeouts, size_t expected, FrameLength frameLength,
             TimePoint start);

  size_t Got() const { return got_; }
  // Bytes still wanted before the read ends; 0 once it is done.
  size_t Missing() const { return want_ - got_; }
  // `count` more bytes are in at `buffer + Got()` (the read's buffer from its start), at `now`.
  void Received(const uint8_t* buffer, size_t count, TimePoint now);
  // When the read ends if nothing more comes: the whole-read limit or, once a byte is in, the
  // inter-byte gap after the last one, whichever comes first.
  TimePoint Limit() const;

 private:
  FrameLength frameLength_;
  TimePoint deadline_;
  std::chrono::milliseconds gap_;
  TimePoint lastByte_;
  size_t got_ = 0;
  size_t want_;
};

class SerialLine {
 public:
  virtual ~SerialLine() = default;

  // Opens and configures the device; only failing to open is an error (line settings that the
  // driver refuses show up as failing transactions). LastOpenError() says why it failed.
  virtual bool Open(const std::string& path, const LineSettings& settings) = 0;
  // Closes the device if open. May be called from another thread while a call waits.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual OpenError LastOpenError() const = 0;
  virtual int LastOpenErrno() const = 0;
  virtual const PortTimeouts& Timeouts() const = 0;

  // One write of the whole buffer within the write limit; returns the bytes written.
  virtual size_t Write(const uint8_t* data, size_t length, const StopFlag* stop = nullptr) = 0;
  // Reads up to `expected` bytes under the time-out model; returns the bytes read. With
  // `frameLength` it also ends once the frame is whole by its own length. A closed port returns
  // 0 at once.
  virtual size_t Read(uint8_t* data, size_t expected, const StopFlag* stop = nullptr,
                      FrameLength frameLength = nullptr) = 0;
  // Waits `duration`; false when it ended early (stop flag set and woken, or the port closed).
  virtual bool Sleep(std::chrono::microseconds duration, const StopFlag* stop = nullptr) = 0;
  // Makes every waiting call look at its stop flag now (any thread).
  virtual void Wake() = 0;

  // The line's clock (any thread): the time its waits are measured in.
  virtual std::chrono::steady_clock::time_point Now() const = 0;
  // Lets `duration` pass on the line's clock whatever the port's state; nothing cuts it short.
  virtual void Idle(std::chrono::microseconds duration) = 0;

  // True once a read or write found the device gone: the adapter was unplugged or the line
  // hung up. Such a port never answers again; it stays gone until it is closed and opened
  // anew. A device that is merely silent is not gone.
  virtual bool DeviceGone() const = 0;
};

}  // namespace nx480
