#include "console_interrupts.h"

namespace nx480::ctl {

std::optional<ConsoleEventMeaning> MeaningOfConsoleEvent(unsigned long event) {
  switch (event) {
    case 0:  // CTRL_C_EVENT
    case 1:  // CTRL_BREAK_EVENT
      return ConsoleEventMeaning{InterruptSignal::Interrupt, false};
    case 2:  // CTRL_CLOSE_EVENT: the console window closed, as a terminal closed
      return ConsoleEventMeaning{InterruptSignal::Hangup, true};
    case 5:  // CTRL_LOGOFF_EVENT
    case 6:  // CTRL_SHUTDOWN_EVENT
      return ConsoleEventMeaning{InterruptSignal::Terminate, true};
    default:
      return std::nullopt;
  }
}

bool ConsoleInterrupts::Take(unsigned long event) {
  const std::optional<ConsoleEventMeaning> meaning = MeaningOfConsoleEvent(event);
  if (!meaning) return false;
  std::unique_lock lock(mutex_);
  ++count_;
  changed_.notify_all();
  if (!meaning->holdsProcess) return true;
  const auto ended = [this] { return ended_; };
  if (changed_.wait_for(lock, limits_.again, ended)) return true;
  ++count_;
  changed_.notify_all();
  changed_.wait_for(lock, limits_.hold - limits_.again, ended);
  return true;
}

int ConsoleInterrupts::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const int before = count_;
  changed_.wait_for(lock, timeout, [&] { return count_ != before; });
  return count_;
}

int ConsoleInterrupts::Count() {
  const std::lock_guard lock(mutex_);
  return count_;
}

void ConsoleInterrupts::Ended() {
  const std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

}  // namespace nx480::ctl
