#include "modbus.h"

#include <algorithm>
#include <utility>

#include "identity.h"
#include "reply_check.h"
#include "serial_port.h"

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

TModbus::TModbus(std::unique_ptr<SerialLine> line)
    : line_(line ? std::move(line) : std::make_unique<SerialPort>()) {
  thread_ = std::thread([this] { WorkerMain(); });
  std::lock_guard<std::mutex> lock(mutex_);
  workerId_ = thread_.get_id();
}

TModbus::~TModbus() {
  // Stop a running transaction first (serving the synchronous call it may wait in), so the
  // join below never waits for a worker that waits for this thread.
  (void)Suspend();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    callDone_ = true;  // a call that can no longer be served releases the worker
  }
  cv_.notify_all();
  line_->Close();
  if (thread_.joinable()) thread_.join();
}

// ---------------------------------------------------------------------------------------------
// Port

bool TModbus::OpenPort(const std::string& portName, const LineSettings& settings,
                       int pollInterval) {
  if (!Suspend()) return false;  // the worker may be using the port
  pollInterval_.store(pollInterval, std::memory_order_relaxed);
  const bool opened = line_->Open(portName, settings);
  if (opened) connection_.fetch_add(1, std::memory_order_acq_rel);
  return opened;
}

bool TModbus::ClosePort() {
  // Close first, pause afterwards: a transaction still running fails on the closed port and the
  // worker then stops at the head of its next pass.
  line_->Close();
  (void)Suspend();
  std::this_thread::sleep_for(10ms);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Frames

size_t TModbus::BuildRequest(const FrameTemplate& tmpl, const RequestPatch& patch) {
  requestLength_ = BuildFrame(RequestBuffer, tmpl, patch);
  requestName_ = tmpl.name;
  return requestLength_;
}

void TModbus::SendRequest(size_t length) {
  requestSent_ = std::chrono::steady_clock::now();
  Trace(FrameDirection::Sent, RequestBuffer.data(), length, LinkError::None);
  // The write's result is not examined: a failed write shows up as a missing reply.
  line_->Write(RequestBuffer.data(), length, Stop());
  NoteGone();
}

bool TModbus::CheckReply(size_t region, size_t expected) {
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
    } else if (OnWorkerThread() && pauseRequested_.load(std::memory_order_acquire)) {
      lastError_ = LinkError::Stopped;
    }
  }
  Trace(FrameDirection::Received, dst, lastCount_, lastError_);
  return lastError_ == LinkError::None;
}

bool TModbus::CheckEcho() {
  if (EchoMatches({RequestBuffer.data(), requestLength_}, {ReplyBuffer.data(), 8})) return true;
  lastError_ = LinkError::BadEcho;
  return false;
}

void TModbus::DrainInput() {
  Sleep(50ms);
  const auto limit = std::chrono::steady_clock::now() + kDrainLimit;
  std::array<uint8_t, 64> shown{};  // the first bytes, for the trace
  size_t drained = 0;
  uint8_t byte;
  while (!(OnWorkerThread() && pauseRequested_.load(std::memory_order_acquire)) &&
         line_->Read(&byte, 1, Stop()) == 1) {
    if (drained < shown.size()) shown[drained] = byte;
    ++drained;
    if (std::chrono::steady_clock::now() >= limit) break;
  }
  if (drained > 0) {
    Trace(FrameDirection::Drained, shown.data(), std::min(drained, shown.size()), LinkError::None);
  }
  NoteGone();
}

bool TModbus::Sleep(std::chrono::microseconds duration) {
  return line_->Sleep(duration, Stop());
}

bool TModbus::StopRequested() const {
  return pauseRequested_.load(std::memory_order_acquire) || !line_->IsOpen();
}

void TModbus::NoteGone() {
  if (!line_->DeviceGone() || !OnWorkerThread()) return;
  GonePoster poster;
  const uint64_t connection = connection_.load(std::memory_order_acquire);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // No further transaction on a dead descriptor: the worker parks at the head of its next
    // pass, and the user-interface thread closes the connection.
    pauseRequested_.store(true, std::memory_order_release);
    if (goneReported_ == connection) return;
    goneReported_ = connection;
    poster = gonePoster_;
  }
  cv_.notify_all();
  if (poster) poster(connection);
}

void TModbus::Trace(FrameDirection direction, const uint8_t* bytes, size_t count,
                    LinkError verdict) {
  if (!trace_) return;
  FrameEvent event;
  event.direction = direction;
  event.bytes = {bytes, count};
  if (direction != FrameDirection::Sent) {
    event.sinceRequest = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - requestSent_);
  }
  event.verdict = verdict;
  event.frame = direction == FrameDirection::Drained ? "drain" : requestName_;
  event.transaction = OnWorkerThread() ? running_ : "connection";
  trace_(event);
}

// ---------------------------------------------------------------------------------------------
// Identification and serial number

bool TModbus::Identify(std::string& identText) {
  if (!PortIsMine()) {
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

int32_t TModbus::ReadSerialNumber() {
  if (!PortIsMine()) {
    lastError_ = LinkError::PortBusy;
    return -1;
  }
  SendRequest(BuildRequest(templates::kCalibrationRead));
  if (!CheckReply(kMainReply, templates::kCalibrationRead.replyLength)) return -1;
  return SerialNumberFromReply(ReplyBuffer.data());
}

bool TModbus::SetSession(const RelaySession& session) {
  // A worker that was asked to pause but has not parked yet is waited for.
  if (!PortIsMine() && (IsRunning() || !Suspend())) return false;
  session_ = session;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Worker

bool TModbus::Bind(const RequestDecl& decl) {
  if (decl.slot < 0 || decl.slot >= kRequestSlotCount) return false;
  const bool wasRunning = IsRunning();
  if (!Suspend()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[decl.slot];
    slot.request = decl.request;
    slot.run = decl.transaction;
    slot.onException = decl.onException;
  }
  if (wasRunning) Resume();
  return true;
}

bool TModbus::IsParked() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return parked_ && pauseRequested_.load(std::memory_order_relaxed);
}

bool TModbus::PortIsMine() const {
  if (OnWorkerThread()) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  // Parked and not yet resumed: once Resume() has been called the port is the worker's, even
  // before the worker has woken up.
  return (parked_ && pauseRequested_.load(std::memory_order_relaxed)) ||
         (callRunning_ && callThread_ == std::this_thread::get_id());
}

bool TModbus::InSyncStep() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return callRunning_ && callThread_ == std::this_thread::get_id();
}

bool TModbus::Suspend() {
  pauseRequested_.store(true, std::memory_order_release);
  line_->Wake();  // a running transaction's waits end now
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.notify_all();
  // The worker itself, or the user-interface thread inside a synchronous step (the worker is
  // waiting for it), cannot wait for the worker to stop: the request stands, the worker stops
  // once the step has returned and the transaction ended.
  if (OnWorkerThread()) return false;
  if (callRunning_ && callThread_ == std::this_thread::get_id()) return false;
  while (!parked_ && !quit_) {
    if (CallWaiting()) {
      lock.unlock();
      ServiceSyncCalls();
      lock.lock();
      continue;
    }
    cv_.wait(lock);
  }
  return parked_;
}

void TModbus::Resume() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pauseRequested_.store(false, std::memory_order_release);
  }
  cv_.notify_all();
}

void TModbus::WaitServicing(std::chrono::milliseconds duration) {
  (void)WaitServicing(duration, nullptr);
}

bool TModbus::WaitServicing(std::chrono::milliseconds duration, const std::function<bool()>& done) {
  using namespace std::chrono_literals;
  const auto deadline = std::chrono::steady_clock::now() + duration;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (CallWaiting()) {
      lock.unlock();
      ServiceSyncCalls();
      lock.lock();
      continue;
    }
    if (done) {
      lock.unlock();
      if (done()) return true;
      lock.lock();
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    // Nothing wakes the wait when `done` comes true: it is looked at every 2 ms.
    cv_.wait_until(lock, done ? std::min(deadline, now + 2ms) : deadline);
  }
}

void TModbus::SetUiPoster(UiPoster poster) {
  std::lock_guard<std::mutex> lock(mutex_);
  poster_ = std::move(poster);
}

void TModbus::SetGonePoster(GonePoster poster) {
  std::lock_guard<std::mutex> lock(mutex_);
  gonePoster_ = std::move(poster);
}

void TModbus::SetTraceHook(FrameTraceHook hook) {
  const bool wasRunning = IsRunning();
  if (!Suspend()) return;
  trace_ = std::move(hook);
  if (wasRunning) Resume();
}

void TModbus::Synchronize(const std::function<void()>& step) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!OnWorkerThread() || !poster_) {
    lock.unlock();
    step();
    return;
  }
  pendingCall_ = &step;
  callDone_ = false;
  callException_ = nullptr;
  UiPoster poster = poster_;
  cv_.notify_all();  // a Suspend() or WaitServicing() in progress serves it at once
  lock.unlock();
  poster();
  lock.lock();
  cv_.wait(lock, [this] { return callDone_; });
  pendingCall_ = nullptr;
  if (std::exception_ptr thrown = std::exchange(callException_, nullptr)) {
    lock.unlock();
    std::rethrow_exception(thrown);
  }
}

void TModbus::ServiceSyncCalls() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!CallWaiting()) return;
  const std::function<void()>* step = pendingCall_;
  callRunning_ = true;
  callThread_ = std::this_thread::get_id();
  lock.unlock();
  // Mark the call done however the step ends, so the worker never waits forever. An exception
  // goes back to the transaction that made the call, not into this thread's event loop (or a
  // Suspend() that happens to serve the call).
  std::exception_ptr thrown;
  try {
    (*step)();
  } catch (...) {
    thrown = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> relock(mutex_);
    callRunning_ = false;
    callDone_ = true;
    callException_ = thrown;
  }
  cv_.notify_all();
}

bool TModbus::ParkIfRequested() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (quit_) return false;
  if (!pauseRequested_.load(std::memory_order_acquire)) return true;
  parked_ = true;
  cv_.notify_all();
  cv_.wait(lock, [this] { return quit_ || !pauseRequested_.load(std::memory_order_acquire); });
  parked_ = false;
  return !quit_;
}

void TModbus::SleepPollInterval() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait_for(lock, std::chrono::milliseconds(PollInterval()),
               [this] { return quit_ || pauseRequested_.load(std::memory_order_acquire); });
}

void TModbus::RunSlot(const RequestSlotEntry& entry) {
  Slot& slot = slots_[entry.slot];
  if (!slot.run) return;
  running_ = entry.name;
  try {
    slot.run(*this);
  } catch (...) {
    // A transaction that throws must not end the program from this thread: it counts as a
    // communication failure, reported by its window, and the loop goes on.
    try {
      if (slot.onException) slot.onException(*this);
    } catch (...) {
    }
    DrainInput();
  }
  running_ = "";
}

void TModbus::WorkerMain() {
  TightenTimersOfThisThread();
  while (ParkIfRequested()) {
    for (const RequestSlotEntry& entry : kRequestSlots) {
      // No transaction starts once a pause has been asked for; the flags stay set and are
      // served after the next resume.
      if (pauseRequested_.load(std::memory_order_acquire)) break;
      Request* request = slots_[entry.slot].request;
      if (request == nullptr) continue;
      int32_t served = request->Value();
      if (served == 0) continue;
      RunSlot(entry);
      // Cleared only now: while the transaction runs, the window sees its request pending. Only
      // the value served is cleared: another value set meanwhile (an "Auto" clicked while a
      // forced state went out) is a new request and stays for the next pass.
      request->Flag().compare_exchange_strong(served, 0, std::memory_order_acq_rel);
    }
    passes_.fetch_add(1, std::memory_order_relaxed);
    SleepPollInterval();
  }
}

}  // namespace nx480
