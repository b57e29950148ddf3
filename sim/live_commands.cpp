// The simulator's commands that act on the live values alone (relay_live.h): nothing of the
// pty, so that the relay in memory takes them too.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "command_interpreter.h"
#include "faults.h"
#include "relay_live.h"

namespace nx480::sim {
namespace {

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

}  // namespace

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

std::vector<std::string> CommandWords(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

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

}  // namespace nx480::sim
