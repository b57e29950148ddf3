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
#include <cstring>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "pty_relay.h"

namespace {

using nx480::sim::FaultRule;
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
    "  --baud N              send replies at the wire time of N baud (default 0: at once)\n"
    "  --answer-delay MS     delay before each reply in ms, fractions allowed (default 0.5)\n"
    "  --link PATH           make PATH a symlink to the slave device while running\n"
    "  --fault KIND[:FUNC[:COUNT[:SKIP[:PARAM]]]]\n"
    "                        inject a fault (repeatable); KIND is silence, badcrc, short,\n"
    "                        extra, late or exception; FUNC 0 = any; COUNT -1 = forever\n"
    "  --verbose             log requests and replies on stderr\n"
    "  --help                show this help\n"
    "The slave device path is printed as the first line on stdout.\n"
    "Commands on stdin (one per line):\n"
    "  fault KIND [FUNC [COUNT [SKIP [PARAM]]]]   clear-faults   faults\n"
    "  set holding|input|coil ADDR VALUE          get holding|input|coil ADDR\n"
    "  counters   quit\n";

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

// Executes one stdin command; returns false for "quit".
bool RunCommand(PtyRelay& relay, const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty() || words[0][0] == '#') return true;
  const std::string& cmd = words[0];
  auto reply = [](const std::string& text) { std::cout << text << std::endl; };

  if (cmd == "quit" || cmd == "exit") return false;
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
  } else if (cmd == "counters") {
    const auto c = relay.Counters();
    reply("requests=" + std::to_string(c.model.requests) +
          " replies=" + std::to_string(c.replies_sent) +
          " bad_frames=" + std::to_string(c.model.bad_frames + c.framer.bad_crc) +
          " torn=" + std::to_string(c.framer.torn) +
          " other_address=" + std::to_string(c.model.other_address) + " exceptions=" +
          std::to_string(c.model.exceptions) + " faults=" + std::to_string(c.model.faults));
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
  bool verbose = false;

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
        running = RunCommand(relay, line);
      }
      if (pending.size() > 4096) pending.clear();  // no line that long is meaningful
    }
  }

  relay.Stop();
  ::close(signal_fd);
  return 0;
}
