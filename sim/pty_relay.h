// The simulated relay on a Linux pseudo-terminal. The master side carries the
// relay's end of the line; the slave side (SlavePath(), optionally reachable
// through a symlink) is what the service tool opens as its serial port.
//
// The relay keeps its own descriptor of the slave open for its whole life,
// in raw mode without echo, so the tool may open and close the port as often
// as it likes without the master seeing a hang-up and without replies being
// echoed back as requests.
//
// A service thread reads requests, frames them, lets the model answer and
// sends replies, paced at a chosen baud rate if wanted. All public methods
// are thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "relay_counters.h"
#include "relay_model.h"
#include "rtu_framer.h"

namespace nx480::sim {

struct PtyOptions {
  // Replies go out at the wire time of this baud rate (10 bits per byte);
  // 0 sends them at once.
  unsigned baud = 0;
  // Time between the end of a request and the first reply byte.
  std::chrono::microseconds answer_delay{500};
  // Silence that ends a frame of unknown length or drops a torn one.
  std::chrono::milliseconds frame_gap{20};
  // If not empty: a symlink to the slave device, made by Start() (an existing
  // symlink there is replaced) and removed by Stop().
  std::string link_path;
  // Called on the service thread, without locks held, for every chunk read
  // (incoming = true; before any reply to it goes out) and every reply once it
  // was sent (incoming = false).
  std::function<void(bool incoming, std::span<const std::uint8_t> bytes)> trace;
};

class PtyRelay {
 public:
  explicit PtyRelay(RelayConfig config = {}, PtyOptions options = {});
  ~PtyRelay();  // stops
  PtyRelay(const PtyRelay&) = delete;
  PtyRelay& operator=(const PtyRelay&) = delete;

  // Creates the pty (and the symlink) and starts the service thread. Throws
  // std::system_error on failure, std::logic_error when already running.
  // After Stop() it may be started again, on a new pty.
  void Start();
  // Stops and joins the service thread, closes the pty, removes the symlink.
  // Replies not yet sent are discarded. Does nothing when not running.
  void Stop();
  bool Running() const;

  // The slave device, e.g. "/dev/pts/5"; empty before Start().
  std::string SlavePath() const;

  // Runs `fn(model)` under the relay's lock and returns its result. Do not
  // call other PtyRelay methods from inside `fn`. Hooks installed on the
  // model run on the service thread under the same lock.
  template <typename Fn>
  auto WithModel(Fn&& fn) -> std::invoke_result_t<Fn, RelayModel&> {
    std::lock_guard lock(mutex_);
    return std::forward<Fn>(fn)(model_);
  }

  void AddFault(const FaultRule& rule);
  void ClearFaults();
  // Returns false when the address is not defined in that table.
  bool SetRegister(Table table, std::uint16_t address, std::uint16_t value);
  std::optional<std::uint16_t> GetRegister(Table table, std::uint16_t address) const;

  RelayCounters Counters() const;
  // Waits until `done(counters)` holds or `timeout` passes; returns the last
  // verdict. Counters change after every request handled and reply sent.
  bool WaitFor(const std::function<bool(const RelayCounters&)>& done,
               std::chrono::milliseconds timeout) const;
  // Waits until every byte written to the slave has been read and handled and every reply
  // has gone out, or `timeout` passes; returns the last verdict. A test that changes the
  // relay between two programs calls it first, so that a request the first program left
  // behind is not answered under the second one's conditions.
  bool WaitDrained(std::chrono::milliseconds timeout) const;

 private:
  using Clock = std::chrono::steady_clock;

  struct Outgoing {
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
    Clock::time_point start;
    bool babble = false;  // random bytes after a reply, not a reply of its own
  };

  void Run();
  void Receive(Clock::time_point now, std::vector<std::uint8_t>& traced);
  void Schedule(const std::vector<RtuFramer::Frame>& frames, Clock::time_point now);
  void ScheduleBabble(std::chrono::milliseconds length);
  void Transmit(Clock::time_point now, std::vector<std::vector<std::uint8_t>>& traced);
  std::optional<Clock::time_point> NextDeadline() const;
  Clock::time_point ByteDue(const Outgoing& out, std::size_t index) const;
  void CloseAll();

  const PtyOptions options_;
  const Clock::duration byte_time_;

  // Guards the model, counters and the path; the thread state below is only
  // touched by the service thread while it runs.
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  // Mutable: looking at registers from outside first brings the model's time-driven state
  // (clock, events) up to date.
  mutable RelayModel model_;
  RelayCounters counters_;
  std::string slave_path_;

  std::mutex life_mutex_;  // serialises Start() and Stop()
  std::thread thread_;
  std::atomic<bool> running_{false};
  int master_fd_ = -1;
  int slave_fd_ = -1;
  int wake_fd_ = -1;
  bool link_made_ = false;

  RtuFramer framer_;
  std::deque<Outgoing> tx_;
  Clock::time_point line_free_{};
  std::minstd_rand babble_random_{480};
};

}  // namespace nx480::sim
