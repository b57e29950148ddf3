// Ctrl-C (SIGINT), SIGTERM and SIGHUP (a closed terminal, a dropped ssh session) as events the
// main thread waits for. All three are blocked in every thread - so no read or wait of the worker
// is ever cut short by a signal - and the main thread takes them with sigtimedwait while it waits
// for the worker. SIGPIPE is ignored: output to a reader that has gone fails as a write error and
// never ends the program in the middle of an upload.
#pragma once

#include <chrono>

namespace nx480::ctl {

// Before any thread is made: blocks SIGINT, SIGTERM and SIGHUP (the threads made later inherit
// it) and ignores SIGPIPE.
void BlockInterrupts();

// Main thread. Waits up to `timeout` for one more of SIGINT, SIGTERM and SIGHUP; returns at once
// when one comes, else when the time is up (whatever came before: no busy waiting once the
// first has come). Returns how many have come so far.
int WaitInterrupt(std::chrono::milliseconds timeout);

// Main thread. How many have come so far (without waiting for one).
int Interrupts();
inline bool Interrupted() {
  return Interrupts() > 0;
}

}  // namespace nx480::ctl
