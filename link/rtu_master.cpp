#include "rtu_master.h"

#include <algorithm>
#include <utility>

#include "identity.h"
#include "reply_check.h"
#include "worker.h"

namespace nx480 {

using namespace std::chrono_literals;

const char* LinkErrorText(LinkError error) {
  switch (error) {
    case LinkError::None:
      return "no error";
    case LinkError::NoReply:
      return "no reply";
    case LinkError::WrongLength:
      return "reply of wrong length";
    case LinkError::BadCrc:
      return "reply with bad CRC";
    case LinkError::WrongSlave:
      return "reply from another slave";
    case LinkError::WrongFunction:
      return "reply of another function";
    case LinkError::WrongByteCount:
      return "reply with a wrong byte count";
    case LinkError::Exception:
      return "exception reply";
    case LinkError::BadEcho:
      return "acknowledgement differs from request";
    case LinkError::PortClosed:
      return "port closed";
    case LinkError::PortBusy:
      return "port in use by the worker";
    case LinkError::DeviceGone:
      return "device gone";
    case LinkError::Stopped:
      return "stopped";
  }
  return "?";
}

RtuMaster::RtuMaster(std::unique_ptr<SerialLine> line, Worker& worker)
    : line_(std::move(line)), worker_(worker) {}

bool RtuMaster::OpenLine(const std::string& portName, const LineSettings& settings) {
  const bool opened = line_->Open(portName, settings);
  if (opened) connection_.fetch_add(1, std::memory_order_acq_rel);
  return opened;
}

const StopFlag* RtuMaster::Stop() const {
  return worker_.StopFlagHere();
}

bool RtuMaster::Stopping() const {
  const StopFlag* stop = Stop();
  return stop != nullptr && stop->load(std::memory_order_acquire);
}

size_t RtuMaster::BuildRequest(const FrameTemplate& tmpl, const RequestPatch& patch) {
  requestLength_ = BuildFrame(RequestBuffer, tmpl, patch);
  requestName_ = tmpl.name;
  return requestLength_;
}

void RtuMaster::SendRequest(size_t length) {
  requestSent_ = line_->Now();
  Trace(FrameDirection::Sent, RequestBuffer.data(), length, LinkError::None);
  // A failed write shows up as a missing reply; SentWhole() keeps it for a request without one.
  sentWhole_ = line_->Write(RequestBuffer.data(), length, Stop()) == length;
  NoteGone();
}

bool RtuMaster::CheckReply(size_t region, size_t expected) {
  if (region + expected > ReplyBuffer.size()) expected = ReplyBuffer.size() - region;
  uint8_t* dst = ReplyBuffer.data() + region;
  const bool wasOpen = line_->IsOpen();
  // An exception reply is shorter than the one expected: it ends the read as soon as it is whole.
  lastCount_ = line_->Read(dst, expected, Stop(), ExceptionReplyLength);
  NoteGone();
  const ReplyVerdict verdict =
      JudgeReply({RequestBuffer.data(), requestLength_}, {dst, lastCount_}, expected);
  lastError_ = verdict.error;
  lastException_ = verdict.exceptionCode;
  // A read that ended short for a reason of our own side says so.
  if (lastError_ == LinkError::NoReply || lastError_ == LinkError::WrongLength) {
    if (line_->DeviceGone()) {
      lastError_ = LinkError::DeviceGone;
    } else if (!wasOpen || !line_->IsOpen()) {
      lastError_ = LinkError::PortClosed;
    } else if (Stopping()) {
      lastError_ = LinkError::Stopped;
    }
  }
  Trace(FrameDirection::Received, dst, lastCount_, lastError_);
  return lastError_ == LinkError::None;
}

Outcome RtuMaster::UnacknowledgedWrite() const {
  if (!sentWhole_ || lastError_ == LinkError::Exception)
    return {Outcome::CommunicationError, lastError_};
  return {Outcome::Unknown, lastError_};
}

bool RtuMaster::CheckEcho() {
  if (EchoMatches({RequestBuffer.data(), requestLength_}, {ReplyBuffer.data(), 8})) return true;
  lastError_ = LinkError::BadEcho;
  return false;
}

void RtuMaster::DrainInput() {
  // The line's own wait: the drain leaves LastError() as the failed exchange set it.
  (void)line_->Sleep(50ms, Stop());
  const auto limit = line_->Now() + kDrainLimit;
  std::array<uint8_t, 64> shown{};  // the first bytes, for the trace
  size_t drained = 0;
  uint8_t byte;
  while (!Stopping() && line_->Read(&byte, 1, Stop()) == 1) {
    if (drained < shown.size()) shown[drained] = byte;
    ++drained;
    if (line_->Now() >= limit) break;
  }
  if (drained > 0) {
    Trace(FrameDirection::Drained, shown.data(), std::min(drained, shown.size()), LinkError::None);
  }
  NoteGone();
}

bool RtuMaster::Sleep(std::chrono::microseconds duration) {
  if (line_->Sleep(duration, Stop())) return true;
  lastError_ = line_->IsOpen() ? LinkError::Stopped : LinkError::PortClosed;
  return false;
}

void RtuMaster::NoteGone() {
  if (line_->DeviceGone() && worker_.OnWorkerThread()) worker_.PauseForGoneDevice(Connection());
}

void RtuMaster::Trace(FrameDirection direction, const uint8_t* bytes, size_t count,
                      LinkError verdict) {
  if (!trace_) return;
  FrameEvent event;
  event.direction = direction;
  event.bytes = {bytes, count};
  if (direction != FrameDirection::Sent) {
    event.sinceRequest = std::chrono::duration_cast<std::chrono::microseconds>(
        line_->Now() - requestSent_);
  }
  event.verdict = verdict;
  event.frame = direction == FrameDirection::Drained ? "drain" : requestName_;
  event.transaction = worker_.Serving();
  trace_(event);
}

// ---------------------------------------------------------------------------------------------
// Identification and serial number

bool RtuMaster::Identify(std::string& identText) {
  if (!worker_.PortIsMine()) {
    lastError_ = LinkError::PortBusy;
    return false;
  }
  SendRequest(BuildRequest(templates::kIdentification));
  // Up to 30 bytes, at least 29 accepted; the reply's byte count ends the read as soon as it is
  // whole, not one inter-byte gap after its last byte.
  const size_t want = templates::kIdentification.replyLength;
  lastCount_ = line_->Read(ReplyBuffer.data(), want, Stop(), IdentificationReplyLength);
  NoteGone();
  const ReplyVerdict verdict =
      JudgeIdentification({RequestBuffer.data(), requestLength_}, {ReplyBuffer.data(), lastCount_});
  lastError_ = line_->DeviceGone() && verdict.error != LinkError::None ? LinkError::DeviceGone
                                                                       : verdict.error;
  lastException_ = verdict.exceptionCode;
  Trace(FrameDirection::Received, ReplyBuffer.data(), lastCount_, lastError_);
  if (lastError_ != LinkError::None) return false;
  return ParseIdentification(ReplyBuffer.data(), lastCount_, identText);
}

int32_t RtuMaster::ReadSerialNumber() {
  if (!worker_.PortIsMine()) {
    lastError_ = LinkError::PortBusy;
    return -1;
  }
  SendRequest(BuildRequest(templates::kCalibrationRead));
  if (!CheckReply(kMainReply, templates::kCalibrationRead.replyLength)) return -1;
  return SerialNumberFromReply(ReplyBuffer.data());
}

}  // namespace nx480
