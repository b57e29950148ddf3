// nx480ctl as a child process for tests: its arguments, its standard output and error, a signal
// while it runs, its exit status and the processor time it used. NX480CTL_PATH names the program.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

extern char** environ;

struct CtlResult {
  int code = -1;   // the exit status; -1 when it did not end by itself in time, or by a signal
  int signal = 0;  // the signal that ended it
  std::chrono::microseconds cpu{0};  // user and system time, once it has ended
  std::string out;
  std::string err;
};

class CtlProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts nx480ctl with `args`; `env` sets variables over the test's own environment.
  // Standard input is /dev/null; standard output is read by the test, or is `stdoutFd` when
  // one is given (the test keeps and closes its own copy). Standard error is a pipe, or with
  // `terminalErr` a terminal (a raw pseudo-terminal), read by the test the same way.
  explicit CtlProcess(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env = {}, int stdoutFd = -1,
                      bool terminalErr = false) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 ||
        !(terminalErr ? Terminal(err) : ::pipe2(err, O_CLOEXEC) == 0))
      return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd >= 0 ? stdoutFd : out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> argText{NX480CTL_PATH};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argText) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (!env.count(entry.substr(0, entry.find('=')))) envText.push_back(entry);
    }
    for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (::posix_spawn(&pid_, NX480CTL_PATH, &actions, nullptr, argv.data(), envp.data()) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (stdoutFd >= 0) ::close(out[0]);
    out_ = stdoutFd >= 0 ? -1 : out[0];
    err_ = err[0];
  }
  ~CtlProcess() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  CtlProcess(const CtlProcess&) = delete;
  CtlProcess& operator=(const CtlProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  void Signal(int sig) { ::kill(pid_, sig); }
  // Its standard output and error become pipes that nobody reads any more.
  void CloseOutput() {
    for (int* fd : {&out_, &err_}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
  }

  // Reads its output until `done(result so far)` holds or `timeout` has passed.
  bool ReadUntil(const std::function<bool(const CtlResult&)>& done,
                 std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (!done(result_)) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0 || (out_ < 0 && err_ < 0)) return false;
      pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
      if (::poll(fds, 2, static_cast<int>(std::min<long>(left, 100))) <= 0) continue;
      Drain(fds[0], out_, result_.out);
      Drain(fds[1], err_, result_.err);
    }
    return true;
  }

  // Reads everything and waits for the end (at most `timeout`).
  CtlResult Finish(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    const auto until = Clock::now() + timeout;
    ReadUntil([this](const CtlResult&) { return out_ < 0 && err_ < 0; }, timeout);
    while (!ended_ && Clock::now() < until) {
      int status = 0;
      rusage usage{};
      if (::wait4(pid_, &status, WNOHANG, &usage) == pid_) {
        ended_ = true;
        result_.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        const auto time = [](const timeval& t) {
          return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
        };
        result_.cpu = time(usage.ru_utime) + time(usage.ru_stime);
      } else {
        ::usleep(5000);
      }
    }
    return result_;
  }

 private:
  // A pseudo-terminal as a pipe: ends[0] the master, read by the test; ends[1] the slave, raw.
  static bool Terminal(int ends[2]) {
    ends[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (ends[0] < 0 || ::grantpt(ends[0]) != 0 || ::unlockpt(ends[0]) != 0 ||
        ::ptsname_r(ends[0], name, sizeof name) != 0)
      return false;
    ends[1] = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (ends[1] < 0 || ::tcgetattr(ends[1], &raw) != 0) return false;
    ::cfmakeraw(&raw);
    return ::tcsetattr(ends[1], TCSANOW, &raw) == 0;
  }

  static void Drain(const pollfd& p, int& fd, std::string& into) {
    if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) return;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
    } else {
      ::close(fd);
      fd = -1;
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool ended_ = false;
  CtlResult result_;
};

// Runs nx480ctl to its end.
inline CtlResult RunCtl(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env = {},
                        std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
  CtlProcess process(args, env);
  return process.Finish(timeout);
}
