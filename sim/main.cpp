// nx480-sim: the simulated relay on a pseudo-terminal, for tests and demos.
// Prints the slave device path as the first line on stdout, then serves
// requests until SIGINT, SIGTERM or the "quit" command on stdin.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command_interpreter.h"
#include "hex_text.h"
#include "pty_relay.h"
#include "relay_live.h"
#include "setting_clamp.h"

namespace {

using nx480::sim::FaultRule;
using nx480::sim::Hex;
using nx480::sim::LiveValues;
using nx480::sim::ParseNumber;
using nx480::sim::ParseStage;
using nx480::sim::ParseTrip;
using nx480::sim::PtyOptions;
using nx480::sim::PtyRelay;
using nx480::sim::RelayConfig;

constexpr const char* kUsage =
    "usage: nx480-sim [options]\n"
    "  --name TEXT           device name (default NX480)\n"
    "  --version TEXT        firmware version text (default 1.14.d)\n"
    "  --temperature         temperature variant (name NX480 T unless --name is given)\n"
    "  --ident-length 29|30  length of the identification reply (default 30)\n"
    "  --serial N            serial number (default 1234)\n"
    "  --clock TIME          start the relay's clock at TIME, YYYY-MM-DDTHH:MM[:SS[.hh]]\n"
    "                        (default: the PC's local time)\n"
    "  --clock-stopped       the clock stands still instead of running\n"
    "  --history-size CODE   event ring of 64 x CODE - 33 slots, CODE 1..32 (default 4)\n"
    "  --history-fill N      events in the ring at start, 0..65535 (default 40; more than\n"
    "                        the slots wrap around)\n"
    "  --restart-time MS     silence after a firmware upload's Run (default 1500)\n"
    "  --reset-on-upload     the new firmware after an upload starts with the factory settings\n"
    "                        of its version (holding 0-23; calibration and serial kept)\n"
    "  --clamp WORD[.lo|.hi]:MIN:MAX\n"
    "                        a write of setting WORD (0..31, calibration 24..31; .lo/.hi its\n"
    "                        low/high byte) is\n"
    "                        acknowledged as sent but kept clamped into MIN..MAX (repeatable)\n"
    "  --store-time MS       a calibration write is answered once stored, MS later\n"
    "                        (default 140)\n"
    "  --clear-time MS       a clear-history command is answered once the ring is erased,\n"
    "                        MS later (default 1300)\n"
    "  --upload-lose N       the reply of the N-th data frame of an upload is lost, once\n"
    "  --upload-refuse N     the N-th and the next data frame are refused, once\n"
    "  --upload-busy         the first Status read of an upload answers busy\n"
    "  --baud N              send replies at the wire time of N baud (default 0: at once)\n"
    "  --answer-delay MS     delay before each reply in ms, fractions allowed (default 0.5)\n"
    "  --link PATH           make PATH a symlink to the slave device while running\n"
    "  --fault KIND[:FUNC[:COUNT[:SKIP[:PARAM]]]]\n"
    "                        inject a fault (repeatable); KIND is silence, badcrc, short,\n"
    "                        extra, late, exception, bad-echo, wrong-address,\n"
    "                        wrong-function, babble or noise; FUNC 0 = any;\n"
    "                        COUNT -1 = forever\n"
    "  --no-live             no live values: input registers and coils stay as set\n"
    "  --steady              live values without noise\n"
    "  --progress N          start N seconds into the 10-minute window (0..599)\n"
    "  --stage pickup:STAGE  start with STAGE picked up (repeatable)\n"
    "  --trip STAGE[:SECONDS[:HOLD[:AFTER]]]\n"
    "                        trip STAGE AFTER seconds from the start (default 0): countdown\n"
    "                        SECONDS (default 10), tripped coil held HOLD seconds (default\n"
    "                        and at most SECONDS); also written --stage trip:...\n"
    "                        STAGE: U< U<< U> U>> U>>> f< f<< f> f>> or Uu1 Uu2 Uo1 Uo2 Uo3\n"
    "                        Fu1 Fu2 Fo1 Fo2 (quote the shell's < and >)\n"
    "  --verbose             log requests and replies on stderr\n"
    "  --help                show this help\n"
    "The slave device path is printed as the first line on stdout.\n"
    "Commands on stdin (one per line):\n"
    "  fault KIND [FUNC [COUNT [SKIP [PARAM]]]]   clear-faults   faults\n"
    "  set holding|input|coil ADDR VALUE          get holding|input|coil ADDR\n"
    "  counters   quit   clock [TIME [stopped] | pc]   relay\n"
    "  history [CODE FILL | clear]   upload [lose N | refuse N | busy]\n"
    "  clamp [WORD[.lo|.hi]:MIN:MAX | clear]\n"
    "  pickup STAGE   release STAGE|all   trip STAGE [SECONDS [HOLD]]\n"
    "  voltage U1|U2|U3|all VOLTS   frequency HZ   temperature CELSIUS   live\n";

// What the command line asks for.
struct SimOptions {
  RelayConfig config;
  PtyOptions pty;
  std::vector<FaultRule> faults;
  nx480::sim::UploadFaults upload_faults;
  bool verbose = false;
  bool with_live = true;
  bool steady = false;
  long long progress = 0;
  std::vector<std::string> stage_options;  // "pickup:STAGE" or "trip:STAGE[:...]"
};

int Usage(const std::string& error) {
  std::cerr << "nx480-sim: " << error << "\n" << kUsage;
  return 2;
}

// Takes commands from stdin, a line at a time, until "quit", or until SIGINT or SIGTERM comes
// through `signal_fd`; after the end of stdin only a signal ends it.
void ServeCommands(PtyRelay& relay, LiveValues* live, int signal_fd) {
  bool stdin_open = true;
  std::string pending;
  bool running = true;
  while (running) {
    pollfd fds[2] = {{signal_fd, POLLIN, 0},
                     {STDIN_FILENO, static_cast<short>(stdin_open ? POLLIN : 0), 0}};
    const int ready = ::poll(fds, stdin_open ? 2 : 1, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::perror("nx480-sim: poll");
      break;
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(signal_fd, &info, sizeof info) > 0) break;
    }
    if (stdin_open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
      char buf[1024];
      const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
      if (n <= 0) {
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        stdin_open = false;  // EOF: keep serving until a signal arrives
        continue;
      }
      pending.append(buf, static_cast<std::size_t>(n));
      for (std::size_t eol; running && (eol = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        running = nx480::sim::RunCommand(relay, live, line, std::cout);
      }
      if (pending.size() > 4096) pending.clear();  // no line that long is meaningful
    }
  }
}

// Reads the command line into `o`: nullopt to run, else the exit code (the help shown: 0, a bad
// argument named with the usage: 2).
std::optional<int> ParseArguments(const std::vector<std::string>& args, SimOptions& o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    long long n = 0;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--temperature") {
      o.config.temperature = true;
    } else if (arg == "--verbose" || arg == "-v") {
      o.verbose = true;
    } else if (arg == "--no-live") {
      o.with_live = false;
    } else if (arg == "--steady") {
      o.steady = true;
    } else if (arg == "--progress") {
      if (!value(v) || !ParseNumber(v, 0, 599, o.progress))
        return Usage("--progress must be 0..599");
    } else if (arg == "--stage" || arg == "--trip") {
      if (!value(v) || v.empty()) return Usage(arg + " needs a stage");
      o.stage_options.push_back(arg == "--trip" ? "trip:" + v : v);
    } else if (arg == "--name") {
      if (!value(v) || v.empty()) return Usage("--name needs a text");
      o.config.name = v;
    } else if (arg == "--version") {
      if (!value(v)) return Usage("--version needs a text");
      o.config.version = v;
    } else if (arg == "--ident-length") {
      if (!value(v) || !ParseNumber(v, 29, 30, n)) return Usage("--ident-length must be 29 or 30");
      o.config.ident_length = static_cast<int>(n);
    } else if (arg == "--serial") {
      if (!value(v) || !ParseNumber(v, 0, 0xFFFFFFFFLL, n))
        return Usage("--serial must be 0..4294967295");
      o.config.serial = static_cast<std::uint32_t>(n);
    } else if (arg == "--clock") {
      if (!value(v) || !(o.config.clock = nx480::sim::ParseDateTime(v)))
        return Usage("--clock takes YYYY-MM-DDTHH:MM[:SS[.hh]] in 2000-2099");
    } else if (arg == "--clock-stopped") {
      o.config.clock_running = false;
    } else if (arg == "--history-size") {
      if (!value(v) || !ParseNumber(v, 1, 32, n)) return Usage("--history-size must be 1..32");
      o.config.history_size_code = static_cast<int>(n);
    } else if (arg == "--history-fill") {
      if (!value(v) || !ParseNumber(v, 0, 0xFFFF, n))
        return Usage("--history-fill must be 0..65535");
      o.config.history_fill = static_cast<int>(n);
    } else if (arg == "--restart-time") {
      if (!value(v) || !ParseNumber(v, 0, 60'000, n))
        return Usage("--restart-time must be 0..60000 ms");
      o.config.restart_time = std::chrono::milliseconds(n);
    } else if (arg == "--reset-on-upload") {
      o.config.reset_on_upload = true;
    } else if (arg == "--clamp") {
      std::string error;
      if (!value(v)) return Usage("--clamp needs WORD[.lo|.hi]:MIN:MAX");
      const auto clamp = nx480::sim::ParseSettingClamp(v, &error);
      if (!clamp) return Usage("--clamp " + v + ": " + error);
      o.config.clamps.push_back(*clamp);
    } else if (arg == "--store-time" || arg == "--clear-time") {
      if (!value(v) || !ParseNumber(v, 0, 60'000, n)) return Usage(arg + " must be 0..60000 ms");
      (arg == "--store-time" ? o.config.calibration_store_time : o.config.history_clear_time) =
          std::chrono::milliseconds(n);
    } else if (arg == "--upload-lose" || arg == "--upload-refuse") {
      if (!value(v) || !ParseNumber(v, 1, 1'000'000, n)) return Usage(arg + " must be 1..1000000");
      (arg == "--upload-lose" ? o.upload_faults.lose_reply_at : o.upload_faults.refuse_at) =
          static_cast<int>(n);
    } else if (arg == "--upload-busy") {
      o.upload_faults.busy_once = true;
    } else if (arg == "--baud") {
      if (!value(v) || !ParseNumber(v, 0, 10'000'000, n))
        return Usage("--baud must be 0..10000000");
      o.pty.baud = static_cast<unsigned>(n);
    } else if (arg == "--answer-delay") {
      double ms = -1;
      if (value(v)) {
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), ms);
        if (ec != std::errc() || end != v.data() + v.size()) ms = -1;
      }
      if (!(ms >= 0 && ms <= 60'000)) return Usage("--answer-delay must be 0..60000 ms");
      o.pty.answer_delay = std::chrono::microseconds(static_cast<long long>(ms * 1000.0));
    } else if (arg == "--link") {
      if (!value(v) || v.empty()) return Usage("--link needs a path");
      o.pty.link_path = v;
    } else if (arg == "--fault") {
      std::string error;
      if (!value(v)) return Usage("--fault needs KIND[:FUNC[:COUNT[:SKIP[:PARAM]]]]");
      const auto rule = nx480::sim::ParseFaultRule(v, &error);
      if (!rule) return Usage("--fault " + v + ": " + error);
      o.faults.push_back(*rule);
    } else {
      return Usage("unknown argument '" + arg + "'");
    }
  }
  return std::nullopt;
}

// The stages of --stage and --trip: the trips into the configuration (the live values make them
// at their time); the stages picked up are checked once the firmware is known (Run).
std::optional<int> ParseStages(SimOptions& o) {
  for (const std::string& option : o.stage_options) {
    std::vector<std::string> parts;
    for (std::size_t from = 0;;) {
      const std::size_t colon = option.find(':', from);
      parts.push_back(option.substr(from, colon - from));
      if (colon == std::string::npos) break;
      from = colon + 1;
    }
    if (parts.size() >= 2 && parts[0] == "trip") {
      std::string error;
      nx480::sim::PlannedTrip trip;
      if (!ParseStage(parts[1], nx480::sim::FirmwareMinorOfVersion(o.config.version)))
        error = "unknown stage '" + parts[1] + "'";
      if (!error.empty() || !ParseTrip(parts[1], {parts.begin() + 2, parts.end()}, trip, error))
        return Usage("--trip " + option.substr(5) + ": " + error);
      o.config.trips.push_back(trip);
    } else if (parts.size() != 2 || parts[0] != "pickup") {
      return Usage("--stage takes pickup:STAGE or trip:STAGE[:SECONDS[:HOLD[:AFTER]]]");
    }
  }
  if (!o.with_live && !o.stage_options.empty()) return Usage("--stage and --trip need live values");
  return std::nullopt;
}

// Serves the relay on a pseudo-terminal until a signal or "quit"; the exit code.
int Run(SimOptions& o) {
  std::shared_ptr<LiveValues> live;
  if (o.with_live) {
    nx480::sim::LiveConfig live_config = nx480::sim::LiveConfigFor(o.config);
    live_config.noise = !o.steady;
    live_config.progress_start = static_cast<int>(o.progress);
    live = std::make_shared<LiveValues>(live_config);
  }
  for (const std::string& option : o.stage_options) {
    if (option.rfind("pickup:", 0) != 0) continue;
    const auto coils = ParseStage(option.substr(7), live->Config().firmware_minor);
    if (!coils) return Usage("unknown stage '" + option.substr(7) + "'");
    live->PickUp(*coils);
  }

  if (o.verbose) {
    o.pty.trace = [](bool incoming, std::span<const std::uint8_t> bytes) {
      std::fprintf(stderr, "%s %s\n", incoming ? "<-" : "->", Hex(bytes).c_str());
    };
  }

  // Signals are taken through a signalfd; block them before any thread starts
  // so that the service thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return 1;
  const int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC);
  if (signal_fd < 0) {
    std::perror("nx480-sim: signalfd");
    return 1;
  }
  ::signal(SIGPIPE, SIG_IGN);  // a reader of stdout that went away must not kill us

  PtyRelay relay(o.config, o.pty);
  for (const auto& rule : o.faults) relay.AddFault(rule);
  relay.WithModel([&o](auto& model) { model.Upload().Faults() = o.upload_faults; });
  if (live) relay.WithModel([&live](auto& model) { nx480::sim::AttachLiveValues(model, live); });
  try {
    relay.Start();
  } catch (const std::exception& e) {
    std::cerr << "nx480-sim: " << e.what() << "\n";
    ::close(signal_fd);
    return 1;
  }
  std::cout << relay.SlavePath() << std::endl;

  ServeCommands(relay, live.get(), signal_fd);

  relay.Stop();
  ::close(signal_fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  if (const std::optional<int> exit = ParseArguments({argv + 1, argv + argc}, options))
    return *exit;
  if (const std::optional<int> exit = ParseStages(options)) return *exit;
  return Run(options);
}
