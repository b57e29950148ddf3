// `nx480ctl clock [--set]` and `nx480ctl relay auto|on|off [--hold]`.
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "clock_transactions.h"
#include "command_table.h"
#include "commands.h"
#include "journal_changes.h"
#include "journal_entry.h"
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

// A change's entry for the relay of `session`, with its detail lines.
JournalEntry EntryOf(const RelaySession& session, ChangeKind kind, JournalText description,
                     std::vector<JournalText> details) {
  JournalEntry entry = NewJournalEntry(session, kind, std::move(description));
  entry.details = std::move(details);
  return entry;
}

// The "Datum, čas" page as the clock transactions see it; its steps run on the worker.
class ClockPage : public ClockWindow {
 public:
  explicit ClockPage(const RelaySession& session) : session_(session) {}
  void ShowClock(double device, double pc) override {
    deviceTime = device;
    pcTime = pc;
  }
  void ShowResult(Outcome shown) override { outcome = shown; }
  double PcNow() const override { return LocalNow(); }
  // The setting's journal entry, as the window keeps it; without it nothing is sent (no
  // question).
  bool JournalBefore(double relay, double pc) override {
    return journal.Open(EntryOf(session_, ChangeKind::Clock,
                                Keyed("clock-ctl", {"nx480ctl clock --set"}),
                                ClockDetails(relay, pc)));
  }
  void JournalAfter(Outcome shown, std::optional<double> remainingSeconds) override {
    std::vector<JournalText> details;
    if (shown == Outcome::Ok) details.push_back(RemainingOffsetDetail(remainingSeconds));
    journal.Close(shown, std::move(details));
  }

  double deviceTime = 0;
  double pcTime = 0;
  Outcome outcome = Outcome::CommunicationError;
  Exit result = Exit::Communication;
  Request request;
  JournalEntryKeeper journal;

 private:
  const RelaySession& session_;
};

// The relay mode's journal entries, one for each command sent, not for its repeats: written in
// the transaction's synchronous steps (on the worker). A forced state is sent only once its
// entry is kept; "Auto" never waits for the journal, its entry follows the send.
struct RelayEntries {
  RelayEntries(const RelaySession& session, std::string command)
      : session_(session), by(std::move(command)) {}

  // Before `mode` goes out: false when it owes an entry that cannot be kept, or when a stop came
  // while the entry was written (Ctrl-C: TModbus::ChangeStopped): that entry is closed as not
  // sent and `heldBack` set.
  bool Before(TModbus& link, int32_t mode) {
    if (due != mode || mode == 1) return true;
    bool kept = false;
    link.Synchronize([&] { kept = Open(mode); });
    if (!kept || !link.ChangeStopped()) return kept;
    due = 0;
    heldBack = true;
    link.Synchronize([&] { journal.Close(kChangeHeldBack); });
    return false;
  }
  // After it went out: the entry closed with how that send ended.
  void After(TModbus& link, int32_t mode, Outcome sent) {
    if (due != mode) return;
    due = 0;
    link.Synchronize([&] {
      if (mode == 1 && !Open(mode)) return;
      journal.Close(sent, {FirstSendDetail(sent)});
    });
  }

  JournalEntryKeeper journal;
  // The mode whose entry the next send owes (0: none, a repeat): set by the main thread before
  // it posts, read by the worker while the request is set.
  int32_t due = 0;
  bool heldBack = false;  // the forced state was held back after its entry (read as `due`)

 private:
  bool Open(int32_t mode) {
    return journal.Open(EntryOf(session_, ChangeKind::RelayMode,
                                Keyed("relay-ctl", {std::string(RelayModeWord(mode)), by}),
                                {RelayModeDetail(mode)}));
  }
  const RelaySession& session_;
  std::string by;  // the command line, for the description
};

// Says why the journal held a change back: nothing was sent.
Exit RefusedWithoutJournal(const JournalEntryKeeper& journal, const std::string& what) {
  Say("bad file: journal: " + journal.openError + "; " + what +
      " (its journal entry must be kept first)");
  return Exit::BadFile;
}

void SayIfUnclosed(const JournalEntryKeeper& journal) {
  if (!journal.closeError.empty())
    Say("bad file: journal: " + journal.closeError + " (the entry stays pending)");
}

}  // namespace

Exit RunClock(const Invocation& invocation) {
  RelayLink relay(invocation);
  ClockPage page(relay.Session());
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
  const Exit served = relay.Serve(page.request, [&page] { page.request.Post(); });
  if (!page.journal.openError.empty()) return RefusedWithoutJournal(page.journal, "clock not set");
  SayIfUnclosed(page.journal);
  if (served != Exit::Ok) return served;
  if (invocation.setClock) {
    if (const std::optional<Exit> held = relay.HeldBack(page.outcome, "the time")) return *held;
    relay.SayIfInterruptedLate("the time");
  }
  if (page.result != Exit::Ok) {
    Say(std::string(page.result == Exit::Refused ? "refused by the relay: "
                                                 : "communication error: ") +
        (!invocation.setClock               ? "reading the clock"
         : page.outcome == Outcome::Unknown ? "setting the clock, no valid acknowledgement "
                                              "(the relay may have taken it)"
                                            : "setting the clock; nothing was sent"));
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
  RelayEntries entries(relay.Session(), std::string("nx480ctl relay ") +
                                            kModes[invocation.relayMode] +
                                            (invocation.hold ? " --hold" : ""));
  JournalEntryKeeper& journal = entries.journal;
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
                      const int32_t mode = request.Value();
                      command.Set(mode);
                      if (!entries.Before(link, mode)) {
                        result = Exit::BadFile;
                        return;
                      }
                      // The window does not look at the answer (it sends a forced state again
                      // every 4 s); a script is told whether the relay acknowledged it.
                      const Outcome sent = WriteRelay(link, command);
                      result = ResultOf(sent);
                      entries.After(link, mode, sent);
                    },
                .onException = [&](TModbus&) { result = Exit::Communication; }}});
  entries.due = invocation.relayMode;
  do {
    const Exit served = relay.Serve(request, [&] { request.Set(invocation.relayMode); });
    if (entries.heldBack) {
      SayIfUnclosed(journal);
      return *relay.HeldBack(kChangeHeldBack, std::string("relay ") + kModes[invocation.relayMode]);
    }
    if (result == Exit::BadFile)
      return RefusedWithoutJournal(
          journal, std::string("relay ") + kModes[invocation.relayMode] + " not sent");
    if (!journal.openError.empty()) {
      // "Auto" went out all the same.
      Say("bad file: journal: " + journal.openError + "; relay auto sent without an entry");
      journal.openError.clear();
    }
    SayIfUnclosed(journal);
    journal.closeError.clear();
    if (served != Exit::Ok) return served;
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
    entries.due = 1;
    request.Set(1);
    const Exit served = relay.Await(request);
    if (!journal.openError.empty())
      Say("bad file: journal: " + journal.openError + "; relay auto sent without an entry");
    SayIfUnclosed(journal);
    if (served != Exit::Ok || result != Exit::Ok) {
      Say("communication error: relay auto was not acknowledged; the output may stay forced");
      return Exit::Communication;
    }
    Say("hold ended; relay mode sent: auto");
    return Exit::Ok;
  }
  Say(std::string("relay mode sent: ") + kModes[invocation.relayMode]);
  return Exit::Ok;
}

namespace {

std::string ParseClock(const CommandWords& given, Invocation& inv) {
  inv.command = Command::Clock;
  inv.setClock = given.Has("--set");
  return given.Count(0, "");
}

std::string ParseRelay(const CommandWords& given, Invocation& inv) {
  const std::vector<std::string>& words = given.words;
  inv.command = Command::Relay;
  if (const std::string error = given.Count(1, "relay mode (auto, on or off)"); !error.empty())
    return error;
  static const std::map<std::string, int> modes = {{"auto", 1}, {"on", 2}, {"off", 3}};
  const auto mode = modes.find(words[0]);
  if (mode == modes.end()) return "relay mode must be auto, on or off, not '" + words[0] + "'";
  inv.relayMode = mode->second;
  inv.hold = given.Has("--hold");
  if (inv.hold && inv.relayMode == 1) return "--hold goes with relay on or off";
  return "";
}

}  // namespace

const CommandRow kClockCommandRow = {
    .name = "clock",
    .options = {{"--set", false}},
    .parse = ParseClock,
    .run = RunClock,
    .overview = {{"clock [--set]", "the relay's clock; set it to the PC's time"}},
    .help =
        "Usage: nx480ctl clock [--set]\n"
        "\n"
        "Prints the relay's clock beside the PC's and the difference in seconds.\n"
        "\n"
        "  --set   sets the relay's clock to the PC's local time (20 ms ahead, for the\n"
        "          way to the relay) and prints the time sent; the relay's and the PC's\n"
        "          time are kept in the change journal first (exit code 5, nothing sent,\n"
        "          when they cannot be), the offset that remains after\n",
};

const CommandRow kRelayCommandRow = {
    .name = "relay",
    .options = {{"--hold", false}},
    .parse = ParseRelay,
    .run = RunRelay,
    .overview = {{"relay auto|on|off", "the relay mode (firmware x.14 and later)"}},
    .help =
        "Usage: nx480ctl relay auto|on|off [--hold]\n"
        "\n"
        "Sends the relay mode: automatic operation, or the output relay forced on or\n"
        "off (firmware x.14 and later). The settings window does not look at the\n"
        "relay's answer; nx480ctl reports a missing or wrong one (exit status 4, or 6\n"
        "for an exception reply).\n"
        "\n"
        "  --hold  sends a forced state again every 4 s, as the settings window does,\n"
        "          until Ctrl-C, SIGTERM or SIGHUP, then sends auto (as the window does\n"
        "          when it disconnects): a forced output never outlives the command\n"
        "\n"
        "Each mode sent leaves a change journal entry; on and off are refused (exit\n"
        "code 5, nothing sent) when it cannot be written, auto is sent anyway.\n",
};

}  // namespace nx480::ctl
