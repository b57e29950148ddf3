// `nx480ctl clock [--set]` and `nx480ctl relay auto|on|off [--hold]`.
#include <cmath>
#include <cstdio>

#include "clock_transactions.h"
#include "commands.h"
#include "output.h"
#include "relay_link.h"
#include "relay_time.h"

namespace nx480::ctl {

namespace {

using namespace std::chrono_literals;

constexpr auto kRelayRepeat = 4000ms;  // the "Datum, čas" page's TimerRele

std::string TimeText(double value) {
  const CalendarTime t = SplitDateTime(value);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return text;
}

// The "Datum, čas" page as the clock transactions see it; its steps run on the worker.
class ClockPage : public ClockWindow {
 public:
  void ShowClock(double device, double pc) override {
    deviceTime = device;
    pcTime = pc;
  }
  void ShowResult(Outcome shown) override { outcome = shown; }
  double PcNow() const override { return LocalNow(); }

  double deviceTime = 0;
  double pcTime = 0;
  Outcome outcome = Outcome::CommunicationError;
  Exit result = Exit::Communication;
  Request request;
};

}  // namespace

Exit RunClock(const Invocation& invocation) {
  ClockPage page;
  RelayLink relay(invocation);
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  auto failed = [&page](TModbus&) { page.result = Exit::Communication; };
  relay.Start({{.slot = invocation.setClock ? kWriteClockRequest : kReadClockRequest,
                .request = &page.request,
                .transaction =
                    [&page, set = invocation.setClock](TModbus& link) {
                      if (set)
                        WriteClock(link, page);
                      else
                        ReadClock(link, page);
                      page.result = ResultOf(page.outcome);
                    },
                .onException = failed}});
  if (const Exit served = relay.Serve(page.request, [&page] { page.request.Post(); });
      served != Exit::Ok)
    return served;
  if (page.result != Exit::Ok) {
    Say(std::string(page.result == Exit::Refused ? "refused by the relay: "
                                                 : "communication error: ") +
        (invocation.setClock ? "setting the clock" : "reading the clock"));
    return page.result;
  }
  if (invocation.setClock) {
    Print("relay clock set to " + TimeText(page.deviceTime) + "\n");
    return Exit::Ok;
  }
  char difference[64];
  std::snprintf(difference, sizeof difference, "%+.2f s",
                (page.deviceTime - page.pcTime) * 86400.0);
  Print("relay: " + TimeText(page.deviceTime) + "\npc:    " + TimeText(page.pcTime) +
        "\nrelay - pc: " + difference + "\n");
  return Exit::Ok;
}

Exit RunRelay(const Invocation& invocation) {
  static const char* const kModes[] = {"", "auto", "on", "off"};
  Request request;
  Exit result = Exit::Communication;
  RelayLink relay(invocation);
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  if (!relay.Session().firmware.relayMode) {
    Say("refused: the relay mode needs firmware x." + std::to_string(kRelayModeFirmware) +
        " or later; this relay has " + std::to_string(relay.Session().firmware.minor));
    return Exit::Refused;
  }
  relay.Start({{.slot = kRelayCommand,
                .request = &request,
                .transaction =
                    [&](TModbus& link) {
                      // WriteRelay clears the flag it is given as soon as the command is
                      // sent; the slot's own flag is cleared by the worker only after the
                      // result below is stored, so the main thread reads it ordered.
                      Request command;
                      command.Set(request.Value());
                      // The window does not look at the answer (it sends a forced state again
                      // every 4 s); a script is told whether the relay acknowledged it.
                      result = ResultOf(WriteRelay(link, command));
                    },
                .onException = [&](TModbus&) { result = Exit::Communication; }}});
  do {
    if (const Exit served = relay.Serve(request, [&] { request.Set(invocation.relayMode); });
        served != Exit::Ok)
      return served;
    if (result != Exit::Ok) {
      Say(std::string(result == Exit::Refused ? "refused by the relay" : "communication error") +
          ": relay " + kModes[invocation.relayMode] + " was not acknowledged");
      return result;
    }
  } while (invocation.hold && relay.Pause(kRelayRepeat));
  if (invocation.hold) {
    // The hold ends on a signal: the output goes back to Auto, as when the settings window
    // disconnects, so that no forced state outlives the command. This one request is sent
    // after the interrupt on purpose; a second interrupt ends the program at once.
    result = Exit::Communication;
    request.Set(1);
    if (relay.Await(request) != Exit::Ok || result != Exit::Ok) {
      Say("communication error: relay auto was not acknowledged; the output may stay forced");
      return Exit::Communication;
    }
    Say("hold ended; relay mode sent: auto");
    return Exit::Ok;
  }
  Say(std::string("relay mode sent: ") + kModes[invocation.relayMode]);
  return Exit::Ok;
}

}  // namespace nx480::ctl
