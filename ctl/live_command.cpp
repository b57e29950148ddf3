#include "live_command.h"

#include <atomic>
#include <chrono>

#include "commands.h"
#include "live_values.h"
#include "output.h"
#include "relay_link.h"
#include "relay_time.h"

namespace nx480::ctl {

namespace {

using namespace std::chrono_literals;

constexpr auto kLivePeriod = 200ms;  // the live values window's Timer1

constexpr const char* kStageNames[] = {"Uu1", "Uu2", "Uo1", "Uo2", "Uo3",
                                       "Fu1", "Fu2", "Fo1", "Fo2"};

// "%3i" and the like leave blanks in front.
std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

// The temperature as the window decides it: its box shown for the temperature variant, or
// brought up by the firmware's own reading.
std::string ShownTemperature(const LiveSnapshot& s) {
  const bool shown = LayoutFor(s.firmware, 0, s.hasTemperature).temperatureVisible ||
                     TemperatureAppears(s.firmware, s.texts.Temp);
  return shown ? Trimmed(s.texts.Temp) : std::string();
}

// The stages whose panel shows `tripped` (red background) or picked up (red caption).
std::string Stages(uint32_t flags, bool tripped) {
  std::string names;
  for (size_t i = 0; i < std::size(kStages); ++i) {
    const StageLook look = LookOf(kStages[i], flags);
    if (tripped ? look.redBackground : look.redCaption)
      names += (names.empty() ? "" : " ") + std::string(kStageNames[i]);
  }
  return names;
}

std::string Now() {
  const CalendarTime t = SplitDateTime(LocalNow());
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return text;
}

// The live values window as the live transaction sees it; its steps run on the worker.
class LivePrinter : public LiveValuesWindow {
 public:
  // Before the worker is started: the relay's firmware and how the snapshots are shown.
  void Configure(const RelaySession& session, const Invocation& invocation, int limit) {
    csv_ = invocation.csv;
    limit_ = limit;
    snapshot_.firmware = session.firmware;
    snapshot_.hasTemperature = session.hasTemperature;
    // The window's 0,1 V box: there from x.11 on, checked by the user or by service mode.
    box_.visible = LayoutFor(session.firmware, 0, session.hasTemperature).checkBox01VVisible;
    box_.checked = invocation.tenths || invocation.service;
  }

  void StoreLiveValues(const LiveImage& image, uint32_t stageFlags) override {
    StoreLive(snapshot_.texts, image, stageFlags, image.firmware, box_);
    snapshot_.good = true;
  }
  void ClearLiveValues() override {
    ClearLive(snapshot_.texts);
    snapshot_.good = false;
  }
  void ShowLiveValues() override {
    // A request set again just as the last one was served may bring one snapshot more.
    if (limit_ > 0 && shown_.load() >= limit_) return;
    if (!snapshot_.good) failed_.store(true);
    Print(csv_ ? LiveCsvLine(Now(), snapshot_)
               : Now().substr(11) + "  " + LiveTextLine(snapshot_) + "\n");
    shown_.fetch_add(1);
  }

  int Shown() const { return shown_.load(); }
  bool Failed() const { return failed_.load(); }
  Request request;

 private:
  bool csv_ = false;
  int limit_ = 1;
  ResolutionBox box_;
  LiveSnapshot snapshot_;
  std::atomic<int> shown_{0};
  std::atomic<bool> failed_{false};
};

}  // namespace

std::string LiveTextLine(const LiveSnapshot& s) {
  if (!s.good) return "no reply";
  const LiveTexts& t = s.texts;
  std::string line = "U1 " + Trimmed(t.U1) + "  U2 " + Trimmed(t.U2) + "  U3 " + Trimmed(t.U3) +
                     " V  F " + t.F + " Hz";
  if (const std::string countdown = ShownReconnection(t); !countdown.empty())
    line += "  tZap " + countdown + " s";
  if (!t.U10m1.empty()) {
    line += "  10 min " + Trimmed(t.U10m1) + " " + Trimmed(t.U10m2) + " " + Trimmed(t.U10m3) +
            " V (" + std::to_string(ProgressPosition(t.Progress10m)) + " s)";
  }
  if (const std::string temperature = ShownTemperature(s); !temperature.empty())
    line += "  T " + temperature + " \u00B0C";
  if (const std::string picked = Stages(t.StageFlags, false); !picked.empty())
    line += "  picked up: " + picked;
  if (const std::string tripped = Stages(t.StageFlags, true); !tripped.empty())
    line += "  tripped: " + tripped;
  return line;
}

std::string LiveCsvTitle() {
  return "time;U1 [V];U2 [V];U3 [V];F [Hz];tZap [s];U1 10min [V];U2 10min [V];U3 10min [V];"
         "10min [s];T [\u00B0C];picked up;tripped;\r\n";
}

std::string LiveCsvLine(const std::string& time, const LiveSnapshot& s) {
  const LiveTexts& t = s.texts;
  const std::string cells[] = {
      time,
      Trimmed(t.U1),
      Trimmed(t.U2),
      Trimmed(t.U3),
      t.F,
      ShownReconnection(t),
      Trimmed(t.U10m1),
      Trimmed(t.U10m2),
      Trimmed(t.U10m3),
      t.U10m1.empty() ? "" : std::to_string(ProgressPosition(t.Progress10m)),
      ShownTemperature(s),
      Stages(t.StageFlags, false),
      Stages(t.StageFlags, true)};
  std::string line;
  for (const std::string& cell : cells) line += cell + ";";
  return line + "\r\n";
}

Exit RunLive(const Invocation& invocation) {
  LivePrinter printer;
  RelayLink relay(invocation);
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  const int limit = invocation.stream ? invocation.count : 1;
  printer.Configure(relay.Session(), invocation, limit);
  relay.Start({{.slot = kLiveRequest,
                .request = &printer.request,
                .transaction = [&printer](TModbus& link) { ReadLiveValues(link, printer); },
                .onException =
                    [&printer](TModbus& link) {
                      printer.ClearLiveValues();
                      link.Synchronize([&printer] { printer.ShowLiveValues(); });
                    }}});
  if (invocation.csv) Print(LiveCsvTitle());

  if (!invocation.stream) {
    if (const Exit served = relay.Serve(printer.request, [&printer] { printer.request.Set(1); });
        served != Exit::Ok)
      return served;
    return printer.Failed() ? Exit::Communication : Exit::Ok;
  }
  if (!relay.MaySend()) return Exit::Interrupted;
  // As the window's timer: the request is set every 200 ms; one that is still pending then is
  // served once.
  auto next = std::chrono::steady_clock::now();
  // A stream whose output goes nowhere ends (a reader gone, a full disk).
  while ((limit == 0 || printer.Shown() < limit) && !OutputFailed()) {
    printer.request.Set(1);
    next += kLivePeriod;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        next - std::chrono::steady_clock::now());
    if (!relay.Pause(std::max(left, std::chrono::milliseconds(0)))) break;
    if (relay.Link().IsParked()) {
      Say("communication error: the device " + relay.Session().port + " is gone");
      return Exit::Communication;
    }
  }
  if (const Exit served = relay.Await(printer.request); served != Exit::Ok) return served;
  return printer.Failed() ? Exit::Communication : Exit::Ok;
}

}  // namespace nx480::ctl
