// history_bench: reading a full event ring of 2015 records from the simulated relay, its
// replies paced at 115200 baud, as the history window does it (main window, worker, the history
// window filling its table through one synchronous call per record), and by the link alone
// (the same walk without a window, for comparison).
//
//   history_bench [--baud N] [--walks N]
//
// Each reading is done N times (3 by default), the window's first; the medians count. Prints
// the times and `history_vs_wire: <ratio>`: the window's walk, from the pointer request
// leaving to the walk's end (the last record in the table), over its wire-time minimum: the
// pointer exchange (8 + 9 bytes) and 2015 record exchanges (8 + 21 bytes) at 10 bits a byte.
// The relay paces its replies and starts each one 8 byte times after the request has arrived,
// the time the request would take on the wire (the pseudo-terminal carries it at once), so the
// pty costs what the wire would. Exits 0 when both readings brought every record.
#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "bench_windows.h"
#include "connection.h"
#include "history_transaction.h"
#include "paced_link.h"
#include "pty_relay.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace nx480::bench;
namespace sim = nx480::sim;

constexpr int kSizeCode = 32;
constexpr int kSlots = 64 * kSizeCode - 33;

// The walk without a window: the records are counted on the worker.
class Counter : public nx480::HistoryWindow {
 public:
  explicit Counter(nx480::Request& request) : request_(request) {}
  void BeginReading(int32_t) override {}
  void ShowHistoryRecord(const nx480::HistoryRecord&) override { ++records; }
  int32_t RequestedReading() const override { return request_.Value(); }
  int records = 0;

 private:
  nx480::Request& request_;
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Where a walk's time goes, from the frame trace (worker thread; read once the walk has ended):
// each record exchange from its request leaving to its reply judged (the hand-over of the
// record before it runs meanwhile), and the time from one reply judged to the next request
// leaving.
struct Pace {
  Clock::time_point pointerSent{};
  Clock::time_point lastJudged{};
  std::atomic<Clock::rep> lastSent{0};  // also read by the window's steps
  std::vector<double> exchange, between;

  nx480::FrameTraceHook Hook() {
    return [this](const nx480::FrameEvent& e) {
      const auto now = Clock::now();
      const std::string frame = e.frame;
      if (e.direction == nx480::FrameDirection::Sent) {
        lastSent = now.time_since_epoch().count();
        if (frame == "history pointer") pointerSent = now;
        if (frame == "history record" && lastJudged != Clock::time_point{})
          between.push_back(Seconds(now - lastJudged) * 1000);
      } else if (e.direction == nx480::FrameDirection::Received) {
        if (frame == "history record") exchange.push_back(e.sinceRequest.count() / 1000.0);
        lastJudged = now;
      }
    };
  }
  std::string Text(int walks) const {
    char text[200];
    std::snprintf(text, sizeof text,
                  "record exchange %.3f ms median, %.3f s a walk; reply to the next request "
                  "%.3f ms median",
                  Median(exchange),
                  std::accumulate(exchange.begin(), exchange.end(), 0.0) / 1000 / walks,
                  Median(between));
    return text;
  }
};

// The history window with its record steps timed (user-interface thread): how long each took,
// and how long after the next request had left it began (the user-interface thread was busy).
class TimedWindow : public nx480::HistoryWindow {
 public:
  TimedWindow(TFormHistory& window, const Pace& pace) : window_(window), pace_(pace) {}
  void BeginReading(int32_t reading) override { window_.BeginReading(reading); }
  void ShowHistoryRecord(const nx480::HistoryRecord& record) override {
    const auto t0 = Clock::now();
    waited += Seconds(t0 - Clock::time_point(Clock::duration(pace_.lastSent.load())));
    window_.ShowHistoryRecord(record);
    steps += Seconds(Clock::now() - t0);
  }
  int32_t RequestedReading() const override { return window_.RequestedReading(); }
  double steps = 0, waited = 0;

 private:
  TFormHistory& window_;
  const Pace& pace_;
};

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  unsigned baud = 115200;
  int walks = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--baud") baud = static_cast<unsigned>(std::atoi(argv[i + 1]));
    if (arg == "--walks") walks = std::max(1, std::atoi(argv[i + 1]));
  }

  sim::RelayConfig config;
  config.history_size_code = kSizeCode;
  config.history_fill = kSlots;
  sim::PtyRelay relay(config, nx480::bench::PacedOptions(baud));
  relay.Start();

  const double wire = (17.0 + kSlots * 29.0) * 10.0 / baud;
  std::printf("ring: size code %d, %d slots, full; replies paced at %u baud\n", kSizeCode, kSlots,
              baud);
  std::printf("wire minimum: %.3f s ((17 + %d x 29) bytes x 10 bits / %u baud)\n", wire, kSlots,
              baud);

  // ---- The window ----
  std::vector<double> windowTimes, clickTimes;
  Pace windowPace, linkPace;
  double steps = 0, waited = 0;
  bool allRows = true;
  {
    BenchWindows windows([&relay] { return relay.SlavePath(); });
    TFormMain& main = windows.main;
    TFormHistory& history = windows.history;
    TimedWindow timed(history, windowPace);
    Clock::time_point walkEnded{};  // worker; read once the request is cleared
    main.show();
    main.ButtonConnectClick();
    if (!main.Modbus().PortIsOpen()) {
      std::fprintf(stderr, "history_bench: no relay at %s\n", relay.SlavePath().c_str());
      return 1;
    }
    main.Modbus().SetTraceHook(windowPace.Hook());
    main.Modbus().Bind({.slot = nx480::kHistoryRequest,
                        .request = &history.HistoryRequest,
                        .transaction = [&](nx480::TModbus& l) {
                          nx480::ReadHistory(l, timed);
                          walkEnded = Clock::now();
                        }});
    for (int walk = 0; walk < walks; ++walk) {
      Pump(500ms);  // settle
      const auto t0 = Clock::now();
      main.ButtonHistoryClick();  // shows the window, which asks for a reading
      const bool done = RunUntil([&] { return !history.HistoryRequest.Pending(); }, 120s);
      if (!done) {
        std::fprintf(stderr, "history_bench: the window's reading did not end\n");
        return 1;
      }
      clickTimes.push_back(Seconds(walkEnded - t0));
      windowTimes.push_back(Seconds(walkEnded - windowPace.pointerSent));
      allRows = allRows && history.RowCount() - 1 == kSlots;
      main.ButtonHistoryClick();  // closes it
    }
    steps = timed.steps / walks;
    waited = timed.waited / walks;
    main.FormClose();
  }
  const double windowTime = Median(windowTimes);
  std::printf(
      "window: %d walks of %d rows, median %.3f s (%.3f ms per record); %.3f s from the "
      "click\n",
      walks, kSlots, windowTime, 1000 * windowTime / kSlots, Median(clickTimes));
  std::printf("window: %s\n", windowPace.Text(walks).c_str());
  std::printf(
      "window: a walk's record steps took %.3f s and waited %.3f s for the user-interface "
      "thread (from the next request leaving to the step beginning)\n",
      steps, waited);

  // ---- The link alone ----
  nx480::TModbus link;
  if (!link.OpenPort(relay.SlavePath(), nx480::RelayLine(), nx480::kPollInterval)) {
    std::fprintf(stderr, "history_bench: cannot open %s\n", relay.SlavePath().c_str());
    return 1;
  }
  link.SetTraceHook(linkPace.Hook());
  nx480::Request request;
  Counter counter(request);
  Clock::time_point linkEnded{};  // worker; read once the worker is parked
  link.Bind(
      {.slot = nx480::kHistoryRequest, .request = &request, .transaction = [&](nx480::TModbus& l) {
         nx480::ReadHistory(l, counter);
         linkEnded = Clock::now();
       }});
  std::vector<double> linkTimes;
  for (int walk = 0; walk < walks; ++walk) {
    counter.records = 0;
    const auto t1 = Clock::now();
    request.Set(1);
    link.Resume();
    while (request.Pending() && Clock::now() - t1 < std::chrono::minutes(2))
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    link.Suspend();
    linkTimes.push_back(Seconds(linkEnded - linkPace.pointerSent));
    allRows = allRows && counter.records == kSlots;
  }
  const double linkTime = Median(linkTimes);
  std::printf("link alone: %d walks, median %.3f s (%.3f ms per record)\n", walks, linkTime,
              1000 * linkTime / kSlots);
  std::printf("link alone: %s\n", linkPace.Text(walks).c_str());

  std::printf(
      "history_vs_wire: %.3f  (goal <= 1.05; the window's walk %.3f s, wire minimum %.3f s, "
      "the link alone %.3f s; medians of %d)\n",
      windowTime / wire, windowTime, wire, linkTime, walks);
  return allRows ? 0 : 1;
}
