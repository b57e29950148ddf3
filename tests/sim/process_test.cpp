// The nx480-sim program as tests and demos run it: first line on stdout is
// the port, commands on stdin, clean exit on SIGTERM and SIGINT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pty.h"
#include "test_util.h"

extern char** environ;

namespace nx480::sim {
namespace {

using namespace std::chrono_literals;
using Port = RawLine;
using Clock = std::chrono::steady_clock;

class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return;
    if (::pipe2(out, O_CLOEXEC) != 0) {
      ::close(in[0]);
      ::close(in[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> argv_text = {NX480_SIM_PATH};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, NX480_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }

  ~SimProcess() {
    CloseStdin();
    if (stdout_ >= 0) ::close(stdout_);
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }

  bool Started() const { return pid_ > 0; }

  // The next line on its stdout, or nullopt after `timeout` or at EOF.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = 10000ms) {
    const auto until = Clock::now() + timeout;
    while (true) {
      if (const auto eol = buffer_.find('\n'); eol != std::string::npos) {
        std::string line = buffer_.substr(0, eol);
        buffer_.erase(0, eol + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) return std::nullopt;
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(stdout_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      buffer_.append(buf, static_cast<std::size_t>(n));
    }
  }

  bool Send(const std::string& line) {
    const std::string text = line + "\n";
    return ::write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  void CloseStdin() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }

  void Signal(int sig) { ::kill(pid_, sig); }

  // The wait status once it has ended within `timeout`.
  std::optional<int> Wait(std::chrono::milliseconds timeout = 20000ms) {
    const auto until = Clock::now() + timeout;
    while (!status_ && Clock::now() < until) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        status_ = status;
      } else {
        std::this_thread::sleep_for(10ms);
      }
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string buffer_;
  std::optional<int> status_;
};

bool ExitedWith(const std::optional<int>& status, int code) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

TEST(SimProcess, ServesCommandsAndExitsCleanlyOnSigterm) {
  const std::string link = testing::TempDir() + "nx480sim_proc_" + std::to_string(::getpid());
  SimProcess sim({"--temperature", "--ident-length", "29", "--serial", "70000", "--link", link,
                  "--fault", "silence:3:1"});
  ASSERT_TRUE(sim.Started());
  const auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  EXPECT_EQ(path->rfind("/dev/pts/", 0), 0U) << *path;

  {
    Port port(link);
    ASSERT_TRUE(port.Ok());
    EXPECT_EQ(
        port.Ask("01 11 C0 2C", 29),
        "01 11 18 4E 58 34 38 30 20 54 00 00 00 00 00 00 00 00 00 31 2E 31 34 2E 64 00 00 2E 2B");
    // The fault from the command line silences the first register read.
    EXPECT_EQ(port.Ask("01 03 00 1D 00 02 54 0D", 9, 300ms), "");
    // 70000 = 0x00011170
    EXPECT_EQ(port.Ask("01 03 00 1D 00 02 54 0D", 9), "01 03 04 11 70 00 01 3F 14");

    ASSERT_TRUE(sim.Send("set holding 0x1D 99"));
    EXPECT_EQ(sim.ReadLine(), "ok");
    ASSERT_TRUE(sim.Send("get holding 29"));
    EXPECT_EQ(sim.ReadLine(), "99");
    ASSERT_TRUE(sim.Send("set holding 0x80 1"));
    EXPECT_EQ(sim.ReadLine(), "error: undefined address");
    ASSERT_TRUE(sim.Send("fault exception 3 1 0 2"));
    EXPECT_EQ(sim.ReadLine(), "ok");
    ASSERT_TRUE(sim.Send("fault nonsense"));
    EXPECT_EQ(sim.ReadLine()->rfind("error:", 0), 0U);
    EXPECT_EQ(port.Ask("01 03 00 1D 00 02 54 0D", 5), "01 83 02 C0 F1");
    EXPECT_EQ(port.Ask("01 03 00 1D 00 02 54 0D", 9), "01 03 04 00 63 00 01 CB ED");
  }

  // End of stdin does not end the simulator.
  sim.CloseStdin();
  std::this_thread::sleep_for(100ms);  // time to end, had it ended by mistake
  {
    Port port(link);
    ASSERT_TRUE(port.Ok());
    EXPECT_EQ(port.Ask("01 11 C0 2C", 29).substr(0, 8), "01 11 18");
  }

  sim.Signal(SIGTERM);
  EXPECT_TRUE(ExitedWith(sim.Wait(), 0));
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0) << "symlink left behind";
}

TEST(SimProcess, OtherWaysToEndAndBadArguments) {
  {
    SimProcess sim({});
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(sim.ReadLine());
    sim.Signal(SIGINT);
    EXPECT_TRUE(ExitedWith(sim.Wait(), 0));
  }
  {
    // The times to store and to clear as given: none (the clearing answered well within its
    // default of 1.3 s), and longer than the defaults (140 ms, 1.3 s; answered no sooner).
    const struct {
      const char* store;
      const char* clear;
    } cases[] = {{"0", "0"}, {"600", "2000"}};
    for (const auto& c : cases) {
      SimProcess sim({"--baud", "9600", "--answer-delay", "0.5", "--store-time", c.store,
                      "--clear-time", c.clear});
      ASSERT_TRUE(sim.Started());
      const auto path = sim.ReadLine();
      ASSERT_TRUE(path);
      Port port(*path);
      ASSERT_TRUE(port.Ok());
      auto t0 = Clock::now();
      EXPECT_EQ(port.Ask("01 10 00 1D 00 01 02 00 07 E4 1F", 8), "01 10 00 1D 00 01 91 CF");
      const auto stored = Clock::now() - t0;
      t0 = Clock::now();
      EXPECT_EQ(port.Ask("01 10 80 01 00 01 02 0D 8F 63 7D", 8), "01 10 80 01 00 01 79 C9");
      const auto cleared = Clock::now() - t0;
      if (std::string(c.store) == "0") {
        EXPECT_LT(cleared, 1000ms);
      } else {
        EXPECT_GE(stored, 600ms);
        EXPECT_GE(cleared, 2000ms);
      }
      ASSERT_TRUE(sim.Send("quit"));
      EXPECT_TRUE(ExitedWith(sim.Wait(), 0));
    }
  }
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--ident-length", "31"},
                                               {"--bogus"},
                                               {"--fault", "nonsense"},
                                               {"--serial"},
                                               {"--baud", "fast"},
                                               {"--answer-delay", "-1"},
                                               {"--clock", "2026-13-01T00:00"},
                                               {"--history-size", "0"},
                                               {"--history-fill", "-1"},
                                               {"--upload-lose", "0"},
                                               {"--restart-time", "60001"},
                                               {"--store-time", "-1"},
                                               {"--clear-time", "60001"},
                                               {"--clamp", "0.lo:0:256"}}) {
    SimProcess sim(args);
    ASSERT_TRUE(sim.Started());
    EXPECT_FALSE(sim.ReadLine(5000ms)) << args[0];  // no port announced
    EXPECT_TRUE(ExitedWith(sim.Wait(), 2)) << args[0];
  }
}

TEST(SimProcess, LiveValuesFromOptionsAndCommands) {
  SimProcess sim({"--version", "1.04", "--steady", "--trip", "U>:30:5", "--stage", "pickup:f<"});
  ASSERT_TRUE(sim.Started());
  const auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  Port port(*path);
  ASSERT_TRUE(port.Ok());
  // V 4: five registers; the countdown in tenths (30 s -> at most 300).
  const std::string regs = port.Ask("01 04 00 00 00 05 30 09", 15);
  ASSERT_EQ(regs.size(), 15u * 3 - 1) << regs;
  EXPECT_EQ(regs.substr(0, 33), "01 04 0A 00 E6 00 E6 00 E7 13 88 ");
  const int countdown = std::stoi(regs.substr(33, 2) + regs.substr(36, 2), nullptr, 16);
  EXPECT_GT(countdown, 250);
  EXPECT_LE(countdown, 300);
  // "U>" of this firmware trips on coil 10; f< is picked up on coil 4.
  EXPECT_EQ(port.Ask("01 01 00 00 00 10 3D C6", 7).substr(0, 15), "01 01 02 10 04 ");

  ASSERT_TRUE(sim.Send("release all"));
  EXPECT_EQ(sim.ReadLine(), "ok");
  EXPECT_EQ(port.Ask("01 01 00 00 00 10 3D C6", 7).substr(0, 15), "01 01 02 00 00 ");
  ASSERT_TRUE(sim.Send("trip U<< 2"));
  EXPECT_EQ(sim.ReadLine(), "ok");
  ASSERT_TRUE(sim.Send("voltage U2 240,5"));
  EXPECT_EQ(sim.ReadLine(), "ok");
  ASSERT_TRUE(sim.Send("live"));
  const auto live = sim.ReadLine();
  ASSERT_TRUE(live);
  EXPECT_EQ(live->rfind("V=4 U=230.4/240.5/231.1 f=50.00 coils=0x000200 countdown=", 0), 0u)
      << *live;
  EXPECT_EQ(port.Ask("01 04 00 01 00 01 60 0A", 7).substr(0, 15), "01 04 02 00 F1 ");
  for (const char* bad :
       {"trip bogus", "trip U< 0", "pickup U>>>", "voltage U4 230", "frequency fast", "release"}) {
    ASSERT_TRUE(sim.Send(bad));
    const auto answer = sim.ReadLine();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->rfind("error:", 0), 0u) << bad << ": " << *answer;
  }
  ASSERT_TRUE(sim.Send("quit"));
  EXPECT_TRUE(ExitedWith(sim.Wait(), 0));

  {
    SimProcess off({"--no-live"});
    ASSERT_TRUE(off.Started());
    ASSERT_TRUE(off.ReadLine());
    ASSERT_TRUE(off.Send("pickup U<"));
    EXPECT_EQ(off.ReadLine(), "error: live values are off (--no-live)");
    ASSERT_TRUE(off.Send("quit"));
    EXPECT_TRUE(ExitedWith(off.Wait(), 0));
  }
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--trip", "nonsense"},
                                               {"--trip", "U<:-1"},
                                               {"--trip", "U<:1:1:1:1"},
                                               {"--stage", "bogus:U<"},
                                               {"--stage", "pickup:f<<<"},
                                               {"--progress", "600"},
                                               {"--no-live", "--trip", "U<"}}) {
    SimProcess bad(args);
    ASSERT_TRUE(bad.Started());
    EXPECT_FALSE(bad.ReadLine(5000ms)) << args[1];
    EXPECT_TRUE(ExitedWith(bad.Wait(), 2)) << args[1];
  }
}

TEST(SimProcess, ClockRelayModeAndHistoryFromTheCommandLineAndStdin) {
  SimProcess sim({"--clock", "2026-12-09T10:20:30.45", "--clock-stopped", "--history-size", "1",
                  "--history-fill", "40"});
  ASSERT_TRUE(sim.Started());
  const auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  Port port(*path);
  ASSERT_TRUE(port.Ok());
  EXPECT_EQ(port.Ask("01 03 00 40 00 04 45 DD", 13), "01 03 08 1E 2D 0A 14 0C 09 07 EA 88 11");
  ASSERT_TRUE(sim.Send("clock"));
  EXPECT_EQ(sim.ReadLine(), "2026-12-09T10:20:30.45 stopped");
  ASSERT_TRUE(sim.Send("clock 2030-01-02T03:04:05"));
  EXPECT_EQ(sim.ReadLine(), "ok");
  ASSERT_TRUE(sim.Send("clock"));
  const auto running = sim.ReadLine();
  ASSERT_TRUE(running);
  EXPECT_EQ(running->substr(0, 17), "2030-01-02T03:04:") << *running;
  EXPECT_EQ(running->find("stopped"), std::string::npos) << *running;
  ASSERT_TRUE(sim.Send("relay"));
  EXPECT_EQ(sim.ReadLine(), "auto commands=0");
  EXPECT_EQ(port.Ask("01 0F 00 00 00 02 01 02 5F 56", 8), "01 0F 00 00 00 02 D4 0A");
  ASSERT_TRUE(sim.Send("relay"));
  EXPECT_EQ(sim.ReadLine(), "off commands=1");
  // 40 events in 31 slots: the pointer has wrapped to 9.
  EXPECT_EQ(port.Ask("01 03 00 44 00 02 84 1E", 9).substr(0, 20), "01 03 04 00 09 00 01");
  for (const auto& [command, answer] :
       {std::pair{"history", "size=1 slots=31 next=9 events=31 clears=0"},
        std::pair{"history clear", "ok"},
        std::pair{"history", "size=1 slots=31 next=0 events=0 clears=0"},
        std::pair{"history 2 5", "ok"},
        std::pair{"history", "size=2 slots=95 next=5 events=5 clears=0"}}) {
    ASSERT_TRUE(sim.Send(command));
    EXPECT_EQ(sim.ReadLine(), answer) << command;
  }
  for (const char* bad : {"clock 2030-02-30T00:00", "clock 2030-01-02T03:04 later", "clock x",
                          "history 33 1", "history 1", "history 1 70000"}) {
    ASSERT_TRUE(sim.Send(bad));
    const auto answer = sim.ReadLine();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->rfind("error:", 0), 0u) << bad << ": " << *answer;
  }
  ASSERT_TRUE(sim.Send("quit"));
  EXPECT_TRUE(ExitedWith(sim.Wait(), 0));
}

TEST(SimProcess, FirmwareUploadOptionsAndCommands) {
  SimProcess sim({"--restart-time", "300", "--upload-busy", "--upload-lose", "2",
                  "--reset-on-upload", "--clamp", "8:180:190"});
  ASSERT_TRUE(sim.Started());
  const auto path = sim.ReadLine();
  ASSERT_TRUE(path);
  Port port(*path);
  ASSERT_TRUE(port.Ok());
  // Uu1 written 200, acknowledged as such, kept clamped to 190; the new firmware brings 196.
  const std::string uu1 = test::Hex(test::ReadRequest(3, 8, 1));
  EXPECT_EQ(port.Ask(test::Hex(test::WriteRequest(8, {200})), 8).substr(0, 17),
            "01 10 00 08 00 01");
  EXPECT_EQ(port.Ask(uu1, 7), test::Hex(test::ReadReply({190})));
  ASSERT_TRUE(sim.Send("upload"));
  EXPECT_EQ(sim.ReadLine(),
            "mode=normal frames=0 name=NX480 version=1.14.d lose=2 refuse=0 busy=1");
  ASSERT_TRUE(sim.Send("upload refuse 50"));  // armed, never reached
  EXPECT_EQ(sim.ReadLine(), "ok");

  EXPECT_EQ(port.Ask("01 10 80 00 00 01 02 00 01 E6 58", 8), "01 10 80 00 00 01 28 09");
  const auto frames = test::BlockFrames(0x2000, "NX480", "1.15");
  for (std::size_t k = 0; k < frames.size(); ++k) {
    const std::string ack = test::Hex(frames[k]).substr(0, 17);
    if (k == 1) {
      EXPECT_EQ(port.Ask(test::Hex(frames[k]), 8, 200ms), "");  // lost reply
    }
    EXPECT_EQ(port.Ask(test::Hex(frames[k]), 8).substr(0, 17), ack) << k;
  }
  EXPECT_EQ(port.Ask("01 03 80 00 00 01 AD CA", 7), "01 03 02 00 01 79 84");  // busy once
  EXPECT_EQ(port.Ask("01 03 80 00 00 01 AD CA", 7), "01 03 02 00 00 B8 44");

  // Run: no reply, then silence for about 300 ms, then the new version.
  const auto run = Clock::now();
  EXPECT_EQ(port.Ask("01 10 80 00 00 01 02 00 02 A6 59", 8, 100ms), "");
  std::string ident;
  // Asked again after a second without a reply: a reply comes within its own try, not into the
  // next one's.
  while (ident.empty() && Clock::now() - run < 20s) ident = port.Ask("01 11 C0 2C", 30, 1000ms);
  EXPECT_GE(Clock::now() - run, 250ms);
  // A reply that began late within a try comes whole.
  if (const std::size_t got = (ident.size() + 1) / 3; got > 0 && got < 30)
    ident += " " + test::Hex(port.Read(30 - got, 10000ms));
  EXPECT_EQ(ident.substr(ident.size() < 69 ? 0 : 57, 12), "31 2E 31 35 ") << ident;  // "1.15"
  EXPECT_EQ(port.Ask(uu1, 7), test::Hex(test::ReadReply({196})));
  ASSERT_TRUE(sim.Send("upload"));
  EXPECT_EQ(sim.ReadLine(), "mode=normal frames=9 name=NX480 version=1.15 lose=0 refuse=50 busy=0");
  ASSERT_TRUE(sim.Send("counters"));
  const auto counters = sim.ReadLine();
  ASSERT_TRUE(counters);
  EXPECT_NE(counters->find(" ignored="), std::string::npos) << *counters;
  EXPECT_EQ(counters->find(" ignored=0 "), std::string::npos) << *counters;  // asked while quiet
  for (const char* bad : {"upload lose 0", "upload refuse", "upload later"}) {
    ASSERT_TRUE(sim.Send(bad));
    const auto answer = sim.ReadLine();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->rfind("error:", 0), 0u) << bad << ": " << *answer;
  }
  ASSERT_TRUE(sim.Send("quit"));
  EXPECT_TRUE(ExitedWith(sim.Wait(), 0));
}

}  // namespace
}  // namespace nx480::sim
