// The simulated relay in memory, in virtual time: the relay's model (relay_model.h) behind a
// serial line of the tool's own interface (link/serial_line.h), so that the tool's transactions
// run against it without a pty, a second thread or the scheduler.
//
// The line's clock moves only when the line waits. A write hands its bytes to the wire at the
// clock's moment; they reach the relay one byte time apart (10 bits a byte at the baud rate),
// are framed there as on the pty, and the model's reply leaves after the answer delay and its
// own delay (the relay's work, a late-reply fault), one byte time apart again, followed by what
// a fault adds (noise in front, extra bytes, babble behind). A read takes those bytes at their
// moments and ends exactly by the line's time-out model: all it wants, the inter-byte gap after
// the last byte, the whole-read limit, or the frame whole by its own length. Sleep moves the
// clock on. The stop flag and Wake() work as on the port; Close() from another thread ends a
// waiting call. So a transaction's outcome follows from the relay, the faults and the time-out
// model alone, and the same test gives the same result however busy the machine is.
//
// With Pacing::kRealTime the same line keeps to the steady clock instead: its waits last as long
// as they say, and the relay answers at 115200 baud as a real one would (the built-in demo
// relay).
//
// This is the one part of the simulator that knows a header of the tool: the interface it
// implements. The relay's side (model, framer, faults) is the simulator's own, as on the pty.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "relay_counters.h"
#include "relay_live.h"
#include "relay_model.h"
#include "rtu_framer.h"
#include "serial_line.h"

namespace nx480::sim {

enum class Pacing {
  kVirtual,   // time passes only when the line waits, and at once
  kRealTime,  // the steady clock: waits last as long as they say
};

// The time that a virtual line and its relays share. Any thread may read it.
class VirtualClock {
 public:
  using Clock = std::chrono::steady_clock;

  explicit VirtualClock(Pacing pacing = Pacing::kVirtual);

  Pacing GetPacing() const { return pacing_; }
  Clock::time_point Now() const;
  // kVirtual: moves the clock on to `at` (never back). kRealTime: nothing; it moves by itself.
  void AdvanceTo(Clock::time_point at);

 private:
  const Pacing pacing_;
  const Clock::time_point start_;
  std::atomic<Clock::rep> elapsed_{0};
};

struct VirtualOptions {
  // Both directions are paced at this baud rate (10 bits a byte); 0: every byte at once.
  unsigned baud = 115200;
  // Between the last byte of a request and the first of its reply.
  std::chrono::microseconds answer_delay{500};
  // Silence that ends a request of unknown length or drops a torn one.
  std::chrono::milliseconds frame_gap{20};
  // Every request frame the model takes (incoming) and every reply put on the line, with its
  // virtual moment. Called with the relay's lock held: it must not call the relay.
  std::function<void(bool incoming, std::span<const std::uint8_t> bytes,
                     std::chrono::steady_clock::time_point at)>
      trace;
};

class VirtualRelay {
 public:
  using Clock = std::chrono::steady_clock;
  struct Arrival {
    Clock::time_point at;
    std::uint8_t byte;
  };

  VirtualRelay(std::shared_ptr<VirtualClock> clock, RelayConfig config = {},
               VirtualOptions options = {});
  VirtualRelay(const VirtualRelay&) = delete;
  VirtualRelay& operator=(const VirtualRelay&) = delete;

  // As PtyRelay's: `fn(model)` under the relay's lock, with the relay brought up to the clock's
  // moment first. Do not call the relay from inside `fn`.
  template <typename Fn>
  auto WithModel(Fn&& fn) -> std::invoke_result_t<Fn, RelayModel&> {
    std::lock_guard lock(mutex_);
    CatchUp(clock_->Now());
    return std::forward<Fn>(fn)(model_);
  }
  void AddFault(const FaultRule& rule);
  void ClearFaults();
  bool SetRegister(Table table, std::uint16_t address, std::uint16_t value);
  std::optional<std::uint16_t> GetRegister(Table table, std::uint16_t address) const;
  RelayCounters Counters() const;

  // The device is gone from `at` on, as an unplugged adapter: a line finds it so on its first
  // read or write at or after that moment, and it stays gone.
  void Unplug(Clock::time_point at);
  void Unplug() { Unplug(clock_->Now()); }

  // Bytes of the relay's own, not a reply: they leave at `start`, one byte time apart, behind
  // whatever is on its way to the line (a test's noise at a chosen moment).
  void Emit(std::span<const std::uint8_t> bytes, Clock::time_point start);

  VirtualClock& Time() const { return *clock_; }
  const std::shared_ptr<VirtualClock>& SharedClock() const { return clock_; }

  // ---- The line's side (VirtualLine) ----
  // One line at a time: false when another holds the relay.
  bool Attach();
  void Detach();
  // Bytes the line wrote at `now`: they reach the relay one byte time apart, behind those still
  // on their way.
  void Send(std::span<const std::uint8_t> bytes, Clock::time_point now);
  // The first byte for the line that has arrived by `limit` (the relay's side run up to it
  // first), left in place; Pop() takes it.
  std::optional<Arrival> Peek(Clock::time_point limit);
  void Pop();
  // What has arrived by `now` is discarded: the port was opened, its input emptied.
  void Flush(Clock::time_point now);
  std::optional<Clock::time_point> GoneAt() const;

 private:
  // With mutex_ held: the relay's side (bytes reaching the framer, the framer's gap, replies
  // scheduled) up to `until`; with `stopAtReply`, no further than a byte for the line that is
  // due before the relay's next step.
  void Run(Clock::time_point until, bool stopAtReply);
  void CatchUp(Clock::time_point now) const;
  void Schedule(const std::vector<RtuFramer::Frame>& frames, Clock::time_point now);
  void ScheduleBabble(std::chrono::milliseconds length);
  void Put(Clock::time_point start, std::span<const std::uint8_t> bytes);

  const std::shared_ptr<VirtualClock> clock_;
  const VirtualOptions options_;
  const Clock::duration byte_time_;

  mutable std::mutex mutex_;
  // Looking from outside (const too) first brings the relay's side up to the clock.
  RelayModel model_;
  RtuFramer framer_;
  std::deque<Arrival> to_relay_;  // written by the line, on their way
  std::deque<Arrival> to_line_;   // replies (and what faults add), on their way
  RelayCounters counters_;
  std::minstd_rand babble_random_{480};
  Clock::time_point relay_free_{};  // the line towards the relay is busy until then
  Clock::time_point line_free_{};   // the line towards the tool is busy until then
  std::optional<Clock::time_point> gone_at_;
  bool attached_ = false;
};

// Live values (relay_live.h) for a virtual relay, started at its clock's moment; without
// `config`, made for the relay's configuration.
std::shared_ptr<LiveValues> AttachLiveValues(VirtualRelay& relay,
                                             std::optional<LiveConfig> config = std::nullopt);

// The virtual ports a line can open: relays by name, all on one clock.
class VirtualPorts {
 public:
  explicit VirtualPorts(Pacing pacing = Pacing::kVirtual);

  const std::shared_ptr<VirtualClock>& Clock() const { return clock_; }
  // A new relay under `name` (one there before is replaced; a line that has it open keeps it).
  std::shared_ptr<VirtualRelay> Add(const std::string& name, RelayConfig config = {},
                                    VirtualOptions options = {});
  void Remove(const std::string& name);
  std::shared_ptr<VirtualRelay> Find(const std::string& name) const;

 private:
  std::shared_ptr<VirtualClock> clock_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<VirtualRelay>> relays_;
};

// The tool's serial line onto a virtual port (see the top of this file).
class VirtualLine final : public SerialLine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit VirtualLine(std::shared_ptr<VirtualPorts> ports);
  ~VirtualLine() override;
  VirtualLine(const VirtualLine&) = delete;
  VirtualLine& operator=(const VirtualLine&) = delete;

  // Opens the relay of that name (NotFound: no such port; Busy: another line holds it). The
  // line's settings other than the time-outs are taken as the relay's own, as on the pty.
  bool Open(const std::string& path, const LineSettings& settings) override;
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
  Clock::time_point Now() const override { return clock_->Now(); }
  void Idle(std::chrono::microseconds duration) override;
  bool DeviceGone() const override { return gone_.load(std::memory_order_acquire); }

  // Runs `action` on the thread that waits on the line when the line's clock reaches `at`
  // (inside a Read or Sleep, before the wait goes on; a moment already passed: at the next
  // wait): a disconnect, a pause or an unplug at a chosen moment of a transaction. The action
  // may close the line or set the stop flag; the wait then ends as it would on the port.
  void At(Clock::time_point at, std::function<void()> action);
  // Forgets the actions not yet run.
  void CancelActions();

 private:
  // The stop flag is set, or the line was closed.
  bool Stopped(const StopFlag* stop) const;
  // Moves the clock on to `at` (kRealTime: waits for it); false when cut short.
  bool WaitUntil(Clock::time_point at, const StopFlag* stop);
  // The first action's moment, if any.
  std::optional<Clock::time_point> NextAction() const;
  // Runs the actions due by now.
  void RunActions();
  void CloseLocked();

  const std::shared_ptr<VirtualPorts> ports_;
  const std::shared_ptr<VirtualClock> clock_;
  // Held by Read, Write, Sleep, Open and Close. Recursive: an action run inside a wait may
  // close the line.
  std::recursive_mutex ioMutex_;
  std::shared_ptr<VirtualRelay> relay_;
  std::atomic<bool> open_{false};
  std::atomic<bool> gone_{false};
  PortTimeouts timeouts_;
  OpenError lastError_ = OpenError::None;
  int lastErrno_ = 0;

  // Real-time waits, and Wake().
  std::mutex waitMutex_;
  std::condition_variable woken_;
  uint64_t wakes_ = 0;  // waitMutex_

  mutable std::mutex actionsMutex_;
  std::multimap<Clock::time_point, std::function<void()>> actions_;
};

}  // namespace nx480::sim
