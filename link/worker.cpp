#include "worker.h"

#include <algorithm>
#include <utility>

#include "serial_port.h"

namespace nx480 {

using namespace std::chrono_literals;

Worker::Worker(std::function<void()> wake, TimeSource now)
    : wake_(std::move(wake)), now_(now ? std::move(now) : [] { return std::chrono::steady_clock::now(); }) {
  thread_ = std::thread([this] { WorkerMain(); });
  std::lock_guard<std::mutex> lock(mutex_);
  workerId_ = thread_.get_id();
}

Worker::~Worker() {
  Shutdown();
}

void Worker::Shutdown() {
  if (!thread_.joinable()) return;
  // Stop a running transaction first (serving the synchronous call it may wait in), so the
  // join below never waits for a worker that waits for this thread.
  (void)Suspend();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    callDone_ = true;  // a call that can no longer be served releases the worker
  }
  cv_.notify_all();
  wake_();
  thread_.join();
}

bool Worker::BindSlot(RequestSlot index, Request* request, std::function<void()> run,
                      std::function<void()> recover) {
  if (index < 0 || index >= kRequestSlotCount) return false;
  const bool wasRunning = IsRunning();
  if (!Suspend()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[index];
    slot.request = request;
    slot.run = std::move(run);
    slot.recover = std::move(recover);
  }
  if (wasRunning) Resume();
  return true;
}

bool Worker::IsParked() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return parked_ && pauseRequested_.load(std::memory_order_relaxed);
}

bool Worker::PortIsMine() const {
  if (OnWorkerThread()) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  // Parked and not yet resumed: once Resume() has been called the port is the worker's, even
  // before the worker has woken up.
  return (parked_ && pauseRequested_.load(std::memory_order_relaxed)) ||
         (callRunning_ && callThread_ == std::this_thread::get_id());
}

bool Worker::InSyncStep() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return callRunning_ && callThread_ == std::this_thread::get_id();
}

bool Worker::Suspend() {
  pauseRequested_.store(true, std::memory_order_release);
  wake_();  // a running transaction's waits end now
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

void Worker::Resume() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pauseRequested_.store(false, std::memory_order_release);
  }
  cv_.notify_all();
}

void Worker::PauseForGoneDevice(uint64_t connection) {
  GonePoster poster;
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

void Worker::WaitServicing(std::chrono::milliseconds duration) {
  (void)WaitServicing(duration, nullptr);
}

bool Worker::WaitServicing(std::chrono::milliseconds duration, const std::function<bool()>& done) {
  const auto deadline = now_() + duration;
  const auto realDeadline = std::chrono::steady_clock::now() + duration;
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
    if (now >= realDeadline || now_() >= deadline) return false;
    // Nothing wakes the wait when `done` comes true, nor when the line's clock moves on: both
    // are looked at every 2 ms.
    cv_.wait_until(lock, std::min(realDeadline, now + 2ms));
  }
}

void Worker::SetUiPoster(UiPoster poster) {
  std::lock_guard<std::mutex> lock(mutex_);
  poster_ = std::move(poster);
}

Worker::UiPoster Worker::Poster() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return poster_;
}

void Worker::SetGonePoster(GonePoster poster) {
  std::lock_guard<std::mutex> lock(mutex_);
  gonePoster_ = std::move(poster);
}

void Worker::Synchronize(const std::function<void()>& step) {
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

void Worker::ServiceSyncCalls() {
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

bool Worker::ParkIfRequested() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (quit_) return false;
  if (!pauseRequested_.load(std::memory_order_acquire)) return true;
  parked_ = true;
  cv_.notify_all();
  cv_.wait(lock, [this] { return quit_ || !pauseRequested_.load(std::memory_order_acquire); });
  parked_ = false;
  return !quit_;
}

void Worker::SleepPollInterval() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait_for(lock, std::chrono::milliseconds(PollInterval()),
               [this] { return quit_ || pauseRequested_.load(std::memory_order_acquire); });
}

void Worker::RunSlot(const RequestSlotEntry& entry) {
  Slot& slot = slots_[entry.slot];
  if (!slot.run) return;
  running_ = entry.name;
  try {
    slot.run();
  } catch (...) {
    // A transaction that throws must not end the program from this thread: it counts as a
    // communication failure, reported by its window, and the loop goes on.
    try {
      if (slot.recover) slot.recover();
    } catch (...) {
    }
  }
  running_ = "";
}

void Worker::WorkerMain() {
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
