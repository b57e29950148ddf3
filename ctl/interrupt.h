// Ctrl-C (SIGINT), SIGTERM and SIGHUP (a closed terminal, a dropped ssh session) as events the
// main thread waits for. All three are blocked in every thread - so no read or wait of the worker
// is ever cut short by a signal - and the main thread takes them with sigtimedwait while it waits
// for the worker. SIGPIPE is ignored: output to a reader that has gone fails as a write error and
// never ends the program in the middle of an upload.
//
// Windows (interrupt_win32.cpp): the console's control events stand for the signals - Ctrl-C and
// Ctrl-Break for SIGINT, the console closed for SIGHUP, a logoff or shutdown for SIGTERM
// (console_interrupts.h) - taken by a console control handler and, for a logoff or shutdown in a
// program with windows' libraries loaded, by a hidden window's WM_ENDSESSION. The handler only
// records the event and wakes the main thread's wait; for a close, logoff or shutdown it holds
// the process until CommandEnded(). A write to a reader that has gone fails as a write.
#pragma once

#include <chrono>

namespace nx480::ctl {

// Before any thread is made: blocks SIGINT, SIGTERM and SIGHUP (the threads made later inherit
// it) and ignores SIGPIPE. Windows: installs the handler (Ctrl-C taken even where the parent
// started the program with it ignored).
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

// Main thread, once the command has ended and its connection is closed (the relay in a known
// state): a console close, logoff or shutdown held meanwhile lets the process end (Windows).
// Nothing on Linux.
void CommandEnded();

}  // namespace nx480::ctl
