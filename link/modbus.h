// TModbus: the one communication worker. It owns the serial port and the two frame buffers,
// runs the transactions that the windows request through their request flags, and hands
// results to the user-interface thread through synchronous calls.
//
// Threads and hand-over, in one place:
//  * Two threads use this object: the user-interface thread (windows, timers, connection
//    search) and the worker thread (the loop below and every flag transaction).
//  * The port and the buffers have one user at a time. The worker uses them while it runs; the
//    user-interface thread only while the worker is parked (Suspend() has returned) or while the
//    worker waits inside a synchronous call. PortIsMine() checks exactly that, and Identify()
//    and ReadSerialNumber() refuse to touch the port otherwise.
//  * Pausing: Suspend() asks the worker to stop at the head of its next pass (no transaction
//    starts once a pause is asked for) and waits until it has stopped. While it waits it runs
//    the worker's pending synchronous call itself, so a worker that is waiting for the
//    user-interface thread is never waited for in turn: no deadlock.
//  * Request flags are atomics owned by the windows. A window writes the request's data first
//    and sets the flag last (release); the worker reads the flag (acquire), runs the
//    transaction and clears the flag. Results go back through Synchronize(), whose hand-over
//    under the mutex orders the worker's writes before the user-interface step that reads them.
//  * Closing the port from the user-interface thread while a transaction waits on it wakes the
//    wait and makes the transaction fail as on a closed port (see SerialPort).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "frames.h"
#include "serial_port.h"

namespace nx480 {

// The request flags in the order in which the worker serves them.
enum RequestSlot : int {
  kLiveRequest,
  kReadParamsRequest,
  kWriteParamsRequest,
  kReadClockRequest,
  kWriteClockRequest,
  kReadCalibrationRequest,
  kWriteCalibrationRequest,
  kClearHistoryRequest,
  kHistoryRequest,
  kUploadLength,
  kRelayCommand,
  kRequestSlotCount
};
const char* RequestSlotName(RequestSlot slot);

// Why the last reply check failed.
enum class LinkError {
  None,
  NoReply,      // nothing arrived within the read limit
  WrongLength,  // too few or too many bytes
  BadCrc,       // right length, CRC over the frame is not 0
  Exception,    // the relay answered with a Modbus exception reply
  BadEcho,      // a write's acknowledgement differs from the request
  PortClosed,
  PortBusy,    // the caller does not own the port (the worker is running)
  DeviceGone,  // the adapter was unplugged or the line hung up
};
const char* LinkErrorText(LinkError error);

// Regions of ReplyBuffer.
inline constexpr size_t kMainReply = 0;
inline constexpr size_t kFrequencyReply = 200;
inline constexpr size_t kCoilReply = 208;

class TModbus {
 public:
  // Runs the worker's pending synchronous call on the user-interface thread: it must arrange
  // for ServiceSyncCalls() to be called there soon (a queued call in the event loop).
  using UiPoster = std::function<void()>;
  // Tells the user-interface thread, without waiting, that the device of the connection with
  // the given number is gone (see DeviceGone()).
  using GonePoster = std::function<void(uint64_t connection)>;

  TModbus();   // the worker thread exists and is paused; the port is closed
  ~TModbus();  // ends and joins the worker thread (it must be paused or idle)
  TModbus(const TModbus&) = delete;
  TModbus& operator=(const TModbus&) = delete;

  // ---- Port ----
  // Pauses the worker if it runs, opens and configures the port. Returns false if the device
  // cannot be opened; LastOpenError() says why.
  bool OpenPort(const std::string& portName, int baud, int pollInterval, int readTimeoutConstant,
                const std::string& stopBits, const std::string& parity);
  // Closes the port if open (a transaction waiting on it fails), then pauses the worker.
  bool ClosePort();
  bool PortIsOpen() const { return port_.IsOpen(); }
  // The device of the open port is gone (unplugged, hung up): every transaction fails, and the
  // worker has paused itself; the connection must be closed and made anew.
  bool DeviceGone() const { return port_.DeviceGone(); }
  // Counts the successful opens: names the connection a gone-device report belongs to.
  uint64_t Connection() const { return connection_.load(std::memory_order_acquire); }
  OpenError LastOpenError() const { return port_.LastOpenError(); }
  int PollInterval() const { return pollInterval_.load(std::memory_order_relaxed); }

  // ---- Frames (used by every transaction, on the thread that owns the port) ----
  // Template into RequestBuffer, patches, CRC; returns the length to send.
  size_t BuildRequest(const FrameTemplate& tmpl, const RequestPatch& patch = {});
  // One write of the request built last.
  void SendRequest(size_t length);
  // One read of `expected` bytes into ReplyBuffer at `region`; good when all arrived and the
  // CRC over them is 0.
  bool CheckReply(size_t region, size_t expected);
  // After a good CheckReply of a write: address, function, first register and quantity of the
  // reply equal those of the request.
  bool CheckEcho();
  // Recovery after a failure: wait 50 ms, then discard bytes until a read brings none. A line
  // that never goes quiet is given up on after kDrainLimit (the next transaction then fails on
  // what it reads, and drains again), so a babbling line cannot hold the worker in one drain;
  // the drain also ends when a pause is asked for or the device is gone.
  void DrainInput();
  static constexpr std::chrono::milliseconds kDrainLimit{1000};
  LinkError LastError() const { return lastError_; }
  size_t LastReplyCount() const { return lastCount_; }

  std::array<uint8_t, 256> ReplyBuffer{};
  std::array<uint8_t, 64> RequestBuffer{};

  // ---- Transactions run directly by the user-interface thread ----
  // Identification (function 0x11). True on a valid reply; then identText holds the text.
  bool Identify(std::string& identText);
  // Serial number from the calibration block, or -1 when the read fails.
  int32_t ReadSerialNumber();

  // ---- Worker ----
  // Binds a window's flag and its transaction to a slot. Pauses the worker first.
  // `onException` runs on the worker when the transaction throws: it reports the failure as a
  // communication error would (the worker then drains the input and goes on with the loop).
  void BindRequest(RequestSlot slot, std::atomic<int32_t>* flag, std::function<void()> transaction,
                   std::function<void()> onException = nullptr);
  void Suspend();
  void Resume();
  bool IsRunning() const { return !pauseRequested_.load(std::memory_order_acquire); }
  bool IsParked() const;
  // True when the calling thread may use the port and buffers now.
  bool PortIsMine() const;
  // User-interface thread: lets time pass while still serving the worker's synchronous calls
  // (the grace time given to a running transaction before a pause).
  void WaitServicing(std::chrono::milliseconds duration);

  // Worker thread: runs `step` on the user-interface thread and waits until it has returned.
  // Called from any other thread (or with no poster installed) it runs `step` directly.
  void Synchronize(const std::function<void()>& step);
  // User-interface thread: the poster, and the thread it serves.
  void SetUiPoster(UiPoster poster);
  // User-interface thread: runs the pending synchronous call, if any. An exception thrown by
  // the step is handed back to the worker, which rethrows it from Synchronize().
  void ServiceSyncCalls();
  // User-interface thread: where a gone device is reported (once per connection).
  void SetGonePoster(GonePoster poster);

  // Passes completed by the worker loop (for tests and benchmarks).
  uint64_t Passes() const { return passes_.load(std::memory_order_relaxed); }

 private:
  struct Slot {
    std::atomic<int32_t>* flag = nullptr;
    std::function<void()> run;
    std::function<void()> onException;
  };

  void WorkerMain();
  void RunSlot(Slot& slot);
  // After every read and write: a gone device pauses the worker and is reported once.
  void NoteGone();
  bool ParkIfRequested();  // false when the thread must end
  void SleepPollInterval();
  bool OnWorkerThread() const { return std::this_thread::get_id() == workerId_; }
  // A synchronous call waits for the user-interface thread (mutex_ held).
  bool CallWaiting() const { return pendingCall_ != nullptr && !callRunning_ && !callDone_; }

  SerialPort port_;
  std::atomic<int> pollInterval_{50};
  LinkError lastError_ = LinkError::None;
  size_t lastCount_ = 0;
  size_t requestLength_ = 0;

  std::array<Slot, kRequestSlotCount> slots_;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<bool> pauseRequested_{true};
  bool parked_ = false;
  bool quit_ = false;
  UiPoster poster_;
  GonePoster gonePoster_;
  std::atomic<uint64_t> connection_{0};
  uint64_t goneReported_ = 0;  // the connection whose loss was reported last (mutex_)
  const std::function<void()>* pendingCall_ = nullptr;
  std::exception_ptr callException_;  // thrown by the step of the pending call
  bool callRunning_ = false;
  bool callDone_ = false;
  std::atomic<uint64_t> passes_{0};

  std::thread::id workerId_;
  std::thread thread_;  // last: starts after every other member is ready
};

}  // namespace nx480
