// TModbus: the one communication worker. It owns the serial line and the two frame buffers,
// runs the transactions that the windows request, and hands results to the user-interface
// thread through synchronous calls. Who may touch what, and when: THREADING.md beside this file.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "frame_trace.h"
#include "frames.h"
#include "link_error.h"
#include "relay_session.h"
#include "request.h"
#include "serial_line.h"

namespace nx480 {

class TModbus {
 public:
  // Runs the worker's pending synchronous call on the user-interface thread: it must arrange
  // for ServiceSyncCalls() to be called there soon (a queued call in the event loop).
  using UiPoster = std::function<void()>;
  // Tells the user-interface thread, without waiting, that the device of the connection with
  // the given number is gone (see DeviceGone()).
  using GonePoster = std::function<void(uint64_t connection)>;

  // The worker thread exists and is parked; the line is closed. Without a line of its own the
  // platform's serial port is used.
  explicit TModbus(std::unique_ptr<SerialLine> line = nullptr);
  // Pauses the worker (serving a synchronous call it may be waiting in), then ends and joins it.
  ~TModbus();
  TModbus(const TModbus&) = delete;
  TModbus& operator=(const TModbus&) = delete;

  // ---- Port (user-interface thread) ----
  // Pauses the worker, opens and configures the port. Returns false if the device cannot be
  // opened (LastOpenError() says why), and without touching the port when the worker cannot be
  // parked (called from inside a synchronous step).
  bool OpenPort(const std::string& portName, const LineSettings& settings, int pollInterval);
  // Closes the port if open (a transaction waiting on it ends at once), then pauses the worker.
  bool ClosePort();
  bool PortIsOpen() const { return line_->IsOpen(); }
  // The device of the open port is gone (unplugged, hung up): every transaction fails, and the
  // worker has paused itself; the connection must be closed and made anew.
  bool DeviceGone() const { return line_->DeviceGone(); }
  // Counts the successful opens: names the connection a gone-device report belongs to.
  uint64_t Connection() const { return connection_.load(std::memory_order_acquire); }
  OpenError LastOpenError() const { return line_->LastOpenError(); }
  int PollInterval() const { return pollInterval_.load(std::memory_order_relaxed); }

  // ---- Frames (on the thread that owns the port) ----
  // Template into RequestBuffer, patches, CRC; returns the length to send.
  size_t BuildRequest(const FrameTemplate& tmpl, const RequestPatch& patch = {});
  // One write of the request built last.
  void SendRequest(size_t length);
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
  // false then, and the transaction should end (as failed).
  bool Sleep(std::chrono::microseconds duration);
  // Worker: a pause or a close asks the running transaction to end at its next step (the long
  // ones - the history walk, the firmware upload - look at it between their exchanges).
  bool StopRequested() const;

  LinkError LastError() const { return lastError_; }
  uint8_t LastExceptionCode() const { return lastException_; }
  size_t LastReplyCount() const { return lastCount_; }

  std::array<uint8_t, 256> ReplyBuffer{};
  std::array<uint8_t, 64> RequestBuffer{};

  // ---- Transactions run directly by the user-interface thread ----
  // Only while the worker is parked, or waits in a synchronous call (PortIsMine()).
  // Identification (function 0x11). True on a valid reply; then identText holds the text.
  bool Identify(std::string& identText);
  // Serial number from the calibration block, or -1 when the read fails.
  int32_t ReadSerialNumber();

  // ---- The relay session, as the transactions see it ----
  // User-interface thread, while the worker is parked or waits in a synchronous call.
  bool SetSession(const RelaySession& session);
  // Worker thread (or the owner of the port).
  const RelaySession& Session() const { return session_; }

  // ---- Requests ----
  // Binds a window's declared request to its slot; only while the worker is parked (false
  // otherwise).
  bool Bind(const RequestDecl& decl);

  // ---- Worker ----
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
  // True when the calling thread may use the port and buffers now.
  bool PortIsMine() const;
  // True on the user-interface thread while it runs a synchronous step for the worker.
  bool InSyncStep() const;
  // User-interface thread: lets time pass while still serving the worker's synchronous calls
  // (the grace time given to a running transaction before a pause).
  void WaitServicing(std::chrono::milliseconds duration);
  // The same, ending early once `done()` holds (looked at every few milliseconds); returns it.
  bool WaitServicing(std::chrono::milliseconds duration, const std::function<bool()>& done);

  // Worker thread: runs `step` on the user-interface thread and waits until it has returned.
  // An exception thrown by the step is rethrown here. Called from any other thread (or with no
  // poster installed) it runs `step` directly.
  void Synchronize(const std::function<void()>& step);
  // User-interface thread: the poster, and the thread it serves.
  void SetUiPoster(UiPoster poster);
  // User-interface thread: runs the pending synchronous call, if any.
  void ServiceSyncCalls();
  // Where a gone device is reported (once per connection).
  void SetGonePoster(GonePoster poster);
  // Every frame sent, received or drained (frame_trace.h). Set while the worker is parked.
  void SetTraceHook(FrameTraceHook hook);

  // Passes completed by the worker loop (for tests and benchmarks).
  uint64_t Passes() const { return passes_.load(std::memory_order_relaxed); }

 private:
  struct Slot {
    Request* request = nullptr;
    std::function<void(TModbus&)> run;
    std::function<void(TModbus&)> onException;
  };

  void WorkerMain();
  void RunSlot(const RequestSlotEntry& entry);
  bool ParkIfRequested();  // false when the thread must end
  void SleepPollInterval();
  bool OnWorkerThread() const { return std::this_thread::get_id() == workerId_; }
  // The stop flag for the line's waits: the pause request on the worker, none elsewhere.
  const StopFlag* Stop() const { return OnWorkerThread() ? &pauseRequested_ : nullptr; }
  // A synchronous call waits for the user-interface thread (mutex_ held).
  bool CallWaiting() const { return pendingCall_ != nullptr && !callRunning_ && !callDone_; }
  // After every read and write: a gone device pauses the worker and is reported once.
  void NoteGone();
  void Trace(FrameDirection direction, const uint8_t* bytes, size_t count, LinkError verdict);

  std::unique_ptr<SerialLine> line_;
  std::atomic<int> pollInterval_{50};
  LinkError lastError_ = LinkError::None;
  uint8_t lastException_ = 0;
  size_t lastCount_ = 0;
  size_t requestLength_ = 0;
  const char* requestName_ = "";
  std::chrono::steady_clock::time_point requestSent_{};
  RelaySession session_;
  FrameTraceHook trace_;
  const char* running_ = "connection";  // the slot being served (worker), for the trace

  std::array<Slot, kRequestSlotCount> slots_;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  StopFlag pauseRequested_{true};
  bool parked_ = false;
  bool quit_ = false;
  UiPoster poster_;
  GonePoster gonePoster_;
  std::atomic<uint64_t> connection_{0};
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
