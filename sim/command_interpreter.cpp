// The simulator's commands (nx480-sim's standard input), one line at a time; those of the live
// values are in live_commands.cpp.
#include "command_interpreter.h"

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "faults.h"
#include "pty_relay.h"
#include "relay_clock.h"
#include "setting_clamp.h"

namespace nx480::sim {
namespace {

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

}  // namespace

bool RunCommand(PtyRelay& relay, LiveValues* live, const std::string& line, std::ostream& out) {
  const std::vector<std::string> words = CommandWords(line);
  if (words.empty() || words[0][0] == '#') return true;
  const std::string& cmd = words[0];
  auto reply = [&out](const std::string& text) { out << text << std::endl; };

  if (cmd == "quit" || cmd == "exit") return false;
  if (RunLiveCommand(live, words, out)) return true;
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
  } else if (cmd == "clamp" && words.size() <= 2) {
    std::string error;
    if (words.size() == 1) {
      const auto clamps = relay.WithModel([](auto& m) { return m.Config().clamps; });
      for (const auto& c : clamps) reply(nx480::sim::Describe(c));
      reply("ok");
    } else if (words[1] == "clear") {
      relay.WithModel([](auto& m) { m.SetClamps({}); });
      reply("ok");
    } else if (const auto clamp = nx480::sim::ParseSettingClamp(words[1], &error)) {
      relay.WithModel([&](auto& m) {
        auto clamps = m.Config().clamps;
        clamps.push_back(*clamp);
        m.SetClamps(std::move(clamps));
      });
      reply("ok");
    } else {
      reply("error: clamp " + error);
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

}  // namespace nx480::sim
