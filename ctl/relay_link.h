// The relay as nx480ctl reaches it: the one worker (TModbus), the connection search of the main
// window, and the requests of the command's window objects, served by the worker exactly as it
// serves the windows'.
//
// Threads: the main thread searches while the worker is parked (as the main window does), then
// binds the command's requests, resumes the worker, posts a request and waits until the worker
// has cleared it. No poster of synchronous calls is installed, so TModbus::Synchronize runs a
// transaction's window steps on the worker itself; the main thread looks at what they left only
// after the worker has cleared the request (its release, the main thread's acquire), and at
// counters and flags that are atomics. The main thread takes Ctrl-C, SIGTERM and SIGHUP while it
// waits (interrupt.h). The first one is passed to the command, which stops its transaction the
// way the windows stop theirs (the upload's abort flag, the history request cleared), holds back
// every change whose first byte has not gone out yet (TModbus::HoldChanges: a change whose
// journal step is under way ends as not sent), and no request is posted after it. A second one
// pauses the worker at once, as a disconnect does.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "exit_code.h"
#include "modbus.h"
#include "outcome.h"
#include "relay_session.h"
#include "request.h"

namespace nx480::ctl {

class RelayLink {
 public:
  // The worker is made (parked), on the demo relay's line with --demo. The frame log hook is
  // installed; --trace switches it on. Declare the command's window objects before the RelayLink:
  // the worker holds their requests until the RelayLink's destructor has parked it.
  explicit RelayLink(const Invocation& invocation);
  // Pauses the worker and closes the port.
  ~RelayLink();
  RelayLink(const RelayLink&) = delete;
  RelayLink& operator=(const RelayLink&) = delete;

  // Searches the ports as the main window does (NX480_PORTS, else the devices present), or
  // tries only --port, or with --demo the demo relay inside the program (sim/demo_relay.h). Ok with
  // the port open and the session taken, or NoRelay after a message. Ctrl-C (SIGTERM, SIGHUP) ends
  // the search before the next port and is looked at once more after it: Interrupted, and nothing
  // but the search's identifications was sent.
  Exit Connect();
  const RelaySession& Session() const { return session_; }
  TModbus& Link() { return link_; }

  // Binds the requests (the worker is parked) and resumes the worker.
  void Start(const std::vector<RequestDecl>& requests);

  // Before every request: false, after a message, once Ctrl-C (SIGTERM, SIGHUP) has come; the
  // command then posts nothing more and ends with Interrupted.
  bool MaySend();
  // Posts a request with `post` unless MaySend() says no (Interrupted), then Await()s it.
  Exit Serve(Request& request, const std::function<void()>& post,
             const std::function<void()>& onInterrupt = {});

  // Waits, without busy waiting, until the worker has served `request` (posted by the caller).
  // `onInterrupt` runs once when Ctrl-C (SIGTERM, SIGHUP) has come, before or meanwhile: the
  // command's clean stop. A second one pauses the worker at once - every wait of the transaction
  // ends, an upload still hands its Cancel to the port - and gives Interrupted. Communication
  // when the worker stopped without serving it (the device is gone): the request is then
  // dropped and a message given. Ok once it was served.
  Exit Await(Request& request, const std::function<void()>& onInterrupt = {});
  // The same for a transaction that reports its own end (`busy` false once it has returned):
  // for a request that Ctrl-C clears before the worker is done with it.
  Exit AwaitWhile(const std::function<bool()>& busy, const std::function<void()>& onInterrupt,
                  const std::function<void()>& drop);

  // After a change's request was served: a change the first Ctrl-C (SIGTERM, SIGHUP) held back
  // after its journal step (kChangeHeldBack: its entry says not sent) gives "interrupted before
  // `what` went out ..." and Interrupted; held back otherwise (the device gone), a communication
  // error. Nothing for any other outcome.
  std::optional<Exit> HeldBack(Outcome outcome, const std::string& what);
  // A change that went out before the interrupt was seen ran to its end: that is said, and the
  // command reports what came of it as without the interrupt.
  void SayIfInterruptedLate(const std::string& what);

  // Lets `duration` pass on the main thread, ended early by Ctrl-C (SIGTERM, SIGHUP). True when
  // none has come, now or before.
  bool Pause(std::chrono::milliseconds duration);

 private:
  Invocation invocation_;
  TModbus link_;
  RelaySession session_;
};

// The exit code of a transaction that reported `outcome`: a write read back with other values,
// and a failure that an exception reply ended, are Refused.
Exit ResultOf(Outcome outcome);

}  // namespace nx480::ctl
