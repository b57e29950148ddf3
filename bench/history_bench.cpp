// history_bench: reading a full event ring of 2015 records from the simulated relay, its
// replies paced at 115200 baud, as the history window does it (main window, worker, the history
// window filling its table through one synchronous call per record), and by the link alone
// (the same walk without a window, for comparison).
//
//   history_bench [--baud N]
//
// Prints the times and `history_vs_wire: <ratio>`: the window's time over the wire-time minimum
// of 2015 exchanges of 8 + 21 bytes at 10 bits a byte. The simulator paces only its replies (the
// requests cross the pseudo-terminal at once), so a ratio somewhat below 1 is possible. Exits 0
// when both readings brought every record.
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "connection.h"
#include "form_history.h"
#include "form_main.h"
#include "form_online.h"
#include "form_setup.h"
#include "history_transaction.h"
#include "pty_relay.h"
#include "window_services.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace sim = nx480::sim;

constexpr int kSizeCode = 32;
constexpr int kSlots = 64 * kSizeCode - 33;

template <typename Done>
bool RunUntil(Done done, int ms) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  poll.start(1);
  if (!done()) loop.exec();
  return done();
}

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

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  unsigned baud = 115200;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--baud") baud = static_cast<unsigned>(std::atoi(argv[i + 1]));

  sim::RelayConfig config;
  config.history_size_code = kSizeCode;
  config.history_fill = kSlots;
  sim::PtyOptions options;
  options.baud = baud;
  sim::PtyRelay relay(config, options);
  relay.Start();

  const double wire = kSlots * 29.0 * 10.0 / baud;
  std::printf("ring: size code %d, %d slots, full; replies paced at %u baud\n", kSizeCode, kSlots,
              baud);
  std::printf("wire minimum: %.3f s (%d x 29 bytes x 10 bits / %u baud)\n", wire, kSlots, baud);

  // ---- The window ----
  double windowTime = 0;
  int rows = 0;
  {
    TFormMain main({});
    TFormOnLine onLine;
    TFormSetup setup;
    TFormHistory history;
    main.AttachWindows(&onLine, &setup, &history);
    main.ListPorts = [&relay] { return std::vector<std::string>{relay.SlavePath()}; };
    AppDialogs().error = [](QWidget*, const QString& title, const QString& text) {
      std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    };
    main.show();
    main.ButtonConnectClick();
    if (!main.Modbus().PortIsOpen()) {
      std::fprintf(stderr, "history_bench: no relay at %s\n", relay.SlavePath().c_str());
      return 1;
    }
    RunUntil([] { return false; }, 500);  // settle
    const auto t0 = Clock::now();
    main.ButtonHistoryClick();
    const bool done = RunUntil([&] { return !history.HistoryRequest.Pending(); }, 120000);
    windowTime = Seconds(Clock::now() - t0);
    rows = history.RowCount() - 1;
    main.FormClose();
    if (!done) {
      std::fprintf(stderr, "history_bench: the window's reading did not end\n");
      return 1;
    }
  }
  std::printf("window: %d rows in %.3f s (%.2f ms per record)\n", rows, windowTime,
              1000 * windowTime / rows);

  // ---- The link alone ----
  nx480::TModbus link;
  if (!link.OpenPort(relay.SlavePath(), nx480::RelayLine(), nx480::kPollInterval)) {
    std::fprintf(stderr, "history_bench: cannot open %s\n", relay.SlavePath().c_str());
    return 1;
  }
  nx480::Request request;
  Counter counter(request);
  link.Bind({.slot = nx480::kHistoryRequest,
             .request = &request,
             .transaction = [&](nx480::TModbus& l) { nx480::ReadHistory(l, counter); }});
  const auto t1 = Clock::now();
  request.Set(1);
  link.Resume();
  while (request.Pending() && Clock::now() - t1 < std::chrono::minutes(2))
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  const double linkTime = Seconds(Clock::now() - t1);
  link.Suspend();
  std::printf("link alone: %d records in %.3f s (%.2f ms per record)\n", counter.records, linkTime,
              1000 * linkTime / counter.records);

  std::printf("history_vs_wire: %.3f\n", windowTime / wire);
  return rows == kSlots && counter.records == kSlots ? 0 : 1;
}
