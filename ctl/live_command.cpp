#include "live_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "command_table.h"
#include "commands.h"
#include "live_values.h"
#include "output.h"
#include "places.h"
#include "recording.h"
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
    semicolons_ = invocation.csvSemicolon;
    limit_ = limit;
    snapshot_.firmware = session.firmware;
    snapshot_.hasTemperature = session.hasTemperature;
    // The window's 0,1 V box: there from x.11 on, checked by the user or by service mode.
    box_.visible = LayoutFor(session.firmware, 0, session.hasTemperature).checkBox01VVisible;
    box_.checked = invocation.tenths || invocation.service;
    record_ = invocation.record;
  }

  void StoreLiveValues(const LiveImage& image, uint32_t stageFlags) override {
    StoreLive(snapshot_.texts, image, stageFlags, image.firmware, box_);
    snapshot_.good = true;
    if (record_ || csv_) {
      sample_ = SampleOf(image, stageFlags, snapshot_.hasTemperature);
      StampNow(sample_);
    }
  }
  void ClearLiveValues() override {
    ClearLive(snapshot_.texts);
    snapshot_.good = false;
  }
  void ShowLiveValues() override {
    // A request set again just as the last one was served may bring one snapshot more.
    if (limit_ > 0 && shown_.load() >= limit_) return;
    if (!snapshot_.good) failed_.store(true);
    if (record_ && snapshot_.good) {
      const std::lock_guard lock(samplesMutex_);
      samples_.push_back(sample_);
    }
    if (csv_) {
      Print(snapshot_.good ? RecordingLine(sample_) : RecordingGapLine());
    } else {
      Print(semicolons_ ? LiveCsvLine(Now(), snapshot_)
                        : Now().substr(11) + "  " + LiveTextLine(snapshot_) + "\n");
    }
    shown_.fetch_add(1);
  }

  // The samples recorded since the last call (main thread; the worker never writes the file).
  std::vector<RecordingSample> TakeSamples() {
    const std::lock_guard lock(samplesMutex_);
    return std::exchange(samples_, {});
  }

  int Shown() const { return shown_.load(); }
  bool Failed() const { return failed_.load(); }
  Request request;

 private:
  bool csv_ = false;         // the recording's lines
  bool semicolons_ = false;  // the window's numbers, ";" after each
  int limit_ = 1;
  ResolutionBox box_;
  LiveSnapshot snapshot_;
  std::atomic<int> shown_{0};
  std::atomic<bool> failed_{false};
  bool record_ = false;
  RecordingSample sample_;
  std::mutex samplesMutex_;
  std::vector<RecordingSample> samples_;
};

// live --record: the samples handed over by the printer written on the main thread.
class Recorder {
 public:
  // Before the connection: the root, the cap (enforced at once), a bad configuration said.
  bool Start() {
    const Places places = CurrentPlaces();
    const std::optional<std::string> root = places.Recordings();
    if (!root) {
      Say("cannot record: no data folder (" + places.data.problem + ")");
      return false;
    }
    const RecordingConfig config = ReadRecordingConfig();
    if (config.invalid)
      Say(config.path + ": cap-mb is no whole number of megabytes from 1 on; the cap is " +
          std::to_string(kDefaultCapMb) + " MB");
    writer_ = std::make_unique<RecordingWriter>(*root, config.capBytes);
    Check();
    return true;
  }
  void Serial(int32_t serialNumber) { serial_ = serialNumber; }
  void Write(int32_t serialNumber, LivePrinter& printer) {
    serial_ = serialNumber;
    Write(printer);
  }
  void Write(LivePrinter& printer) {
    if (!writer_ || writer_->Stopped()) return;
    for (const RecordingSample& sample : printer.TakeSamples())
      if (!writer_->Append(serial_, sample)) break;
    writer_->FlushIfDue();
    Check();
  }
  // The end: what is buffered goes to the file. False when the recording stopped.
  bool Finish() {
    if (!writer_) return true;
    writer_->Flush();
    Check();
    return !writer_->Stopped();
  }

 private:
  // What the cap removed is named, and a stop said once.
  void Check() {
    for (const std::string& path : writer_->TakeRemoved())
      Say(RecordingRemovedMessage(path, writer_->CapBytes()));
    if (writer_->Stopped() && !said_) {
      Say(RecordingStoppedMessage(writer_->Error(), writer_->Path()));
      said_ = true;
    }
  }
  std::unique_ptr<RecordingWriter> writer_;
  int32_t serial_ = -1;
  bool said_ = false;
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

std::string RecordingGapLine() {
  RecordingSample now;
  StampNow(now);
  const std::string header = RecordingHeader();
  return RecordingTime(now.pcMillis, now.utcOffsetMinutes) +
         std::string(static_cast<size_t>(std::count(header.begin(), header.end(), ',')), ',') +
         "\n";
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

namespace {

// The live command itself; the recorder writes what the printer hands over between the
// snapshots, on this (the main) thread.
Exit Live(const Invocation& invocation, LivePrinter& printer, Recorder& recorder) {
  RelayLink relay(invocation);
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  const int32_t serial = relay.Session().serialNumber;
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
  if (invocation.csv) Print(RecordingHeader());
  if (invocation.csvSemicolon) Print(LiveCsvTitle());

  recorder.Serial(serial);
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
    recorder.Write(serial, printer);
    if (relay.Link().IsParked()) {
      Say("communication error: the device " + relay.Session().port + " is gone");
      return Exit::Communication;
    }
  }
  if (const Exit served = relay.Await(printer.request); served != Exit::Ok) return served;
  return printer.Failed() ? Exit::Communication : Exit::Ok;
}

}  // namespace

Exit RunLive(const Invocation& invocation) {
  Recorder recorder;
  if (invocation.record && !recorder.Start()) return Exit::BadFile;
  LivePrinter printer;  // outlives the worker, which ends with Live's relay link
  const Exit exit = Live(invocation, printer, recorder);
  recorder.Write(printer);
  if (!recorder.Finish() && exit == Exit::Ok) return Exit::BadFile;
  return exit;
}

namespace {

std::string ParseLive(const CommandWords& given, Invocation& inv) {
  inv.command = Command::Live;
  inv.stream = given.Has("--stream");
  inv.csv = given.Has("--csv");
  inv.csvSemicolon = given.Has("--csv-semicolon");
  if (inv.csv && inv.csvSemicolon) return "--csv and --csv-semicolon exclude each other";
  inv.tenths = given.Has("--tenths");
  inv.record = given.Has("--record");
  if (given.Has("--count")) {
    const std::optional<int> count = WholeNumber(given.Value("--count"), 1, 1000000000);
    if (!count) return "--count takes a whole number of snapshots, 1 or more";
    inv.count = *count;
    inv.stream = true;
  }
  return given.Count(0, "");
}

}  // namespace

const CommandRow kLiveCommandRow = {
    .name = "live",
    .options = {{"--stream", false},
                {"--count", true},
                {"--csv", false},
                {"--csv-semicolon", false},
                {"--tenths", false},
                {"--record", false}},
    .parse = ParseLive,
    .run = RunLive,
    .overview = {{"live [--stream] [--csv]", "live values, once or at the window's rate"}},
    .help =
        "Usage: nx480ctl live [--stream | --count N] [--csv | --csv-semicolon] [--tenths]\n"
        "                     [--record]\n"
        "\n"
        "One snapshot of the live values: U1-U3, the frequency, the reconnection\n"
        "countdown, the 10-minute averages, the temperature and the protection stages\n"
        "that are picked up or tripped. Numbers as the live values window shows them\n"
        "(decimal comma).\n"
        "\n"
        "  --stream    a snapshot at the window's rate (every 200 ms) until Ctrl-C\n"
        "  --count N   N snapshots at that rate, then end\n"
        "  --csv       the recording's CSV: its header line, then a line per snapshot\n"
        "              as the recording's day files hold them (ISO 8601 time with the\n"
        "              UTC offset, \",\" between the cells, a decimal point, tenths\n"
        "              where the firmware has them, 0/1 per stage); a snapshot that\n"
        "              failed is its time and empty cells\n"
        "  --csv-semicolon  the former --csv: \";\" after every cell, CR LF, the\n"
        "              window's numbers (decimal comma), the local time without offset\n"
        "  --tenths    voltages in tenths of a volt where the firmware has them\n"
        "              (x.11 and later; always on with --service)\n"
        "  --record    keep every good snapshot in the relay's recording as the live\n"
        "              values window does (a CSV file per day under\n"
        "              $XDG_DATA_HOME/nx480-pc/recordings/SERIAL/)\n"
        "\n"
        "Exit code 4 when a snapshot failed (its values are empty), 5 when the\n"
        "recording stopped (a full disk: the snapshots go on).\n",
};

}  // namespace nx480::ctl
