#include "modbus.h"

#include <cstring>
#include <utility>

#include "identity.h"

namespace nx480 {

using namespace std::chrono_literals;

const char* RequestSlotName(RequestSlot slot) {
  static const char* const kNames[kRequestSlotCount] = {"LiveRequest",
                                                        "ReadParamsRequest",
                                                        "WriteParamsRequest",
                                                        "ReadClockRequest",
                                                        "WriteClockRequest",
                                                        "ReadCalibrationRequest",
                                                        "WriteCalibrationRequest",
                                                        "ClearHistoryRequest",
                                                        "HistoryRequest",
                                                        "UploadLength",
                                                        "RelayCommand"};
  return slot >= 0 && slot < kRequestSlotCount ? kNames[slot] : "?";
}

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
  }
  return "?";
}

TModbus::TModbus() {
  thread_ = std::thread([this] { WorkerMain(); });
  std::lock_guard<std::mutex> lock(mutex_);
  workerId_ = thread_.get_id();
}

TModbus::~TModbus() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    // A worker waiting for a synchronous call that will never be served is released; the
    // owner must have paused the worker before tearing down the windows its steps touch.
    callDone_ = true;
  }
  cv_.notify_all();
  port_.Close();  // ends a transaction that still waits on the port
  if (thread_.joinable()) thread_.join();
}

// ---------------------------------------------------------------------------------------------
// Port

bool TModbus::OpenPort(const std::string& portName, int baud, int pollInterval,
                       int readTimeoutConstant, const std::string& stopBits,
                       const std::string& parity) {
  Suspend();
  pollInterval_.store(pollInterval, std::memory_order_relaxed);
  const bool opened =
      port_.Open(portName, baud, ParityFromText(parity), StopBitsTenthsFromText(stopBits),
                 TimeoutsForBaud(baud, readTimeoutConstant));
  if (opened) connection_.fetch_add(1, std::memory_order_acq_rel);
  return opened;
}

bool TModbus::ClosePort() {
  // Close first, pause afterwards: a transaction still running fails on the closed port and the
  // worker then stops at the head of its next pass.
  port_.Close();
  Suspend();
  std::this_thread::sleep_for(10ms);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Frames

size_t TModbus::BuildRequest(const FrameTemplate& tmpl, const RequestPatch& patch) {
  requestLength_ = BuildFrame(RequestBuffer, tmpl, patch);
  return requestLength_;
}

void TModbus::SendRequest(size_t length) {
  // The write's result is not examined: a failed write shows up as a missing reply.
  port_.Write(RequestBuffer.data(), length);
  NoteGone();
}

bool TModbus::CheckReply(size_t region, size_t expected) {
  if (region + expected > ReplyBuffer.size()) expected = ReplyBuffer.size() - region;
  uint8_t* dst = ReplyBuffer.data() + region;
  const bool wasOpen = port_.IsOpen();
  lastCount_ = port_.Read(dst, expected);
  if (lastCount_ == expected && ModbusCrc(dst, lastCount_) == 0) {
    lastError_ = LinkError::None;
    return true;
  }
  NoteGone();
  if (lastCount_ < expected && port_.DeviceGone()) {
    lastError_ = LinkError::DeviceGone;
  } else if (lastCount_ == 0) {
    lastError_ = wasOpen && port_.IsOpen() ? LinkError::NoReply : LinkError::PortClosed;
  } else if (lastCount_ == 5 && (dst[1] & 0x80) && ModbusCrc(dst, 5) == 0) {
    lastError_ = LinkError::Exception;
  } else if (lastCount_ != expected) {
    lastError_ = LinkError::WrongLength;
  } else {
    lastError_ = LinkError::BadCrc;
  }
  return false;
}

bool TModbus::CheckEcho() {
  if (std::memcmp(ReplyBuffer.data(), RequestBuffer.data(), 6) == 0) return true;
  lastError_ = LinkError::BadEcho;
  return false;
}

void TModbus::DrainInput() {
  std::this_thread::sleep_for(50ms);
  const auto limit = std::chrono::steady_clock::now() + kDrainLimit;
  uint8_t byte;
  while (port_.Read(&byte, 1) == 1) {
    if (OnWorkerThread() && pauseRequested_.load(std::memory_order_acquire)) break;
    if (std::chrono::steady_clock::now() >= limit) break;
  }
  NoteGone();
}

void TModbus::NoteGone() {
  if (!port_.DeviceGone() || !OnWorkerThread()) return;
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

// ---------------------------------------------------------------------------------------------
// Identification and serial number

bool TModbus::Identify(std::string& identText) {
  if (!PortIsMine()) {
    lastError_ = LinkError::PortBusy;
    return false;
  }
  SendRequest(BuildRequest(templates::kIdentification));
  const size_t want = templates::kIdentification.replyLength;  // up to 30, at least 29 accepted
  lastCount_ = port_.Read(ReplyBuffer.data(), want);
  NoteGone();
  if (!ParseIdentification(ReplyBuffer.data(), lastCount_, identText)) {
    lastError_ = port_.DeviceGone() ? LinkError::DeviceGone
                 : lastCount_ == 0  ? LinkError::NoReply
                 : lastCount_ < 29  ? LinkError::WrongLength
                                    : LinkError::BadCrc;
    return false;
  }
  lastError_ = LinkError::None;
  return true;
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

// ---------------------------------------------------------------------------------------------
// Worker

void TModbus::BindRequest(RequestSlot slot, std::atomic<int32_t>* flag,
                          std::function<void()> transaction, std::function<void()> onException) {
  if (slot < 0 || slot >= kRequestSlotCount) return;
  const bool wasRunning = IsRunning();
  Suspend();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_[slot].flag = flag;
    slots_[slot].run = std::move(transaction);
    slots_[slot].onException = std::move(onException);
  }
  if (wasRunning) Resume();
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
  return (parked_ && pauseRequested_.load(std::memory_order_relaxed)) || callRunning_;
}

void TModbus::Suspend() {
  std::unique_lock<std::mutex> lock(mutex_);
  pauseRequested_.store(true, std::memory_order_release);
  cv_.notify_all();
  // The worker itself, or the user-interface thread inside a synchronous call (the worker is
  // waiting for it), cannot wait for the worker to stop: the request is enough, the worker
  // stops before its next transaction.
  if (std::this_thread::get_id() == workerId_ || callRunning_) return;
  while (!parked_ && !quit_) {
    if (CallWaiting()) {
      lock.unlock();
      ServiceSyncCalls();
      lock.lock();
      continue;
    }
    cv_.wait(lock);
  }
}

void TModbus::Resume() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pauseRequested_.store(false, std::memory_order_release);
  }
  cv_.notify_all();
}

void TModbus::WaitServicing(std::chrono::milliseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (CallWaiting()) {
      lock.unlock();
      ServiceSyncCalls();
      lock.lock();
      continue;
    }
    if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) return;
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
  lock.unlock();
  // Mark the call done however the step ends, so the worker never waits forever.
  std::exception_ptr thrown;
  try {
    (*step)();
  } catch (...) {
    // Not into the user-interface thread's event loop (or a Suspend() that serves the call):
    // the transaction that made the call fails with it.
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

void TModbus::RunSlot(Slot& slot) {
  if (!slot.run) return;
  try {
    slot.run();
  } catch (...) {
    // A transaction that throws must not end the program from this thread: it counts as a
    // communication failure, reported by its window, and the loop goes on.
    try {
      if (slot.onException) slot.onException();
    } catch (...) {
    }
    DrainInput();
  }
}

void TModbus::WorkerMain() {
  while (ParkIfRequested()) {
    for (Slot& slot : slots_) {
      // No transaction starts once a pause has been asked for; the flags stay set and are
      // served after the next resume.
      if (pauseRequested_.load(std::memory_order_acquire)) break;
      if (slot.flag == nullptr || slot.flag->load(std::memory_order_acquire) == 0) continue;
      RunSlot(slot);
      slot.flag->store(0, std::memory_order_release);
    }
    passes_.fetch_add(1, std::memory_order_relaxed);
    SleepPollInterval();
  }
}

}  // namespace nx480
