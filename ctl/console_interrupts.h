// Windows' console control events as the signals nx480ctl takes on Linux (interrupt.h), kept
// without Windows so that Linux builds and tests them: what each event means, and the record the
// handler writes and the main thread waits on.
//
// Windows calls the handler on a thread of its own and ends the process as soon as the handler
// returns from a close, logoff or shutdown (and after about 5 s in any case). So for these the
// handler holds the process until the main thread says that the command has ended and the relay
// is in a known state (Ended()); a main thread still busy after `again` is interrupted once more,
// as a second Ctrl-C does (the worker paused at once, an upload's Cancel handed to the port), and
// the hold ends after `hold` whatever came.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace nx480::ctl {

// The signal an event stands for. Each ends a command the same way (Exit::Interrupted, 130).
enum class InterruptSignal { Interrupt, Hangup, Terminate };  // SIGINT, SIGHUP, SIGTERM

struct ConsoleEventMeaning {
  InterruptSignal signal;
  bool holdsProcess;  // Windows ends the process when the handler returns
};

// By the event's number as wincon.h gives it (CTRL_C_EVENT 0, CTRL_BREAK_EVENT 1,
// CTRL_CLOSE_EVENT 2, CTRL_LOGOFF_EVENT 5, CTRL_SHUTDOWN_EVENT 6); nullopt for any other, which
// the handler leaves to the next one.
std::optional<ConsoleEventMeaning> MeaningOfConsoleEvent(unsigned long event);

class ConsoleInterrupts {
 public:
  struct Limits {
    std::chrono::milliseconds again;  // a held event: counted once more after this
    std::chrono::milliseconds hold;   // and let go after this (Windows' limit is 5 s)
  };
  // Leaves a second for the process's own end after the hold.
  static constexpr Limits kWindowsLimits{std::chrono::milliseconds(2000),
                                         std::chrono::milliseconds(3500)};

  explicit ConsoleInterrupts(Limits limits = kWindowsLimits) : limits_(limits) {}

  // The handler's thread: records the event and wakes Wait(); for a close, logoff or shutdown
  // returns only once Ended() was called or the hold is over. False for an event that is none
  // of ours (nothing recorded).
  bool Take(unsigned long event);

  // The main thread: waits up to `timeout` for one more event; returns at once when one comes.
  // Returns how many have come so far.
  int Wait(std::chrono::milliseconds timeout);
  int Count();

  // The main thread, once the command has ended and its connection is closed.
  void Ended();

 private:
  const Limits limits_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
  bool ended_ = false;
};

}  // namespace nx480::ctl
