#include "relay_link.h"

#include <QLoggingCategory>
#include <filesystem>

#include "connection.h"
#include "frame_log.h"
#include "interrupt.h"
#include "output.h"
#include "port_list.h"
#include "relay_search.h"
#include "text_codec.h"

namespace nx480::ctl {

namespace {

using namespace std::chrono_literals;

// How often the main thread looks at a request it waits for (and for Ctrl-C).
constexpr auto kAwaitStep = 5ms;

// Why a port was passed over, in the words of the main window's message.
std::string FailureText(const PortFailureGroup& group) {
  switch (group.failure) {
    case PortFailure::NoAnswer:
      return "no NX480 answered";
    case PortFailure::OtherDevice:
      return "another device answered (\"" + Cp1250ToUtf8(group.identText) + "\")";
    case PortFailure::NotFound:
      return "no such device";
    case PortFailure::AccessDenied:
      return "permission denied";
    case PortFailure::Busy:
      return "held by another program";
    case PortFailure::NotAPort:
      return "not a serial device";
    case PortFailure::OpenFailed:
      break;
  }
  return "it cannot be opened";
}

// "/dev/ttyUSB0: no such device; /dev/ttyS0, /dev/ttyS1: no NX480 answered": each reason once,
// whether the ports came from --port, NX480_PORTS or the devices present.
std::string TriedText(const std::vector<PortTried>& tried) {
  std::string text;
  for (const PortFailureGroup& group : GroupedByFailure(tried)) {
    std::string ports;
    for (const std::string& port : group.ports)
      ports += (ports.empty() ? "" : ", ") + PortLabel(port);
    text += (text.empty() ? "" : "; ") + ports + ": " + FailureText(group);
  }
  return text;
}

// The window's hints on ports that could not be opened, in a script's words.
std::string ProblemHints(const SearchProblems& problems) {
  std::string text;
  if (!problems.busyPort.empty())
    text += "\n  " + PortLabel(problems.busyPort) +
            " is held by another program; end it and try again.";
  if (!problems.deniedPort.empty()) {
    if (problems.deniedGroup == "root") {
      const std::string device = std::filesystem::path(problems.deniedPort).filename().string();
      text += "\n  " + problems.deniedPort +
              " is open to root only. A udev rule gives it to the group dialout, e.g. "
              "/etc/udev/rules.d/50-nx480.rules with the line\n  KERNEL==\"" +
              device +
              "\", GROUP=\"dialout\", MODE=\"0660\"\n  and then: sudo adduser $USER dialout "
              "(log in again).";
    } else if (!problems.deniedGroup.empty()) {
      text += "\n  " + problems.deniedPort + ": permission denied; the user must be in the group " +
              problems.deniedGroup + " (sudo adduser $USER " + problems.deniedGroup +
              ", then log in again).";
    } else {
      text += "\n  " + problems.deniedPort + ": permission denied.";
    }
  }
  return text;
}

}  // namespace

Exit ResultOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::Ok:
      return Exit::Ok;
    case Outcome::Refused:
    case Outcome::Differs:  // acknowledged, but the relay holds other values
      return Exit::Refused;
    case Outcome::Unknown:  // sent, its answer cut off: no success to report
    case Outcome::CommunicationError:
      break;
  }
  return outcome.error == LinkError::Exception ? Exit::Refused : Exit::Communication;
}

RelayLink::RelayLink(const Invocation& invocation) : invocation_(invocation) {
  // The windows' frame log: the same hook and formatter, switched on here by --trace (or by
  // QT_LOGGING_RULES, as for nx480-pc).
  if (invocation_.trace) QLoggingCategory::setFilterRules("nx480.link.frames.debug=true");
  link_.SetTraceHook(FrameLogHook());
}

RelayLink::~RelayLink() {
  (void)link_.Suspend();
  link_.ClosePort();
}

Exit RelayLink::Connect() {
  const std::vector<std::string> ports =
      invocation_.port.empty() ? ListSerialPorts()
                               : std::vector<std::string>{UserPortName(invocation_.port)};
  const SearchResult result =
      SearchRelay(link_, ports, RelayLine(), kPollInterval, [] { return Interrupted(); });
  if (Interrupted()) {
    Say("interrupted during the search; nothing was sent to a relay");
    return Exit::Interrupted;
  }
  if (!result.found) {
    if (result.tried.empty()) {
      Say("no relay: no serial port found (set NX480_PORTS or use --port DEVICE)");
    } else {
      Say("no relay: " + TriedText(result.tried) + ProblemHints(result.problems));
    }
    return Exit::NoRelay;
  }
  session_ = result.session;
  session_.serviceMode = invocation_.service;
  session_.connected = true;
  link_.SetSession(session_);
  return Exit::Ok;
}

void RelayLink::Start(const std::vector<RequestDecl>& requests) {
  for (const RequestDecl& decl : requests) link_.Bind(decl);
  link_.Resume();
}

bool RelayLink::MaySend() {
  if (!Interrupted()) return true;
  Say("interrupted; nothing more is sent to the relay");
  return false;
}

Exit RelayLink::Serve(Request& request, const std::function<void()>& post,
                      const std::function<void()>& onInterrupt) {
  if (!MaySend()) return Exit::Interrupted;
  post();
  return Await(request, onInterrupt);
}

Exit RelayLink::Await(Request& request, const std::function<void()>& onInterrupt) {
  return AwaitWhile([&request] { return request.Pending(); }, onInterrupt,
                    [&request] { request.Clear(); });
}

Exit RelayLink::AwaitWhile(const std::function<bool()>& busy,
                           const std::function<void()>& onInterrupt,
                           const std::function<void()>& drop) {
  bool told = false;
  int interrupts = Interrupts();
  while (busy()) {
    if (interrupts > 0 && !told) {
      told = true;
      link_.HoldChanges();
      if (onInterrupt) onInterrupt();
    }
    if (interrupts > 1) {
      // The second: the worker is paused as a disconnect pauses it. The transaction's waits end
      // at once and it returns (an upload after handing its Cancel to the port), and the worker
      // parks; what it left is ordered by the park.
      (void)link_.Suspend();
      if (busy()) drop();
      Say("interrupted again; stopped at once");
      return Exit::Interrupted;
    }
    // A gone device parks the worker: what is still pending is never served.
    if (link_.IsParked() && busy()) {
      drop();
      Say(link_.DeviceGone()
              ? "communication error: the device " + PortLabel(session_.port) + " is gone"
              : "communication error: the worker stopped");
      return Exit::Communication;
    }
    // Sleeps the whole step unless another signal comes: no busy waiting after the first.
    interrupts = WaitInterrupt(kAwaitStep);
  }
  return Exit::Ok;
}

std::optional<Exit> RelayLink::HeldBack(Outcome outcome, const std::string& what) {
  if (outcome.kind != OutcomeKind::CommunicationError || outcome.error != LinkError::Stopped)
    return std::nullopt;
  if (Interrupted()) {
    Say("interrupted before " + what + " went out; nothing was sent, the relay is unchanged");
    return Exit::Interrupted;
  }
  Say("communication error: stopped before " + what +
      " went out; nothing was sent, the relay is unchanged");
  return Exit::Communication;
}

void RelayLink::SayIfInterruptedLate(const std::string& what) {
  if (Interrupted()) Say("interrupted after " + what + " had gone out; it ran to its end");
}

bool RelayLink::Pause(std::chrono::milliseconds duration) {
  return !Interrupted() && WaitInterrupt(duration) == 0;
}

}  // namespace nx480::ctl
