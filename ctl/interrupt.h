// Ctrl-C (SIGINT) and SIGTERM as events the main thread waits for. Both are blocked in every
// thread - so no read or wait of the worker is ever cut short by a signal - and the main thread
// takes them with sigtimedwait while it waits for the worker.
#pragma once

#include <chrono>

namespace nx480::ctl {

// Before any thread is made: blocks SIGINT and SIGTERM (the threads made later inherit it).
void BlockInterrupts();

// Waits up to `timeout` for SIGINT or SIGTERM. True once one has come, now or before.
bool WaitInterrupt(std::chrono::milliseconds timeout);

// True once SIGINT or SIGTERM has come (without waiting for one).
bool Interrupted();

}  // namespace nx480::ctl
