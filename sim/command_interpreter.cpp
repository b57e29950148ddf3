// The simulator's commands (nx480-sim's standard input), one line at a time.
#include "command_interpreter.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "faults.h"
#include "pty_relay.h"
#include "relay_clock.h"
#include "relay_live.h"
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

// The live-values commands; false when `cmd` is not one of them.
bool RunLiveCommand(LiveValues* live, const std::vector<std::string>& words, std::ostream& out) {
  const std::string& cmd = words[0];
  auto reply = [&out](const std::string& text) { out << text << std::endl; };
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

}  // namespace

bool ParseNumber(std::string_view text, long long min, long long max, long long& out) {
  long long value = 0;
  if (!nx480::sim::ParseInt(text, value) || value < min || value > max) return false;
  out = value;
  return true;
}

bool ParseTrip(const std::string& stage, const std::vector<std::string>& times, PlannedTrip& trip,
               std::string& error) {
  double seconds = 10;
  double hold = -1;
  double after = 0;
  if (times.size() > 3 || (times.size() > 0 && !ParseDecimal(times[0], 0.1, 6000, seconds)) ||
      (times.size() > 1 && !ParseDecimal(times[1], 0, 6000, hold)) ||
      (times.size() > 2 && !ParseDecimal(times[2], 0, 6000, after))) {
    error = "countdown must be 0.1..6000 s, hold and start 0..6000 s";
    return false;
  }
  const auto ms = [](double s) { return std::chrono::milliseconds(Scaled(s, 1000)); };
  trip = {stage, ms(seconds),
          hold >= 0 ? std::optional<std::chrono::milliseconds>(ms(hold)) : std::nullopt, ms(after)};
  return true;
}

bool TripStage(LiveValues& live, const std::string& stage, const std::vector<std::string>& times,
               std::string& error) {
  const auto coils = nx480::sim::ParseStage(stage, live.Config().firmware_minor);
  PlannedTrip trip;
  if (!coils) {
    error = "unknown stage '" + stage + "'";
  } else if (times.size() > 2) {
    error = "trip takes a countdown and a hold";
  } else if (ParseTrip(stage, times, trip, error)) {
    live.Trip(*coils, trip.countdown, trip.hold);
    return true;
  }
  return false;
}

bool RunCommand(PtyRelay& relay, LiveValues* live, const std::string& line, std::ostream& out) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
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
