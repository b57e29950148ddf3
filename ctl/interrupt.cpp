#include "interrupt.h"

#include <signal.h>
#include <time.h>

#include <atomic>
#include <cerrno>

namespace nx480::ctl {

namespace {

std::atomic<bool> interrupted{false};

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void BlockInterrupts() {
  const sigset_t set = InterruptSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool WaitInterrupt(std::chrono::milliseconds timeout) {
  if (interrupted.load()) return true;
  const sigset_t set = InterruptSignals();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
  timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  // EINTR (another signal, e.g. a stop and continue) and EAGAIN (the time is up) alike mean
  // "none yet".
  if (sigtimedwait(&set, nullptr, &wait) > 0) interrupted.store(true);
  return interrupted.load();
}

bool Interrupted() {
  return WaitInterrupt(std::chrono::milliseconds(0));
}

}  // namespace nx480::ctl
