// nx480-sim: the simulated relay on a pseudo-terminal, for tests and demos.
// Prints the slave device path as the first line on stdout, then serves
// requests until SIGINT, SIGTERM or the "quit" command on stdin.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "pty_relay.h"
#include "relay_live.h"

namespace {

using nx480::sim::FaultRule;
using nx480::sim::LiveValues;
using nx480::sim::PtyOptions;
using nx480::sim::PtyRelay;
using nx480::sim::RelayConfig;
using nx480::sim::Table;

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
    "  --trip STAGE[:SECONDS[:HOLD]]\n"
    "                        trip STAGE at start: countdown SECONDS (default 10), tripped coil\n"
    "                        held HOLD seconds (default and at most SECONDS); also written\n"
    "                        --stage trip:STAGE[:SECONDS[:HOLD]]\n"
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
    "  pickup STAGE   release STAGE|all   trip STAGE [SECONDS [HOLD]]\n"
    "  voltage U1|U2|U3|all VOLTS   frequency HZ   temperature CELSIUS   live\n";

bool ParseNumber(std::string_view text, long long min, long long max, long long& out) {
  long long value = 0;
  if (!nx480::sim::ParseInt(text, value) || value < min || value > max) return false;
  out = value;
  return true;
}

bool ParseTable(std::string_view text, Table& table) {
  if (text == "holding" || text == "h")
    table = Table::kHolding;
  else if (text == "input" || text == "inputs" || text == "i")
    table = Table::kInputs;
  else if (text == "coil" || text == "coils" || text == "c")
    table = Table::kCoils;
  else
    return false;
  return true;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  char buf[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    out += buf;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

// A decimal number with a full stop or a comma ("230.5", "49,98").
bool ParseDecimal(std::string text, double min, double max, double& out) {
  std::replace(text.begin(), text.end(), ',', '.');
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !(value >= min && value <= max))
    return false;
  out = value;
  return true;
}

// Tenths or hundredths of a decimal number, rounded.
int Scaled(double value, int factor) {
  return static_cast<int>(value * factor + (value < 0 ? -0.5 : 0.5));
}

// "trip STAGE [SECONDS [HOLD]]" after the stage: starts the countdown.
bool TripStage(LiveValues& live, const std::string& stage, const std::vector<std::string>& times,
               std::string& error) {
  const auto coils = nx480::sim::ParseStage(stage, live.Config().firmware_minor);
  double seconds = 10;
  double hold = -1;
  if (!coils) {
    error = "unknown stage '" + stage + "'";
  } else if (times.size() > 2 ||
             (times.size() > 0 && !ParseDecimal(times[0], 0.1, 6000, seconds)) ||
             (times.size() > 1 && !ParseDecimal(times[1], 0, 6000, hold))) {
    error = "countdown must be 0.1..6000 s, hold 0..6000 s";
  } else {
    const auto ms = [](double s) { return std::chrono::milliseconds(Scaled(s, 1000)); };
    live.Trip(*coils, ms(seconds),
              hold >= 0 ? std::optional<std::chrono::milliseconds>(ms(hold)) : std::nullopt);
    return true;
  }
  return false;
}

// The live-values commands; false when `cmd` is not one of them.
bool RunLiveCommand(LiveValues* live, const std::vector<std::string>& words) {
  const std::string& cmd = words[0];
  auto reply = [](const std::string& text) { std::cout << text << std::endl; };
  if (cmd != "pickup" && cmd != "release" && cmd != "trip" && cmd != "voltage" &&
      cmd != "frequency" && cmd != "temperature" && cmd != "live")
    return false;
  if (live == nullptr) {
    reply("error: live values are off (--no-live)");
    return true;
  }
  const int v = live->Config().firmware_minor;
  double value = 0;
  if (cmd == "live" && words.size() == 1) {
    reply(live->Describe());
  } else if ((cmd == "pickup" || cmd == "release") && words.size() == 2) {
    if (cmd == "release" && words[1] == "all") {
      live->ReleaseAll();
      reply("ok");
    } else if (const auto coils = nx480::sim::ParseStage(words[1], v)) {
      if (cmd == "pickup")
        live->PickUp(*coils);
      else
        live->Release(*coils);
      reply("ok");
    } else {
      reply("error: unknown stage '" + words[1] + "'");
    }
  } else if (cmd == "trip" && words.size() >= 2) {
    std::string error;
    reply(TripStage(*live, words[1], {words.begin() + 2, words.end()}, error) ? "ok"
                                                                              : "error: " + error);
  } else if (cmd == "voltage" && words.size() == 3 && ParseDecimal(words[2], 0, 6000, value)) {
    const std::string& phase = words[1];
    const int first = phase == "U1" ? 0 : phase == "U2" ? 1 : phase == "U3" ? 2 : 0;
    const int last = phase == "all" ? 2 : first;
    if (phase != "all" && phase != "U1" && phase != "U2" && phase != "U3") {
      reply("error: phase is U1, U2, U3 or all");
    } else {
      for (int p = first; p <= last; ++p) live->SetVoltage(p, Scaled(value, 10));
      reply("ok");
    }
  } else if (cmd == "frequency" && words.size() == 2 && ParseDecimal(words[1], 0, 600, value)) {
    live->SetFrequency(Scaled(value, 100));
    reply("ok");
  } else if (cmd == "temperature" && words.size() == 2 &&
             ParseDecimal(words[1], -272, 6000, value)) {
    live->SetTemperature(Scaled(value, 10));
    reply("ok");
  } else {
    reply("error: bad arguments");
  }
  return true;
}

// Executes one stdin command; returns false for "quit".
bool RunCommand(PtyRelay& relay, LiveValues* live, const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty() || words[0][0] == '#') return true;
  const std::string& cmd = words[0];
  auto reply = [](const std::string& text) { std::cout << text << std::endl; };

  if (cmd == "quit" || cmd == "exit") return false;
  if (RunLiveCommand(live, words)) return true;
  if (cmd == "fault") {
    std::string spec;
    for (std::size_t i = 1; i < words.size(); ++i) spec += (i > 1 ? ":" : "") + words[i];
    std::string error;
    const auto rule = nx480::sim::ParseFaultRule(spec, &error);
    if (rule) {
      relay.AddFault(*rule);
      reply("ok");
    } else {
      reply("error: " + error);
    }
  } else if (cmd == "clear-faults") {
    relay.ClearFaults();
    reply("ok");
  } else if (cmd == "faults") {
    const auto rules = relay.WithModel([](auto& m) { return m.Faults().Rules(); });
    for (const auto& r : rules) reply(nx480::sim::Describe(r));
    reply("ok");
  } else if ((cmd == "set" && words.size() == 4) || (cmd == "get" && words.size() == 3)) {
    Table table{};
    long long address = 0;
    long long value = 0;
    const bool valid = ParseTable(words[1], table) && ParseNumber(words[2], 0, 0xFFFF, address) &&
                       (cmd == "get" || ParseNumber(words[3], 0, 0xFFFF, value));
    const auto addr = static_cast<std::uint16_t>(address);
    if (!valid) {
      reply("error: bad arguments");
    } else if (cmd == "set") {
      reply(relay.SetRegister(table, addr, static_cast<std::uint16_t>(value))
                ? "ok"
                : "error: undefined address");
    } else if (const auto v = relay.GetRegister(table, addr)) {
      reply(std::to_string(*v));
    } else {
      reply("error: undefined address");
    }
  } else if (cmd == "clock" && words.size() <= 3) {
    if (words.size() == 1) {
      reply(relay.WithModel([](auto& m) {
        return nx480::sim::FormatDateTime(m.ClockAt()) + (m.ClockRunning() ? "" : " stopped");
      }));
      return true;
    }
    const bool pc = words[1] == "pc" && words.size() == 2;
    const auto time =
        pc ? std::optional(nx480::sim::PcLocalTime()) : nx480::sim::ParseDateTime(words[1]);
    const bool stopped = words.size() == 3 && words[2] == "stopped";
    if (!time || !time->Valid() || (words.size() == 3 && !stopped)) {
      reply("error: clock takes YYYY-MM-DDTHH:MM[:SS[.hh]] in 2000-2099 [stopped], or pc");
    } else {
      relay.WithModel([&](auto& m) { m.SetClock(*time, !stopped); });
      reply("ok");
    }
  } else if (cmd == "history" && words.size() <= 3) {
    long long code = 0;
    long long fill = 0;
    if (words.size() == 1) {
      reply(relay.WithModel([](auto& m) {
        const auto& h = m.History();
        return "size=" + std::to_string(h.SizeCode()) + " slots=" + std::to_string(h.Slots()) +
               " next=" + std::to_string(h.Next()) +
               " events=" + std::to_string(m.Events().size()) +
               " clears=" + std::to_string(m.HistoryClears());
      }));
    } else if (words.size() == 2 && words[1] == "clear") {
      relay.WithModel([](auto& m) { m.ClearHistory(); });
      reply("ok");
    } else if (words.size() == 3 && ParseNumber(words[1], 1, 32, code) &&
               ParseNumber(words[2], 0, 0xFFFF, fill)) {
      relay.WithModel([&](auto& m) {
        m.Refresh();
        m.MakeHistory(static_cast<int>(code), static_cast<int>(fill));
      });
      reply("ok");
    } else {
      reply("error: history takes CODE (1..32) FILL (0..65535), or clear");
    }
  } else if (cmd == "upload" && words.size() <= 3) {
    long long n = 0;
    if (words.size() == 1) {
      reply(relay.WithModel([](auto& m) {
        m.Refresh();
        const auto& u = m.Upload();
        const auto& f = u.Faults();
        return std::string("mode=") + nx480::sim::UploadModeName(u.Mode()) +
               " frames=" + std::to_string(u.Frames()) + " name=" + m.Config().EffectiveName() +
               " version=" + m.Config().version + " lose=" + std::to_string(f.lose_reply_at) +
               " refuse=" + std::to_string(f.refuse_at) + " busy=" + (f.busy_once ? "1" : "0");
      }));
    } else if (words.size() == 2 && words[1] == "busy") {
      relay.WithModel([](auto& m) { m.Upload().Faults().busy_once = true; });
      reply("ok");
    } else if (words.size() == 3 && (words[1] == "lose" || words[1] == "refuse") &&
               ParseNumber(words[2], 1, 1'000'000, n)) {
      relay.WithModel([&](auto& m) {
        auto& f = m.Upload().Faults();
        (words[1] == "lose" ? f.lose_reply_at : f.refuse_at) = static_cast<int>(n);
      });
      reply("ok");
    } else {
      reply("error: upload takes lose N, refuse N or busy");
    }
  } else if (cmd == "relay" && words.size() == 1) {
    reply(relay.WithModel([](auto& m) {
      return std::string(nx480::sim::RelayModeName(m.Mode())) +
             " commands=" + std::to_string(m.ModeCommands());
    }));
  } else if (cmd == "counters") {
    const auto c = relay.Counters();
    reply("requests=" + std::to_string(c.model.requests) +
          " replies=" + std::to_string(c.replies_sent) +
          " bad_frames=" + std::to_string(c.model.bad_frames + c.framer.bad_crc) +
          " torn=" + std::to_string(c.framer.torn) +
          " other_address=" + std::to_string(c.model.other_address) + " exceptions=" +
          std::to_string(c.model.exceptions) + " faults=" + std::to_string(c.model.faults) +
          " ignored=" + std::to_string(c.model.ignored) +
          " babble=" + std::to_string(c.babble_bytes));
  } else {
    reply("error: unknown command '" + cmd + "'");
  }
  return true;
}

int Usage(const std::string& error) {
  std::cerr << "nx480-sim: " << error << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  RelayConfig config;
  PtyOptions options;
  std::vector<FaultRule> faults;
  nx480::sim::UploadFaults upload_faults;
  bool verbose = false;
  bool with_live = true;
  bool steady = false;
  long long progress = 0;
  std::vector<std::string> stage_options;  // "pickup:STAGE" or "trip:STAGE[:SECONDS[:HOLD]]"

  const std::vector<std::string> args(argv + 1, argv + argc);
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
      config.temperature = true;
    } else if (arg == "--verbose" || arg == "-v") {
      verbose = true;
    } else if (arg == "--no-live") {
      with_live = false;
    } else if (arg == "--steady") {
      steady = true;
    } else if (arg == "--progress") {
      if (!value(v) || !ParseNumber(v, 0, 599, progress)) return Usage("--progress must be 0..599");
    } else if (arg == "--stage" || arg == "--trip") {
      if (!value(v) || v.empty()) return Usage(arg + " needs a stage");
      stage_options.push_back(arg == "--trip" ? "trip:" + v : v);
    } else if (arg == "--name") {
      if (!value(v) || v.empty()) return Usage("--name needs a text");
      config.name = v;
    } else if (arg == "--version") {
      if (!value(v)) return Usage("--version needs a text");
      config.version = v;
    } else if (arg == "--ident-length") {
      if (!value(v) || !ParseNumber(v, 29, 30, n)) return Usage("--ident-length must be 29 or 30");
      config.ident_length = static_cast<int>(n);
    } else if (arg == "--serial") {
      if (!value(v) || !ParseNumber(v, 0, 0xFFFFFFFFLL, n))
        return Usage("--serial must be 0..4294967295");
      config.serial = static_cast<std::uint32_t>(n);
    } else if (arg == "--clock") {
      if (!value(v) || !(config.clock = nx480::sim::ParseDateTime(v)))
        return Usage("--clock takes YYYY-MM-DDTHH:MM[:SS[.hh]] in 2000-2099");
    } else if (arg == "--clock-stopped") {
      config.clock_running = false;
    } else if (arg == "--history-size") {
      if (!value(v) || !ParseNumber(v, 1, 32, n)) return Usage("--history-size must be 1..32");
      config.history_size_code = static_cast<int>(n);
    } else if (arg == "--history-fill") {
      if (!value(v) || !ParseNumber(v, 0, 0xFFFF, n))
        return Usage("--history-fill must be 0..65535");
      config.history_fill = static_cast<int>(n);
    } else if (arg == "--restart-time") {
      if (!value(v) || !ParseNumber(v, 0, 60'000, n))
        return Usage("--restart-time must be 0..60000 ms");
      config.restart_time = std::chrono::milliseconds(n);
    } else if (arg == "--store-time" || arg == "--clear-time") {
      if (!value(v) || !ParseNumber(v, 0, 60'000, n)) return Usage(arg + " must be 0..60000 ms");
      (arg == "--store-time" ? config.calibration_store_time : config.history_clear_time) =
          std::chrono::milliseconds(n);
    } else if (arg == "--upload-lose" || arg == "--upload-refuse") {
      if (!value(v) || !ParseNumber(v, 1, 1'000'000, n)) return Usage(arg + " must be 1..1000000");
      (arg == "--upload-lose" ? upload_faults.lose_reply_at : upload_faults.refuse_at) =
          static_cast<int>(n);
    } else if (arg == "--upload-busy") {
      upload_faults.busy_once = true;
    } else if (arg == "--baud") {
      if (!value(v) || !ParseNumber(v, 0, 10'000'000, n))
        return Usage("--baud must be 0..10000000");
      options.baud = static_cast<unsigned>(n);
    } else if (arg == "--answer-delay") {
      double ms = -1;
      if (value(v)) {
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), ms);
        if (ec != std::errc() || end != v.data() + v.size()) ms = -1;
      }
      if (!(ms >= 0 && ms <= 60'000)) return Usage("--answer-delay must be 0..60000 ms");
      options.answer_delay = std::chrono::microseconds(static_cast<long long>(ms * 1000.0));
    } else if (arg == "--link") {
      if (!value(v) || v.empty()) return Usage("--link needs a path");
      options.link_path = v;
    } else if (arg == "--fault") {
      std::string error;
      if (!value(v)) return Usage("--fault needs KIND[:FUNC[:COUNT[:SKIP[:PARAM]]]]");
      const auto rule = nx480::sim::ParseFaultRule(v, &error);
      if (!rule) return Usage("--fault " + v + ": " + error);
      faults.push_back(*rule);
    } else {
      return Usage("unknown argument '" + arg + "'");
    }
  }

  std::shared_ptr<LiveValues> live;
  if (with_live) {
    nx480::sim::LiveConfig live_config = nx480::sim::LiveConfigFor(config);
    live_config.noise = !steady;
    live_config.progress_start = static_cast<int>(progress);
    live = std::make_shared<LiveValues>(live_config);
  }
  for (const std::string& option : stage_options) {
    std::vector<std::string> parts;
    for (std::size_t from = 0;;) {
      const std::size_t colon = option.find(':', from);
      parts.push_back(option.substr(from, colon - from));
      if (colon == std::string::npos) break;
      from = colon + 1;
    }
    std::string error;
    if (!live) return Usage("--stage and --trip need live values");
    if (parts.size() == 2 && parts[0] == "pickup") {
      const auto coils = nx480::sim::ParseStage(parts[1], live->Config().firmware_minor);
      if (!coils) return Usage("unknown stage '" + parts[1] + "'");
      live->PickUp(*coils);
    } else if (parts.size() >= 2 && parts[0] == "trip") {
      if (!TripStage(*live, parts[1], {parts.begin() + 2, parts.end()}, error))
        return Usage("--trip " + option.substr(5) + ": " + error);
    } else {
      return Usage("--stage takes pickup:STAGE or trip:STAGE[:SECONDS[:HOLD]]");
    }
  }

  if (verbose) {
    options.trace = [](bool incoming, std::span<const std::uint8_t> bytes) {
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

  PtyRelay relay(config, options);
  for (const auto& rule : faults) relay.AddFault(rule);
  relay.WithModel([&upload_faults](auto& model) { model.Upload().Faults() = upload_faults; });
  if (live) relay.WithModel([&live](auto& model) { nx480::sim::AttachLiveValues(model, live); });
  try {
    relay.Start();
  } catch (const std::exception& e) {
    std::cerr << "nx480-sim: " << e.what() << "\n";
    ::close(signal_fd);
    return 1;
  }
  std::cout << relay.SlavePath() << std::endl;

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
        running = RunCommand(relay, live.get(), line);
      }
      if (pending.size() > 4096) pending.clear();  // no line that long is meaningful
    }
  }

  relay.Stop();
  ::close(signal_fd);
  return 0;
}
