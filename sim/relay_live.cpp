#include "relay_live.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "relay_model.h"

namespace nx480::sim {

namespace {

using std::chrono::milliseconds;

std::uint16_t Clamp16(long long value) {
  return static_cast<std::uint16_t>(std::clamp<long long>(value, 0, 0xFFFF));
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::optional<StageCoils> ParseStage(std::string_view name, int firmware_minor) {
  struct Named {
    const char* settings;
    const char* caption;
    StageCoils coils;
  };
  static constexpr Named kStages[] = {
      {"Uu1", "U<", {0, 8}},    {"Uu2", "U<<", {1, 9}}, {"Uo2", "U>>", {2, 10}},
      {"Uo3", "U>>>", {3, 11}}, {"Fu1", "f<", {4, 12}}, {"Fu2", "f<<", {5, 13}},
      {"Fo1", "f>", {6, 14}},   {"Uo1", "U>", {7, 15}}, {"Fo2", "f>>", {17, 16}},
  };
  if (firmware_minor <= 4) {
    // These firmwares have two over-voltage stages, shown as "U>" and "U>>".
    if (name == "U>") return StageCoils{2, 10};
    if (name == "U>>") return StageCoils{3, 11};
    if (name == "U>>>") return std::nullopt;
  }
  for (const Named& stage : kStages) {
    if (name == stage.caption || SameLetters(name, stage.settings)) return stage.coils;
  }
  return std::nullopt;
}

LiveConfig LiveConfigFor(const RelayConfig& relay) {
  LiveConfig config;
  config.firmware_minor = FirmwareMinorOfVersion(relay.version);
  config.temperature = relay.temperature;
  config.trips = relay.trips;
  return config;
}

LiveValues::LiveValues(LiveConfig config, Clock::time_point start)
    : config_(config), start_(start), noise_(config.noise), random_(config.seed) {
  average_ = voltage_;
  window_ = std::max(0, config_.progress_start) / kWindowSeconds;
  for (const PlannedTrip& trip : config_.trips)
    if (const auto coils = ParseStage(trip.stage, config_.firmware_minor))
      planned_.push_back({*coils, trip.countdown, trip.hold, start_ + trip.after});
  std::stable_sort(planned_.begin(), planned_.end(),
                   [](const Planned& a, const Planned& b) { return a.at > b.at; });
  std::lock_guard lock(mutex_);
  Settle(start_);  // those at the start
}

int LiveValues::Noise(int amplitude) {
  if (!noise_ || amplitude <= 0) return 0;
  return static_cast<int>(random_() % static_cast<unsigned>(2 * amplitude + 1)) - amplitude;
}

int LiveValues::CountdownUnits(Clock::time_point now) const {
  if (!reconnect_at_ || now >= *reconnect_at_) return 0;
  const long long left =
      std::chrono::duration_cast<std::chrono::milliseconds>(*reconnect_at_ - now).count();
  const long long unit = config_.firmware_minor <= 4 ? 100 : 50;  // tenths / twentieths
  return static_cast<int>((left + unit - 1) / unit);
}

void LiveValues::Fill(RegisterBank& bank, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  Settle(now);
  const long long elapsed =
      std::max<long long>(0,
                          std::chrono::duration_cast<std::chrono::seconds>(now - start_).count()) +
      std::max(0, config_.progress_start);

  // A new 10-minute window: what the last one measured becomes the average.
  if (const long long window = elapsed / kWindowSeconds; window != window_) {
    if (samples_ > 0) {
      for (int p = 0; p < 3; ++p)
        average_[p] = static_cast<int>((sum_[p] + samples_ / 2) / samples_);
    }
    sum_ = {};
    samples_ = 0;
    window_ = window;
  }

  std::array<int, 3> u{};
  for (int p = 0; p < 3; ++p) {
    u[p] = std::max(0, voltage_[p] + Noise(3));
    sum_[p] += u[p];
  }
  ++samples_;

  const bool tenths = config_.firmware_minor == 12;
  auto volts = [tenths](int t) { return Clamp16(tenths ? t : (t + 5) / 10); };
  RegisterTable& in = bank.inputs;
  for (int p = 0; p < 3; ++p) {
    in.Set(static_cast<std::uint16_t>(p), volts(u[p]));
    in.Set(static_cast<std::uint16_t>(5 + p), volts(average_[p]));
    in.Set(static_cast<std::uint16_t>(10 + p), Clamp16(u[p]));
    in.Set(static_cast<std::uint16_t>(13 + p), Clamp16(average_[p]));
  }
  in.Set(3, Clamp16(frequency_ + Noise(2)));
  in.Set(4, Clamp16(CountdownUnits(now)));
  in.Set(8, Clamp16(elapsed % kWindowSeconds));
  in.Set(9, config_.temperature ? Clamp16(2721 + temperature_ + Noise(1)) : 2971);

  for (std::uint16_t c = 0; c < 24; ++c) {
    const bool tripped = tripped_until_[c] && now < *tripped_until_[c];
    if (tripped_until_[c] && !tripped) tripped_until_[c].reset();
    bank.coils.Set(c, picked_up_[c] || tripped ? 1 : 0);
  }
}

void LiveValues::PickUp(StageCoils stage, bool on) {
  std::lock_guard lock(mutex_);
  picked_up_.at(static_cast<std::size_t>(stage.picked_up)) = on;
}

void LiveValues::Trip(StageCoils stage, milliseconds countdown, std::optional<milliseconds> hold,
                      Clock::time_point now) {
  std::lock_guard lock(mutex_);
  TripLocked(stage, countdown, hold, now);
}

void LiveValues::TripLocked(StageCoils stage, milliseconds countdown,
                            std::optional<milliseconds> hold, Clock::time_point now) {
  countdown = std::max(countdown, milliseconds(0));
  const milliseconds held = std::clamp(hold.value_or(countdown), milliseconds(0), countdown);
  tripped_until_.at(static_cast<std::size_t>(stage.tripped)) = now + held;
  Settle(now);  // a countdown that ran out before this trip still ends in a reconnection
  Note(EventCode::kDisconnection, now);
  reconnect_at_ = now + countdown;
}

void LiveValues::Settle(Clock::time_point now) {
  while (!planned_.empty() && planned_.back().at <= now) {
    const Planned trip = planned_.back();
    planned_.pop_back();
    TripLocked(trip.coils, trip.countdown, trip.hold, trip.at);
  }
  if (reconnect_at_ && now >= *reconnect_at_) {
    Note(EventCode::kReconnection, *reconnect_at_);
    reconnect_at_.reset();
  }
}

void LiveValues::Note(EventCode code, Clock::time_point at) {
  if (events_.size() >= 1024) events_.erase(events_.begin());
  events_.push_back(StageEvent{code, at, MeasurementsLocked()});
}

std::vector<StageEvent> LiveValues::TakeEvents(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  Settle(now);
  std::vector<StageEvent> out;
  out.swap(events_);
  return out;
}

EventValues LiveValues::Measurements() const {
  std::lock_guard lock(mutex_);
  return MeasurementsLocked();
}

EventValues LiveValues::MeasurementsLocked() const {
  EventValues v;
  v.frequency = Clamp16(frequency_);
  for (std::size_t p = 0; p < 3; ++p) v.volts[p] = Clamp16((voltage_[p] + 5) / 10);
  return v;
}

void LiveValues::Release(StageCoils stage) {
  std::lock_guard lock(mutex_);
  picked_up_.at(static_cast<std::size_t>(stage.picked_up)) = false;
  tripped_until_.at(static_cast<std::size_t>(stage.tripped)).reset();
}

void LiveValues::ReleaseAll() {
  std::lock_guard lock(mutex_);
  picked_up_ = {};
  tripped_until_ = {};
  reconnect_at_.reset();
}

void LiveValues::SetVoltage(int phase, int tenths) {
  std::lock_guard lock(mutex_);
  voltage_.at(static_cast<std::size_t>(phase)) = std::max(0, tenths);
}

void LiveValues::SetFrequency(int hundredths) {
  std::lock_guard lock(mutex_);
  frequency_ = std::max(0, hundredths);
}

void LiveValues::SetTemperature(int tenths_celsius) {
  std::lock_guard lock(mutex_);
  temperature_ = tenths_celsius;
}

void LiveValues::SetNoise(bool on) {
  std::lock_guard lock(mutex_);
  noise_ = on;
}

std::string LiveValues::Describe(Clock::time_point now) const {
  std::lock_guard lock(mutex_);
  unsigned coils = 0;
  for (std::size_t c = 0; c < 24; ++c) {
    if (picked_up_[c] || (tripped_until_[c] && now < *tripped_until_[c])) coils |= 1u << c;
  }
  const long long left =
      reconnect_at_ && now < *reconnect_at_
          ? std::chrono::duration_cast<milliseconds>(*reconnect_at_ - now).count()
          : 0;
  char line[160];
  std::snprintf(line, sizeof line,
                "V=%d U=%d.%d/%d.%d/%d.%d f=%d.%02d coils=0x%06X countdown=%lld.%lld s",
                config_.firmware_minor, voltage_[0] / 10, voltage_[0] % 10, voltage_[1] / 10,
                voltage_[1] % 10, voltage_[2] / 10, voltage_[2] % 10, frequency_ / 100,
                frequency_ % 100, coils, left / 1000, left % 1000 / 100);
  return line;
}

void AttachLiveValues(RelayModel& model, std::shared_ptr<LiveValues> live) {
  for (const auto& [function, table] :
       {std::pair{kReadInputs, Table::kInputs}, std::pair{kReadCoils, Table::kCoils}}) {
    model.SetFunctionHandler(function, [live, table](RelayModel& m, const Request& r) {
      if (r.data.size() != 4) return Response::Exception(kIllegalDataValue);
      live->Fill(m.Bank(), m.Time());
      const auto first = static_cast<std::uint16_t>(r.data[0] << 8 | r.data[1]);
      const auto count = static_cast<std::uint16_t>(r.data[2] << 8 | r.data[3]);
      return m.Read(table, first, count);
    });
  }
  model.SetEventSource([live](LiveValues::Clock::time_point now) { return live->TakeEvents(now); });
  model.SetMeasurementSource([live] { return live->Measurements(); });
}

}  // namespace nx480::sim
