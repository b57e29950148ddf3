// How long a disconnect holds the user-interface thread, whatever the worker is doing: the
// main window disconnects at random moments during live refreshes, during parameter writes to
// a relay that does not acknowledge them, and during drains of a line that babbles. The goal is
// the 200 ms grace and a few milliseconds more.
//
//   disconnect_bench [--rounds N]   (QT_QPA_PLATFORM=offscreen)
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bench_windows.h"
#include "page_parameters.h"
#include "pty_relay.h"
#include "relay_live.h"
#include "window_services.h"

namespace sim = nx480::sim;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace nx480::bench;

namespace {

struct Scenario {
  const char* name;
  // Prepares the relay and the windows; the worker is then busy with what the scenario is about.
  void (*busy)(sim::PtyRelay& relay, TFormSetup& setup);
};

void Refresh(sim::PtyRelay&, TFormSetup&) {}  // the live window's own refreshes

void Write(sim::PtyRelay& relay, TFormSetup& setup) {
  // Parameters read once, then written to a relay that never acknowledges: each write waits
  // out its read limit and a drain.
  PageParameters& p = setup.Parameters();
  if (p.Edit[nx480::kBoxUu1]->text().isEmpty()) {
    p.ButtonReadP->click();
    Pump(300ms);
  }
  relay.AddFault({.kind = sim::FaultKind::kSilence, .function = 0x10, .count = -1});
  p.ButtonWriteP->click();
}

void Drain(sim::PtyRelay& relay, TFormSetup&) {
  // Every live reply is followed by a second of random bytes: the transactions fail and drain.
  relay.AddFault({.kind = sim::FaultKind::kBabble, .function = 0x04, .count = -1, .param = 1000});
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  int rounds = 20;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  AppDialogs().beep = [] {};

  sim::PtyRelay relay;
  auto live = sim::AttachLiveValues(relay);
  relay.Start();

  BenchWindows windows([&relay] { return relay.SlavePath(); });
  TFormMain& main = windows.main;
  TFormOnLine& onLine = windows.onLine;
  TFormSetup& setup = windows.setup;
  main.show();
  setup.show();

  const Scenario scenarios[] = {{"refresh", Refresh}, {"write", Write}, {"drain", Drain}};
  std::mt19937 random(480);
  std::vector<double> all;
  std::printf("disconnects while the worker is busy, %d each:\n", rounds);
  for (const Scenario& s : scenarios) {
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
      main.ButtonConnectClick();
      if (!onLine.isVisible()) {
        std::fprintf(stderr, "disconnect_bench: no relay\n");
        return 1;
      }
      Pump(250ms);  // the live window refreshes by now
      s.busy(relay, setup);
      Pump(std::chrono::milliseconds(std::uniform_int_distribution<int>(5, 300)(random)));
      const auto t0 = Clock::now();
      main.ButtonConnectClick();
      times.push_back(Ms(Clock::now() - t0));
      relay.ClearFaults();
      // Before the next round the line goes quiet (babbles already begun run to their end).
      for (uint64_t sent = ~uint64_t{0}; sent != relay.Counters().babble_bytes;) {
        sent = relay.Counters().babble_bytes;
        Pump(300ms);
      }
    }
    std::sort(times.begin(), times.end());
    std::printf("  %-8s median %6.1f ms  worst %6.1f ms\n", s.name, times[times.size() / 2],
                times.back());
    all.insert(all.end(), times.begin(), times.end());
  }
  std::printf("disconnect_worst_ms: %.1f (goal: 200 ms grace + a few ms; %zu disconnects)\n",
              *std::max_element(all.begin(), all.end()), all.size());
  main.FormClose();
  return 0;
}
