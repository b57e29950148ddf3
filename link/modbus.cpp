#include "modbus.h"

#include <utility>

#include "serial_port.h"

namespace nx480 {

using namespace std::chrono_literals;

TModbus::TModbus(std::unique_ptr<SerialLine> line)
    : Worker([this] { WakeLine(); }, [this] { return Now(); }),
      RtuMaster(line ? std::move(line) : std::make_unique<SerialPort>(), *this) {}

TModbus::~TModbus() {
  // The worker ends first: a transaction still running uses the line, the buffers and the
  // session.
  Shutdown();
  CloseLine();
}

bool TModbus::OpenPort(const std::string& portName, const LineSettings& settings,
                       int pollInterval) {
  if (!Suspend()) return false;  // the worker may be using the port
  SetPollInterval(pollInterval);
  return OpenLine(portName, settings);
}

bool TModbus::ClosePort() {
  // Close first, pause afterwards: a transaction still running fails on the closed port and the
  // worker then stops at the head of its next pass.
  CloseLine();
  (void)Suspend();
  IdleLine(10ms);
  return true;
}

bool TModbus::SetSession(const RelaySession& session) {
  // A worker that was asked to pause but has not parked yet is waited for.
  if (!PortIsMine() && (IsRunning() || !Suspend())) return false;
  session_ = session;
  return true;
}

bool TModbus::Bind(const RequestDecl& decl) {
  std::function<void()> run;
  if (decl.transaction) run = [this, transaction = decl.transaction] { transaction(*this); };
  return BindSlot(decl.slot, decl.request, std::move(run), [this, onException = decl.onException] {
    try {
      if (onException) onException(*this);
    } catch (...) {
    }
    DrainInput();
  });
}

void TModbus::SetTraceHook(FrameTraceHook hook) {
  const bool wasRunning = IsRunning();
  if (!Suspend()) return;
  SetTrace(std::move(hook));
  if (wasRunning) Resume();
}

}  // namespace nx480
