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
//
// Where the window's hand-over of a record goes, record by record over the whole walks: the
// reply judged and the next request leaving (frame trace), the step posted (the window's poster)
// and the worker back from its wait (worker), the step begun and ended (user-interface thread);
// and every event the user-interface thread delivered during the walks, by type. Prints
// `history_handover_us: <mean>`, from a reply judged to the next request leaving.
#include <QApplication>
#include <QMetaEnum>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
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

// Where each record's hand-over goes (user-interface thread and worker; read once the walks have
// ended): the reply judged, the step posted, the step begun and ended on the user-interface
// thread, the worker back from its wait, the next request leaving. Kept per record.
struct HandOver {
  std::atomic<Clock::rep> judged{0};  // worker: the record's reply judged (frame trace)
  std::atomic<Clock::rep> posted{0};  // worker: its step posted to the user-interface thread
  std::atomic<Clock::rep> ended{0};   // user-interface thread: its step ended
  std::atomic<bool> awaitingDone{false}, awaitingSend{false};
  struct Ui {
    Clock::time_point judged, posted, begun, ended;
  };
  std::vector<Ui> ui;                                               // user-interface thread
  std::vector<Clock::time_point> done, sent;                        // worker
  std::vector<double> posting, waking, step, back, sending, whole;  // microseconds

  static Clock::time_point At(const std::atomic<Clock::rep>& t) {
    return Clock::time_point(Clock::duration(t.load(std::memory_order_acquire)));
  }
  static void Stamp(std::atomic<Clock::rep>& t) {
    t.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
  }
  // After a walk: each record's segments, from the three series.
  void Collect() {
    const size_t n = std::min({ui.size(), done.size(), sent.size()});
    auto us = [](Clock::duration d) {
      return std::chrono::duration<double, std::micro>(d).count();
    };
    for (size_t i = 0; i < n; ++i) {
      posting.push_back(us(ui[i].posted - ui[i].judged));
      waking.push_back(us(ui[i].begun - ui[i].posted));
      step.push_back(us(ui[i].ended - ui[i].begun));
      back.push_back(us(done[i] - ui[i].ended));
      sending.push_back(us(sent[i] - done[i]));
      whole.push_back(us(sent[i] - ui[i].judged));
    }
    ui.clear();
    done.clear();
    sent.clear();
    awaitingDone = false;
    awaitingSend = false;
  }
  static double Mean(const std::vector<double>& v) {
    return v.empty() ? 0 : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
  }
  static double Quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
  }
  static std::string Line(const char* name, const std::vector<double>& v) {
    char text[200];
    std::snprintf(text, sizeof text, "  %-44s mean %7.1f  median %7.1f  p90 %7.1f  p99 %8.1f", name,
                  Mean(v), Quantile(v, 0.5), Quantile(v, 0.9), Quantile(v, 0.99));
    return text;
  }
  std::string Text() const {
    return "hand-over per record, microseconds (" + std::to_string(whole.size()) + " records):\n" +
           Line("reply judged -> step posted (worker)", posting) + "\n" +
           Line("step posted -> step begun (user-interface)", waking) + "\n" +
           Line("step begun -> step ended (the window's work)", step) + "\n" +
           Line("step ended -> worker back from its wait", back) + "\n" +
           Line("worker back -> next request leaving", sending) + "\n" +
           Line("reply judged -> next request leaving (all)", whole);
  }
};

// Where a walk's time goes, from the frame trace (worker thread; read once the walk has ended):
// each record exchange from its request leaving to its reply judged (the hand-over of the
// record before it runs meanwhile), and the time from one reply judged to the next request
// leaving.
struct Pace {
  Clock::time_point pointerSent{};
  Clock::time_point lastJudged{};
  std::atomic<Clock::rep> lastSent{0};  // also read by the window's steps
  std::vector<double> exchange, between;
  HandOver* handOver = nullptr;  // the window's walks: each record's reply and next request

  nx480::FrameTraceHook Hook() {
    return [this](const nx480::FrameEvent& e) {
      const auto now = Clock::now();
      const std::string frame = e.frame;
      if (e.direction == nx480::FrameDirection::Sent) {
        lastSent = now.time_since_epoch().count();
        if (frame == "history pointer") pointerSent = now;
        if (frame == "history record" && lastJudged != Clock::time_point{})
          between.push_back(Seconds(now - lastJudged) * 1000);
        if (frame == "history record" && handOver && handOver->awaitingSend.exchange(false))
          handOver->sent.push_back(now);
      } else if (e.direction == nx480::FrameDirection::Received) {
        if (frame == "history record") exchange.push_back(e.sinceRequest.count() / 1000.0);
        if (frame == "history record" && handOver) HandOver::Stamp(handOver->judged);
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

// The history window with its record steps timed (user-interface thread).
class TimedWindow : public nx480::HistoryWindow {
 public:
  TimedWindow(TFormHistory& window, const nx480::Worker& worker, HandOver& handOver)
      : window_(window), worker_(worker), handOver_(handOver) {}
  void BeginReading(int32_t reading) override { window_.BeginReading(reading); }
  void ShowHistoryRecord(const nx480::HistoryRecord& record) override {
    const auto begun = Clock::now();
    window_.ShowHistoryRecord(record);
    HandOver::Stamp(handOver_.ended);
    handOver_.ui.push_back({HandOver::At(handOver_.judged), HandOver::At(handOver_.posted), begun,
                            HandOver::At(handOver_.ended)});
    handOver_.awaitingDone.store(true, std::memory_order_release);
  }
  // Asked on the worker right after each record's step.
  int32_t RequestedReading() const override {
    if (worker_.OnWorkerThread() && handOver_.awaitingDone.exchange(false)) {
      handOver_.done.push_back(Clock::now());
      handOver_.awaitingSend.store(true, std::memory_order_release);
    }
    return window_.RequestedReading();
  }

 private:
  TFormHistory& window_;
  const nx480::Worker& worker_;
  HandOver& handOver_;
};

// Where the user-interface thread's time goes during the walks: every event it delivers, by type
// (those delivered inside another counted with it), while `counting`.
class TimedApp : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    if (!counting || depth_ > 0) return QApplication::notify(receiver, event);
    ++depth_;
    const auto t0 = Clock::now();
    const bool result = QApplication::notify(receiver, event);
    Spent& spent = byType[event->type()];
    spent.seconds += Seconds(Clock::now() - t0);
    ++spent.count;
    --depth_;
    return result;
  }
  struct Spent {
    double seconds = 0;
    int count = 0;
  };
  bool counting = false;
  std::map<int, Spent> byType;

 private:
  int depth_ = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  TimedApp app(argc, argv);
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
  HandOver handOver;
  windowPace.handOver = &handOver;
  bool allRows = true;
  {
    BenchWindows windows([&relay] { return relay.SlavePath(); });
    TFormMain& main = windows.main;
    TFormHistory& history = windows.history;
    TimedWindow timed(history, main.Modbus(), handOver);
    Clock::time_point walkEnded{};  // worker; read once the request is cleared
    main.show();
    main.ButtonConnectClick();
    if (!main.Modbus().PortIsOpen()) {
      std::fprintf(stderr, "history_bench: no relay at %s\n", relay.SlavePath().c_str());
      return 1;
    }
    main.Modbus().SetTraceHook(windowPace.Hook());
    // The window's poster, with the moment each step is posted.
    main.Modbus().SetUiPoster([&handOver, poster = main.Modbus().Poster()] {
      HandOver::Stamp(handOver.posted);
      poster();
    });
    main.Modbus().Bind({.slot = nx480::kHistoryRequest,
                        .request = &history.HistoryRequest,
                        .transaction = [&](nx480::TModbus& l) {
                          nx480::ReadHistory(l, timed);
                          walkEnded = Clock::now();
                        }});
    for (int walk = 0; walk < walks; ++walk) {
      Pump(500ms);  // settle
      const auto t0 = Clock::now();
      app.counting = true;
      main.ButtonHistoryClick();  // shows the window, which asks for a reading
      const bool done = RunUntil([&] { return !history.HistoryRequest.Pending(); }, 120s);
      app.counting = false;
      handOver.Collect();
      if (!done) {
        std::fprintf(stderr, "history_bench: the window's reading did not end\n");
        return 1;
      }
      clickTimes.push_back(Seconds(walkEnded - t0));
      windowTimes.push_back(Seconds(walkEnded - windowPace.pointerSent));
      allRows = allRows && history.RowCount() - 1 == kSlots;
      main.ButtonHistoryClick();  // closes it
    }
    main.FormClose();
  }
  const double windowTime = Median(windowTimes);
  std::printf(
      "window: %d walks of %d rows, median %.3f s (%.3f ms per record); %.3f s from the "
      "click\n",
      walks, kSlots, windowTime, 1000 * windowTime / kSlots, Median(clickTimes));
  std::printf("window: %s\n", windowPace.Text(walks).c_str());
  std::printf("window: %s\n", handOver.Text().c_str());
  std::printf("window: the user-interface thread's events during a walk (seconds, count):\n");
  const QMetaEnum types = QMetaEnum::fromType<QEvent::Type>();
  for (const auto& [type, spent] : app.byType)
    if (spent.seconds / walks >= 0.0005)
      std::printf("  %-20s %7.3f s %7d\n", types.valueToKey(type), spent.seconds / walks,
                  spent.count / walks);

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
      "history_handover_us: %.1f  (none set; mean per record of the window's walk, from its "
      "reply judged to the next request leaving: median %.1f, p99 %.1f; the link alone %.1f)\n",
      HandOver::Mean(handOver.whole), HandOver::Quantile(handOver.whole, 0.5),
      HandOver::Quantile(handOver.whole, 0.99), HandOver::Mean(linkPace.between) * 1000);
  std::printf(
      "history_vs_wire: %.3f  (goal <= 1.10; the window's walk %.3f s, wire minimum %.3f s, "
      "the link alone %.3f s; medians of %d)\n",
      windowTime / wire, windowTime, wire, linkTime, walks);
  return allRows ? 0 : 1;
}
