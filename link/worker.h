// Worker: the one communication thread. It parks and resumes, serves the bound requests in the
// order of kRequestSlots, and runs a transaction's window steps on the user-interface thread
// while it waits for them (synchronous calls). It knows nothing of the line: what a slot runs,
// and how a running transaction's waits are woken, its owner gives it (TModbus). Who may touch
// what, and when: THREADING.md beside this file.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "request.h"
#include "serial_line.h"

namespace nx480 {

class Worker {
 public:
  // Runs the worker's pending synchronous call on the user-interface thread: it must arrange
  // for ServiceSyncCalls() to be called there soon (a queued call in the event loop).
  using UiPoster = std::function<void()>;
  // Tells the user-interface thread, without waiting, that the device of the connection with
  // the given number is gone (see PauseForGoneDevice()).
  using GonePoster = std::function<void(uint64_t connection)>;

  using TimeSource = std::function<std::chrono::steady_clock::time_point()>;

  // The thread exists and is parked. `wake` makes the waits of a running transaction look at
  // the pause request at once (the line's Wake(); any thread). `now` is the line's clock, which
  // the grace waits count in (the steady clock when none is given).
  explicit Worker(std::function<void()> wake, TimeSource now = nullptr);
  // Shuts the thread down, unless its owner has done so already.
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Asks the worker to stop before its next transaction, cuts the waits of a running one short
  // and waits until it has stopped, serving its synchronous calls meanwhile. True when the
  // worker is parked on return. Called from inside a synchronous step (the worker is waiting
  // for that very step) it cannot wait: the pause is recorded and takes effect when the step
  // has returned and the transaction ended, and the result is false; whoever needs a parked
  // worker must not go on.
  bool Suspend();
  void Resume();
  bool IsRunning() const { return !pauseRequested_.load(std::memory_order_acquire); }
  bool IsParked() const;
  // True when the calling thread may use the port and buffers now: the worker itself, any
  // thread while the worker is parked (and not yet resumed), the thread that runs a
  // synchronous step.
  bool PortIsMine() const;
  // True on the user-interface thread while it runs a synchronous step for the worker.
  bool InSyncStep() const;
  // User-interface thread: lets time pass while still serving the worker's synchronous calls
  // (the grace time given to a running transaction before a pause). The time is the line's: a
  // transaction is given `duration` of its own waits, on a line in virtual time too; it never
  // takes longer than `duration` of the steady clock either, so a line whose clock stands still
  // holds nobody.
  void WaitServicing(std::chrono::milliseconds duration);
  // The same, ending early once `done()` holds (looked at every few milliseconds); returns it.
  bool WaitServicing(std::chrono::milliseconds duration, const std::function<bool()>& done);

  // Worker thread: runs `step` on the user-interface thread and waits until it has returned.
  // An exception thrown by the step is rethrown here. Called from any other thread (or with no
  // poster installed) it runs `step` directly.
  void Synchronize(const std::function<void()>& step);
  // User-interface thread: the poster, and the thread it serves.
  void SetUiPoster(UiPoster poster);
  UiPoster Poster() const;
  // User-interface thread: runs the pending synchronous call, if any.
  void ServiceSyncCalls();
  // Where a gone device is reported (once per connection).
  void SetGonePoster(GonePoster poster);

  // The wait between two passes of the loop.
  int PollInterval() const { return pollInterval_.load(std::memory_order_relaxed); }
  void SetPollInterval(int milliseconds) {
    pollInterval_.store(milliseconds, std::memory_order_relaxed);
  }

  // Passes completed by the worker loop (for tests and benchmarks).
  uint64_t Passes() const { return passes_.load(std::memory_order_relaxed); }

  // ---- For the master on the port: what the worker means to the calling thread ----
  bool OnWorkerThread() const { return std::this_thread::get_id() == workerId_; }
  // The stop flag for the line's waits: the pause request on the worker, none elsewhere.
  const StopFlag* StopFlagHere() const { return OnWorkerThread() ? &pauseRequested_ : nullptr; }
  // The name of the slot being served on the worker ("connection" on any other thread).
  const char* Serving() const { return OnWorkerThread() ? running_ : "connection"; }
  // Worker thread: the device of `connection` is gone. No further transaction starts (the
  // worker parks at the head of its next pass); the gone poster is told once per connection.
  void PauseForGoneDevice(uint64_t connection);

 protected:
  // Binds `request` to `slot`: `run` serves it; `recover` follows a `run` that threw (its own
  // exception is swallowed). Only while the worker is parked (false otherwise).
  bool BindSlot(RequestSlot slot, Request* request, std::function<void()> run,
                std::function<void()> recover);
  // Pauses the worker (serving a synchronous call it may be waiting in), then ends and joins
  // it. The owner calls it before anything a transaction uses is destroyed.
  void Shutdown();

 private:
  struct Slot {
    Request* request = nullptr;
    std::function<void()> run;
    std::function<void()> recover;
  };

  void WorkerMain();
  void RunSlot(const RequestSlotEntry& entry);
  bool ParkIfRequested();  // false when the thread must end
  void SleepPollInterval();
  // A synchronous call waits for the user-interface thread (mutex_ held).
  bool CallWaiting() const { return pendingCall_ != nullptr && !callRunning_ && !callDone_; }

  std::function<void()> wake_;
  TimeSource now_;
  std::atomic<int> pollInterval_{50};
  const char* running_ = "connection";  // the slot being served (worker), for the trace

  std::array<Slot, kRequestSlotCount> slots_;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  StopFlag pauseRequested_{true};
  bool parked_ = false;
  bool quit_ = false;
  UiPoster poster_;
  GonePoster gonePoster_;
  uint64_t goneReported_ = 0;  // the connection whose loss was reported last (mutex_)
  const std::function<void()>* pendingCall_ = nullptr;
  std::exception_ptr callException_;  // thrown by the step of the pending call
  bool callRunning_ = false;
  std::thread::id callThread_;  // the thread that runs the step (the user-interface thread)
  bool callDone_ = false;
  std::atomic<uint64_t> passes_{0};

  std::thread::id workerId_;
  std::thread thread_;  // last: starts after every other member is ready
};

}  // namespace nx480
