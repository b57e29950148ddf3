// TModbus: the relay link as the windows and the transactions use it - the worker thread
// (worker.h) and the RTU master on the serial line (rtu_master.h) in one object, so that a
// transaction builds and checks its frames and hands its results to the user-interface thread
// through the one reference it is given. It adds what needs both: opening and closing the port
// around a parked worker, the relay session, the requests bound with their recovery, the trace
// hook. Who may touch what, and when: THREADING.md beside this file.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "frame_trace.h"
#include "relay_session.h"
#include "request.h"
#include "rtu_master.h"
#include "serial_line.h"
#include "worker.h"

namespace nx480 {

class TModbus : public Worker, public RtuMaster {
 public:
  // The worker thread exists and is parked; the line is closed. Without a line of its own the
  // platform's serial port is used.
  explicit TModbus(std::unique_ptr<SerialLine> line = nullptr);
  // Pauses the worker (serving a synchronous call it may be waiting in), then ends and joins it,
  // and closes the line.
  ~TModbus();

  // ---- Port (user-interface thread) ----
  // Pauses the worker, opens and configures the port. Returns false if the device cannot be
  // opened (LastOpenError() says why), and without touching the port when the worker cannot be
  // parked (called from inside a synchronous step).
  bool OpenPort(const std::string& portName, const LineSettings& settings, int pollInterval);
  // Closes the port if open (a transaction waiting on it ends at once), then pauses the worker.
  bool ClosePort();

  // Worker: a pause or a close asks the running transaction to end at its next step (the long
  // ones - the history walk, the firmware upload - look at it between their exchanges).
  bool StopRequested() const { return !IsRunning() || !PortIsOpen(); }

  // Any thread: from now on no change that has not begun to go out is sent on this link
  // (nx480ctl's first Ctrl-C, SIGTERM or SIGHUP); a change on its way runs to its end, and
  // requests that change nothing are served as before.
  void HoldChanges() { changesHeld_.store(true, std::memory_order_release); }
  // The transaction that owns the port, right after a change's journal step and before the
  // change's first byte: true when the change must stay unsent - the port closed, a pause asked
  // for (the window closed or disconnected; on the worker only, as the line's waits see it), or
  // HoldChanges. Such a change ends as not sent: CommunicationError with LinkError::Stopped.
  bool ChangeStopped() const {
    return !PortIsOpen() || (OnWorkerThread() && !IsRunning()) ||
           changesHeld_.load(std::memory_order_acquire);
  }

  // ---- The relay session, as the transactions see it ----
  // User-interface thread, while the worker is parked or waits in a synchronous call.
  bool SetSession(const RelaySession& session);
  // Worker thread (or the owner of the port).
  const RelaySession& Session() const { return session_; }

  // ---- Requests ----
  // Binds a window's declared request to its slot; only while the worker is parked (false
  // otherwise). A transaction that throws is followed by its failure report, then a drain.
  bool Bind(const RequestDecl& decl);

  // Every frame sent, received or drained (frame_trace.h). Parks the worker while it is set.
  void SetTraceHook(FrameTraceHook hook);

 private:
  RelaySession session_;
  std::atomic<bool> changesHeld_{false};
};

}  // namespace nx480
