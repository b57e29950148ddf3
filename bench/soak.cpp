// soak: the tool's main window and live values window polling the simulated relay for a long
// time while the line misbehaves: a random fault every few seconds, a parameter read now and
// then, and a few disconnects - by the user (F1 twice) and by the adapter vanishing (the relay's
// pty closed under the open port, then back) - each followed by a connect.
//
//   soak [--minutes N] [--seed N]
//
// The relay runs in this process (sim::PtyRelay, its own thread) so that faults and unplugging
// are direct calls. Reports once a minute and at the end: live transactions and how many failed,
// the other requests served, faults injected, disconnects, the longest time without a live
// transaction while connected (a stuck worker or window shows here), and resident memory at the
// start of the measurement and at its end.
#include <QApplication>
#include <QLineEdit>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_windows.h"
#include "live_values.h"
#include "page_parameters.h"
#include "pty_relay.h"
#include "relay_live.h"
#include "settings_transactions.h"
#include "window_services.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace nx480::bench;
namespace sim = nx480::sim;

long StatusKb(const std::string& key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
  }
  return -1;
}

// The faults a line can bring, with the parameter each gets (-1: the kind's default).
sim::FaultRule RandomFault(std::mt19937& random) {
  static const sim::FaultKind kinds[] = {
      sim::FaultKind::kSilence,       sim::FaultKind::kBadCrc,    sim::FaultKind::kShortReply,
      sim::FaultKind::kExtraBytes,    sim::FaultKind::kLateReply, sim::FaultKind::kException,
      sim::FaultKind::kNoise,         sim::FaultKind::kBadEcho,   sim::FaultKind::kWrongAddress,
      sim::FaultKind::kWrongFunction, sim::FaultKind::kBabble,
  };
  sim::FaultRule rule;
  rule.kind = kinds[std::uniform_int_distribution<size_t>(0, std::size(kinds) - 1)(random)];
  rule.skip = std::uniform_int_distribution<int>(0, 2)(random);
  if (rule.kind == sim::FaultKind::kLateReply)
    rule.param = std::uniform_int_distribution<int>(50, 600)(random);
  if (rule.kind == sim::FaultKind::kBabble)
    rule.param = std::uniform_int_distribution<int>(50, 1500)(random);
  if (rule.kind == sim::FaultKind::kNoise)
    rule.param = std::uniform_int_distribution<int>(1, 40)(random);
  return rule;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  double minutes = 10;
  unsigned seed = 480;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--minutes")
      minutes = std::max(0.5, std::atof(argv[i + 1]));
    else if (arg == "--seed")
      seed = static_cast<unsigned>(std::atol(argv[i + 1]));
  }
  std::mt19937 random(seed);

  sim::PtyRelay relay;
  relay.Start();
  auto live = sim::AttachLiveValues(relay);

  BenchWindows windows([&relay] { return relay.SlavePath(); });
  TFormMain& main = windows.main;
  TFormOnLine& onLine = windows.onLine;
  TFormSetup& setup = windows.setup;
  int dialogs = 0;
  AppDialogs().error = [&dialogs](QWidget*, const QString&, const QString&) { ++dialogs; };

  // The live window's own transaction, counted (worker thread; atomics read by this thread).
  std::atomic<uint64_t> lives{0}, liveFailures{0}, reads{0};
  std::atomic<int64_t> lastLive{Clock::now().time_since_epoch().count()};
  TModbus& link = main.Modbus();
  auto& parameters = setup.Parameters();
  link.Bind(
      {.slot = nx480::kLiveRequest, .request = &onLine.LiveRequest, .transaction = [&](TModbus& l) {
         if (!nx480::ReadLiveValues(l, onLine)) ++liveFailures;
         ++lives;
         lastLive = Clock::now().time_since_epoch().count();
       }});
  link.Bind({.slot = nx480::kReadParamsRequest,
             .request = &parameters.ReadParamsRequest,
             .transaction = [&](TModbus& l) {
               nx480::ReadParameters(l, parameters);
               ++reads;
             }});

  main.show();
  main.ButtonConnectClick();
  if (!onLine.isVisible()) {
    std::fprintf(stderr, "soak: no relay at %s\n", relay.SlavePath().c_str());
    return 1;
  }
  Pump(5s);  // settled: the heap and Qt's caches have taken their first shape
  const long rssStart = StatusKb("VmRSS");
  const auto t0 = Clock::now();
  const auto end =
      t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(minutes * 60));
  // Disconnects: about one every 2.5 minutes, at least two, alternating user and unplug.
  const int disconnects = std::max(2, static_cast<int>(minutes / 2.5));
  const auto disconnectEvery = (end - t0) / (disconnects + 1);
  auto nextDisconnect = t0 + disconnectEvery;
  auto nextFault = t0 + 1s;
  auto nextRead = t0 + 7s;
  auto nextReport = t0 + 60s;
  uint64_t faults = 0;
  int userDisconnects = 0, unplugs = 0, reconnectFailures = 0;
  double longestGap = 0;  // seconds without a live transaction while connected
  bool stuck = false;

  std::printf("soak: %.1f min, seed %u, relay %s, VmRSS at start %ld kB\n", minutes, seed,
              relay.SlavePath().c_str(), rssStart);
  std::fflush(stdout);
  while (Clock::now() < end) {
    Pump(50ms);
    const auto now = Clock::now();
    if (main.Modbus().PortIsOpen()) {
      const double gap =
          std::chrono::duration<double>(now - Clock::time_point(Clock::duration(lastLive.load())))
              .count();
      longestGap = std::max(longestGap, gap);
      // Babble of 1.5 s plus a drain give up to a few seconds; ten means the loop is stuck.
      if (gap > 10) stuck = true;
    }
    if (now >= nextFault) {
      relay.AddFault(RandomFault(random));
      ++faults;
      nextFault =
          now + std::chrono::milliseconds(std::uniform_int_distribution<int>(500, 3000)(random));
    }
    if (now >= nextRead) {
      parameters.ReadParamsRequest.Post();
      nextRead = now + 10s;
    }
    if (now >= nextDisconnect && now + 10s < end) {
      if ((userDisconnects + unplugs) % 2 == 0) {
        main.ButtonConnectClick();  // F1: disconnect
        ++userDisconnects;
        Pump(1s);
      } else {
        relay.Stop();  // the adapter pulled out
        ++unplugs;
        if (!RunUntil([&] { return !main.Modbus().PortIsOpen(); }, 5s)) stuck = true;
        Pump(1s);
        relay.Start();
      }
      relay.ClearFaults();
      main.ButtonConnectClick();  // F1: connect
      if (!main.Modbus().PortIsOpen()) ++reconnectFailures;
      lastLive = Clock::now().time_since_epoch().count();
      nextDisconnect = now + disconnectEvery;
    }
    if (now >= nextReport) {
      std::printf("%5.1f min: %llu live (%llu failed), %llu reads, %llu faults, VmRSS %ld kB\n",
                  std::chrono::duration<double>(now - t0).count() / 60,
                  static_cast<unsigned long long>(lives.load()),
                  static_cast<unsigned long long>(liveFailures.load()),
                  static_cast<unsigned long long>(reads.load()),
                  static_cast<unsigned long long>(faults), StatusKb("VmRSS"));
      std::fflush(stdout);
      nextReport += 60s;
    }
  }
  // The end: the line clean again, and the tool still reading good values.
  relay.ClearFaults();
  Pump(2s);  // a babble under way ends, and its drain
  const uint64_t livesBefore = lives.load(), failuresBefore = liveFailures.load();
  Pump(3s);
  const bool connected = main.Modbus().PortIsOpen();
  const bool freshValues = lives.load() > livesBefore + 5 && !onLine.EditU1->text().isEmpty();
  const uint64_t lateFailures = liveFailures.load() - failuresBefore;
  const long rssEnd = StatusKb("VmRSS");
  const long peak = StatusKb("VmHWM");
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  main.FormClose();

  std::printf(
      "soak: %.1f s, %llu live transactions (%llu failed), %llu parameter reads, "
      "%llu faults\n",
      wall, static_cast<unsigned long long>(lives.load()),
      static_cast<unsigned long long>(liveFailures.load()),
      static_cast<unsigned long long>(reads.load()), static_cast<unsigned long long>(faults));
  std::printf(
      "disconnects: %d by the user, %d unplugged (%d error messages), %d reconnects "
      "failed\n",
      userDisconnects, unplugs, dialogs, reconnectFailures);
  std::printf("longest time without a live transaction while connected: %.2f s%s\n", longestGap,
              stuck ? " (stuck)" : "");
  std::printf("at the end: %s, %s, %llu failures in the last 3 s on a clean line\n",
              connected ? "connected" : "NOT connected",
              freshValues ? "values refreshing" : "values NOT refreshing",
              static_cast<unsigned long long>(lateFailures));
  std::printf("VmRSS: start %ld kB, end %ld kB, growth %+ld kB; peak VmHWM %ld kB\n", rssStart,
              rssEnd, rssEnd - rssStart, peak);
  const bool ok = connected && freshValues && !stuck && reconnectFailures == 0 &&
                  lateFailures == 0 && dialogs == unplugs;
  std::printf("soak: %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
