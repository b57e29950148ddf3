#include "interrupt.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace nx480::ctl {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> interrupts{0};

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

timespec Timespec(Clock::duration left) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

}  // namespace

void BlockInterrupts() {
  const sigset_t set = InterruptSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

int WaitInterrupt(std::chrono::milliseconds timeout) {
  const sigset_t set = InterruptSignals();
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const timespec wait = Timespec(std::max(deadline - Clock::now(), Clock::duration::zero()));
    if (sigtimedwait(&set, nullptr, &wait) > 0) return interrupts.fetch_add(1) + 1;
    // EINTR (another signal, e.g. a stop and continue) waits on for the time that is left;
    // EAGAIN: the time is up.
    if (errno != EINTR || Clock::now() >= deadline) return interrupts.load();
  }
}

int Interrupts() {
  // Every pending one is taken (a signal of each kind is pending at most once).
  const sigset_t set = InterruptSignals();
  const timespec none{0, 0};
  while (sigtimedwait(&set, nullptr, &none) > 0) interrupts.fetch_add(1);
  return interrupts.load();
}

void CommandEnded() {}

}  // namespace nx480::ctl
