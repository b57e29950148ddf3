// TModbus: the relay link as the windows and the transactions use it - the worker thread
// (worker.h) and the RTU master on the serial line (rtu_master.h) in one object, so that a
// transaction builds and checks its frames and hands its results to the user-interface thread
// through the one reference it is given. It adds what needs both: opening and closing the port
// around a parked worker, the relay session, the requests bound with their recovery, the trace
// hook. Who may touch what, and when: THREADING.md beside this file.
#pragma once

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
};

}  // namespace nx480
