// tool_bench: the tool as a process. Start-up time to the main window, and what the tool costs
// while it sits disconnected.
//
//   tool_bench [--starts N] [--seconds N] [--tool PATH]
//
// Start-up: this program starts itself N times in its child mode, which does what the tool's
// main() does (the application object, the four windows, the main window shown) and reports
// the main window's first expose. Timed from just before the spawn to that expose, on the
// monotonic clock that both processes share; the median. The first paint is shown beside it.
// Idle: starts the tool itself (nx480-pc), lets it settle for 2 s, then takes its CPU time (all
// threads, /proc/<pid>/task/*/schedstat) over N seconds (10 by default); its resident memory at
// the end.
//
// Measured on the offscreen platform, and also on the X server of DISPLAY when one is set
// (bench/run starts an Xvfb): the figures are those of X when there is one. Exits 0 when it
// could measure.
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "form_history.h"
#include "form_main.h"
#include "form_online.h"
#include "form_setup.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double MsSince(long long startNs) {
  const auto now =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
  return (now - startNs) / 1e6;
}

// ---- Child: the tool's start, timed ----

// Notes the main window's first expose and first paint, then ends the event loop.
class FirstShow : public QObject {
 public:
  FirstShow(QWidget& window, long long startNs) : window_(window), startNs_(startNs) {}
  double exposeMs = -1, paintMs = -1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Expose && exposeMs < 0 && watched == window_.windowHandle() &&
        window_.windowHandle()->isExposed())
      exposeMs = MsSince(startNs_);
    if (event->type() == QEvent::Paint && paintMs < 0 && watched == &window_) {
      paintMs = MsSince(startNs_);
      QTimer::singleShot(0, qApp, &QApplication::quit);
    }
    return false;
  }

 private:
  QWidget& window_;
  long long startNs_;
};

int Child(int argc, char* argv[], long long startNs) {
  QApplication app(argc, argv);
  app.setApplicationName("nx480-pc");
  app.setQuitOnLastWindowClosed(false);
  TFormMain formMain({});
  TFormOnLine formOnLine;
  TFormSetup formSetup(formMain.Session().serviceMode);
  TFormHistory formHistory;
  formMain.AttachWindows(&formOnLine, &formSetup, &formHistory);
  FirstShow watch(formMain, startNs);
  app.installEventFilter(&watch);
  formMain.show();
  QTimer::singleShot(10s, &app, &QApplication::quit);  // never shown: give up
  app.exec();
  formMain.FormClose();
  std::printf("%.3f %.3f\n", watch.exposeMs, watch.paintMs);
  return watch.exposeMs >= 0 ? 0 : 1;
}

// ---- Parent ----

struct Process {
  pid_t pid = -1;
  int out = -1;  // its standard output, when captured

  bool Start(const std::vector<std::string>& args, const std::string& platform, bool capture) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0) env.emplace_back(*e);
    }
    env.push_back("QT_QPA_PLATFORM=" + platform);
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (capture) {
      if (pipe(pipeFds) != 0) return false;
      posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
      posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    }
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (capture) {
      close(pipeFds[1]);
      out = pipeFds[0];
    }
    return rc == 0;
  }
  std::string Output() {
    std::string text;
    char buf[256];
    for (ssize_t n; out >= 0 && (n = read(out, buf, sizeof buf)) > 0;) text.append(buf, n);
    return text;
  }
  int Wait() {
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    pid = -1;
    if (out >= 0) close(out);
    out = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~Process() {
    if (pid > 0) kill(pid, SIGTERM);
    Wait();
  }
};

// CPU seconds of a process, all its threads: the run time that /proc/<pid>/task/*/schedstat
// gives in nanoseconds (/proc/<pid>/stat counts in 10 ms ticks, too coarse for an idle tool).
double CpuSeconds(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return -1;
  double seconds = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
    double ns = 0;
    if (in >> ns) seconds += ns / 1e9;
  }
  closedir(dir);
  return seconds;
}

long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

struct Startup {
  double exposeMs = -1, paintMs = -1;  // medians
  int failed = 0;
};

Startup MeasureStartup(const std::string& self, const std::string& platform, int starts) {
  std::vector<double> expose, paint;
  Startup result;
  for (int i = 0; i < starts; ++i) {
    const long long t0 =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    Process child;
    if (!child.Start({self, "--child", std::to_string(t0)}, platform, true)) {
      ++result.failed;
      continue;
    }
    std::istringstream line(child.Output());
    double e = -1, p = -1;
    line >> e >> p;
    if (child.Wait() != 0 || e < 0) {
      ++result.failed;
      continue;
    }
    expose.push_back(e);
    paint.push_back(p);
  }
  auto median = [](std::vector<double> v) {
    if (v.empty()) return -1.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  result.exposeMs = median(expose);
  result.paintMs = median(paint);
  return result;
}

struct Idle {
  double cpuPercent = -1;
  long rssKb = -1;
};

Idle MeasureIdle(const std::string& tool, const std::string& platform, int seconds) {
  Process process;
  Idle idle;
  if (!process.Start({tool}, platform, false)) return idle;
  std::this_thread::sleep_for(2s);  // started and shown
  const double before = CpuSeconds(process.pid);
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double after = CpuSeconds(process.pid);
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  idle.rssKb = RssKb(process.pid);
  if (before >= 0 && after >= 0) idle.cpuPercent = 100 * (after - before) / wall;
  return idle;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 3 && std::string(argv[1]) == "--child") return Child(argc, argv, std::atoll(argv[2]));

  int starts = 11;
  int seconds = 10;
  std::string tool = NX480_TOOL_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--starts") starts = std::max(1, std::atoi(argv[i + 1]));
    if (arg == "--seconds") seconds = std::max(1, std::atoi(argv[i + 1]));
    if (arg == "--tool") tool = argv[i + 1];
  }
  const std::string self = "/proc/self/exe";
  char selfPath[4096];
  const ssize_t n = readlink(self.c_str(), selfPath, sizeof selfPath - 1);
  if (n <= 0) return 1;
  selfPath[n] = '\0';

  std::vector<std::string> platforms = {"offscreen"};
  if (!qEnvironmentVariableIsEmpty("DISPLAY")) platforms.push_back("xcb");
  std::vector<Startup> startup;
  std::vector<Idle> idle;
  for (const std::string& platform : platforms) {
    startup.push_back(MeasureStartup(selfPath, platform, starts));
    idle.push_back(MeasureIdle(tool, platform, seconds));
    std::printf(
        "%s: start-up to the first expose %.1f ms, to the first paint %.1f ms (median of "
        "%d, %d failed); idle disconnected: CPU %.2f %% of one core over %d s, VmRSS "
        "%ld kB\n",
        platform.c_str(), startup.back().exposeMs, startup.back().paintMs, starts,
        startup.back().failed, idle.back().cpuPercent, seconds, idle.back().rssKb);
  }
  // The figures: on X when there is one, the offscreen ones beside them.
  const size_t shown = platforms.size() - 1;
  const std::string where = platforms[shown] == "xcb" ? "Xvfb" : "offscreen";
  std::printf(
      "startup_ms: %.0f  (goal: none set; process start to the main window's first expose, "
      "%s, median of %d; offscreen %.0f ms)\n",
      startup[shown].exposeMs, where.c_str(), starts, startup[0].exposeMs);
  std::printf(
      "cpu_idle_disconnected: %.2f  (goal < 1 %% of one core; nx480-pc, %s, %d s; "
      "offscreen %.2f %%; VmRSS %.1f MB)\n",
      idle[shown].cpuPercent, where.c_str(), seconds, idle[0].cpuPercent,
      idle[shown].rssKb / 1024.0);
  bool measured = true;
  for (size_t i = 0; i < platforms.size(); ++i)
    measured = measured && startup[i].exposeMs >= 0 && idle[i].cpuPercent >= 0;
  return measured ? 0 : 1;
}
