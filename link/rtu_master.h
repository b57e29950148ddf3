// RtuMaster: the Modbus RTU master on the serial line. It owns the line and the two frame
// buffers, builds a request from its template, sends it, reads and judges the reply, drains the
// input after a failure and traces every frame. It runs on the thread that owns the port: the
// worker, or another thread while the worker is parked or waits in a synchronous call
// (Worker::PortIsMine()); on the worker a pause cuts its waits short. THREADING.md beside this
// file says who may touch what, and when.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "frame_trace.h"
#include "frames.h"
#include "link_error.h"
#include "outcome.h"
#include "serial_line.h"

namespace nx480 {

class Worker;

class RtuMaster {
 public:
  // The line (closed) and the worker whose pause ends the line's waits on its thread.
  RtuMaster(std::unique_ptr<SerialLine> line, Worker& worker);
  RtuMaster(const RtuMaster&) = delete;
  RtuMaster& operator=(const RtuMaster&) = delete;

  // ---- The line ----
  bool PortIsOpen() const { return line_->IsOpen(); }
  // The device of the open port is gone (unplugged, hung up): every transaction fails, and the
  // worker has paused itself; the connection must be closed and made anew.
  bool DeviceGone() const { return line_->DeviceGone(); }
  // Counts the successful opens: names the connection a gone-device report belongs to.
  uint64_t Connection() const { return connection_.load(std::memory_order_acquire); }
  OpenError LastOpenError() const { return line_->LastOpenError(); }
  // The line's clock (serial_line.h): what every wait of a transaction is measured in.
  std::chrono::steady_clock::time_point Now() const { return line_->Now(); }

  // ---- Frames (on the thread that owns the port) ----
  // Template into RequestBuffer, patches, CRC; returns the length to send.
  size_t BuildRequest(const FrameTemplate& tmpl, const RequestPatch& patch = {});
  // One write of the request built last.
  void SendRequest(size_t length);
  // The last request went out whole. A request without a reply (the upload's Run) has only this
  // to say whether it left: otherwise a failed write shows up as a missing reply.
  bool SentWhole() const { return sentWhole_; }
  // How a write ends whose acknowledgement did not come whole (its wait cut short, no reply, a
  // spoilt or wrong one): a communication error when nothing that changes the relay went out -
  // its frame did not leave whole, or the relay refused it with an exception reply; else Unknown,
  // with LastError(): the relay may have taken it.
  Outcome UnacknowledgedWrite() const;
  // One read of `expected` bytes into ReplyBuffer at `region`, judged against the request built
  // last (reply_check.h). LastError() and LastExceptionCode() keep what it learnt.
  bool CheckReply(size_t region, size_t expected);
  // After a good CheckReply of a write: address, function, first register and quantity of the
  // reply equal those of the request.
  bool CheckEcho();
  // Recovery after a failure: wait 50 ms, then discard bytes until a read brings none. A line
  // that never goes quiet is given up on after kDrainLimit (the next transaction then fails on
  // what it reads, and drains again); the drain also ends on a pause, a close or a gone device.
  void DrainInput();
  static constexpr std::chrono::milliseconds kDrainLimit{1000};
  // A transaction's fixed wait (80 ms before the second frequency reading, 250 ms before the
  // second parameter acknowledgement, ...). On the worker a pause or a close cuts it short:
  // false then, LastError() says which (Stopped, PortClosed), and the transaction should end
  // (as failed).
  bool Sleep(std::chrono::microseconds duration);

  // What ended the last exchange, or the last wait that was cut short (None: it went well).
  LinkError LastError() const { return lastError_; }
  uint8_t LastExceptionCode() const { return lastException_; }
  size_t LastReplyCount() const { return lastCount_; }

  std::array<uint8_t, 256> ReplyBuffer{};
  std::array<uint8_t, 64> RequestBuffer{};

  // ---- Exchanges of the connection search (and of the upload, with the restarted relay) ----
  // Only while the caller owns the port (PortBusy otherwise).
  // Identification (function 0x11). True on a valid reply; then identText holds the text.
  bool Identify(std::string& identText);
  // Serial number from the calibration block, or -1 when the read fails.
  int32_t ReadSerialNumber();

 protected:
  // Only while the worker cannot use the line (parked, or for Close() any time: a call waiting
  // on the line then ends as on a closed port).
  bool OpenLine(const std::string& portName, const LineSettings& settings);
  void CloseLine() { line_->Close(); }
  // Lets time pass on the line's clock, the port open or not.
  void IdleLine(std::chrono::microseconds duration) { line_->Idle(duration); }
  // Any thread: a waiting call looks at its stop flag now.
  void WakeLine() { line_->Wake(); }
  // Every frame sent, received or drained (frame_trace.h). Only while the worker is parked.
  void SetTrace(FrameTraceHook hook) { trace_ = std::move(hook); }

 private:
  // The stop flag for the line's waits on the calling thread (the worker's pause request).
  const StopFlag* Stop() const;
  // On the worker, with a pause asked for.
  bool Stopping() const;
  // After every read and write: a gone device pauses the worker and is reported once.
  void NoteGone();
  void Trace(FrameDirection direction, const uint8_t* bytes, size_t count, LinkError verdict);

  std::unique_ptr<SerialLine> line_;
  Worker& worker_;
  std::atomic<uint64_t> connection_{0};
  LinkError lastError_ = LinkError::None;
  uint8_t lastException_ = 0;
  size_t lastCount_ = 0;
  size_t requestLength_ = 0;
  bool sentWhole_ = false;
  const char* requestName_ = "";
  std::chrono::steady_clock::time_point requestSent_{};
  FrameTraceHook trace_;
};

}  // namespace nx480
