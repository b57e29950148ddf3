// live_bench: the live values window refreshing against the simulated relay for a while.
// Runs the tool's own windows (main window and live values window, offscreen unless a display
// platform is chosen) in this process and the relay as a separate nx480-sim process, so that
// the CPU time and memory measured here are the tool's alone. The relay paces its replies at
// 115200 baud and starts each 0.69 ms after the request has arrived: the time the 8-byte
// request would take on the wire, which the pseudo-terminal carries at once.
//
//   live_bench [--seconds N] [--version TEXT] [--sim PATH]
//
// Reports the snapshot's time (from the first request leaving to the third reply judged,
// median) against its minimum, the three exchanges' bytes on the wire at 10 bits a byte plus
// the 80 ms wait (live_snapshot_over_min_ms); the refresh period (time between the ends of
// consecutive live transactions: mean, median, 95th percentile, maximum); the tool's CPU use
// (user + system time over wall time, in per cent of one core: cpu_live), its resident memory
// (now and peak: rss_live_mb) and the simulator's CPU use.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.h"
#include "bench_windows.h"
#include "live_values.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace nx480::bench;

double Seconds(const rusage& r) {
  return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// A line "Key:   123 kB" of /proc/<pid>/status, in kB.
long StatusKb(const std::string& pid, const std::string& key) {
  std::ifstream in("/proc/" + pid + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
  }
  return -1;
}

// User + system CPU seconds of a process from /proc/<pid>/stat.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {  // field 3 is the state
    if (i == 14) utime = std::atof(field.c_str());
    if (i == 15) {
      stime = std::atof(field.c_str());
      break;
    }
  }
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Simulator {
  pid_t pid = -1;
  std::string path;

  bool Start(const std::string& program, const std::string& version) {
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {program,  "--version",      version, "--baud",
                                     "115200", "--answer-delay", "0.694"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      return false;
    }
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') path += c;
    close(out[0]);
    return !path.empty();
  }
  ~Simulator() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

// One live transaction as the frame trace saw it: when each of its three requests left and when
// its reply was judged.
struct Snapshot {
  Clock::time_point sent[3]{}, judged[3]{};
  bool failed = false;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  int seconds = 30;
  std::string version = "1.14.d";
  std::string simProgram = NX480_SIM_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--seconds")
      seconds = std::max(2, std::atoi(argv[i + 1]));
    else if (arg == "--version")
      version = argv[i + 1];
    else if (arg == "--sim")
      simProgram = argv[i + 1];
  }

  Simulator sim;
  if (!sim.Start(simProgram, version)) {
    std::fprintf(stderr, "live_bench: cannot start %s\n", simProgram.c_str());
    return 1;
  }

  BenchWindows windows([&sim] { return sim.path; });
  TFormMain& main = windows.main;
  TFormOnLine& onLine = windows.onLine;
  // The window's own transaction, timed at its end (worker thread; read after the pause).
  std::vector<Clock::time_point> done;
  done.reserve(static_cast<size_t>(seconds) * 10 + 100);
  TModbus& m = main.Modbus();
  // Each snapshot's frames as they leave and as their replies are judged (worker thread).
  std::vector<Snapshot> snapshots;
  snapshots.reserve(done.capacity());
  m.SetTraceHook([&](const nx480::FrameEvent& e) {
    const auto now = Clock::now();
    const std::string_view frame = e.frame;
    const bool sent = e.direction == nx480::FrameDirection::Sent;
    if (sent && frame.starts_with("live registers")) snapshots.emplace_back();
    if (snapshots.empty() || e.direction == nx480::FrameDirection::Drained) return;
    Snapshot& s = snapshots.back();
    const int exchange = frame.starts_with("live registers")     ? 0
                         : frame.starts_with("protection coils") ? 1
                         : frame == "frequency again"            ? 2
                                                                 : -1;
    if (exchange < 0) return;
    (sent ? s.sent : s.judged)[exchange] = now;
    if (!sent && e.verdict != nx480::LinkError::None) s.failed = true;
  });
  // Failed transactions, by their end (the last one is cut short by the pause at the end).
  std::vector<Clock::time_point> failed;
  m.Bind({.slot = nx480::kLiveRequest,
          .request = &onLine.LiveRequest,
          .transaction = [&](TModbus& link) {
            if (!nx480::ReadLiveValues(link, onLine)) failed.push_back(Clock::now());
            done.push_back(Clock::now());
          }});
  main.show();
  main.ButtonConnectClick();
  if (!onLine.isVisible()) {
    std::fprintf(stderr, "live_bench: no relay at %s\n", sim.path.c_str());
    return 1;
  }

  Pump(1s);  // settle for a second, then measure
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const double simBefore = ProcessCpuSeconds(sim.pid);
  const auto t0 = Clock::now();
  Pump(std::chrono::seconds(seconds));
  const auto t1 = Clock::now();
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  const double simAfter = ProcessCpuSeconds(sim.pid);
  const long rss = StatusKb("self", "VmRSS");
  const long peak = StatusKb("self", "VmHWM");
  const std::string shown = onLine.EditU1->text().toStdString();

  const nx480::LivePlan plan = nx480::LivePlanFor(main.Session().firmware);
  main.FormClose();  // pauses the worker: `done` and the snapshots are ours from here on

  // Whole snapshots, and their parts: each exchange, and the wait before the third.
  std::vector<double> whole, exchanges[3], wait;
  for (const Snapshot& s : snapshots) {
    if (s.failed || s.sent[0] < t0 || s.judged[2] > t1 || s.judged[2] == Clock::time_point{})
      continue;
    whole.push_back(Ms(s.judged[2] - s.sent[0]));
    for (int i = 0; i < 3; ++i) exchanges[i].push_back(Ms(s.judged[i] - s.sent[i]));
    wait.push_back(Ms(s.sent[2] - s.judged[1]));
  }
  const int wireBytes = plan.registers->sent + plan.registers->replyLength + plan.coils->sent +
                        plan.coils->replyLength + nx480::templates::kFrequencyAgain.sent +
                        nx480::templates::kFrequencyAgain.replyLength;
  const double minimum = wireBytes * 10 * 1000.0 / 115200 + 80;

  const auto failures = std::count_if(failed.begin(), failed.end(),
                                      [&](Clock::time_point t) { return t >= t0 && t <= t1; });
  std::vector<double> periods;
  for (size_t i = 1; i < done.size(); ++i) {
    if (done[i - 1] < t0 || done[i] > t1) continue;
    periods.push_back(std::chrono::duration<double, std::milli>(done[i] - done[i - 1]).count());
  }
  const double wall = std::chrono::duration<double>(t1 - t0).count();
  const double mean =
      periods.empty() ? 0 : std::accumulate(periods.begin(), periods.end(), 0.0) / periods.size();
  std::printf("firmware %s, %d s measured, %zu refreshes, %ld failed, EditU1 \"%s\"\n",
              version.c_str(), seconds, periods.size(), static_cast<long>(failures), shown.c_str());
  std::printf("refresh period: mean %.1f ms, median %.1f ms, p95 %.1f ms, max %.1f ms\n", mean,
              Percentile(periods, 0.5), Percentile(periods, 0.95),
              periods.empty() ? 0.0 : *std::max_element(periods.begin(), periods.end()));
  std::printf("tool CPU: %.2f %% of one core (%.2f s user+system in %.1f s)\n",
              100.0 * (Seconds(after) - Seconds(before)) / wall, Seconds(after) - Seconds(before),
              wall);
  std::printf("tool memory: VmRSS %ld kB, peak VmHWM %ld kB\n", rss, peak);
  std::printf("simulator CPU: %.2f %% of one core\n", 100.0 * (simAfter - simBefore) / wall);
  std::printf(
      "snapshot parts (medians): registers %.3f ms, coils %.3f ms, wait %.3f ms, "
      "frequency %.3f ms\n",
      Percentile(exchanges[0], 0.5), Percentile(exchanges[1], 0.5), Percentile(wait, 0.5),
      Percentile(exchanges[2], 0.5));
  const double snapshot = Percentile(whole, 0.5);
  std::printf(
      "live_snapshot_over_min_ms: %.2f  (goal <= 2; median %.2f ms of %zu snapshots, p95 "
      "%.2f ms; minimum %.2f ms: %d bytes at 115200 baud + 80 ms)\n",
      snapshot - minimum, snapshot, whole.size(), Percentile(whole, 0.95), minimum, wireBytes);
  std::printf("cpu_live: %.2f  (goal < 3 %% of one core; %.2f s user+system in %.1f s)\n",
              100.0 * (Seconds(after) - Seconds(before)) / wall, Seconds(after) - Seconds(before),
              wall);
  std::printf("rss_live_mb: %.1f  (goal < 80; VmRSS after %d s of refreshes, peak %.1f MB)\n",
              rss / 1024.0, seconds, peak / 1024.0);
  return whole.empty() ? 1 : 0;
}
