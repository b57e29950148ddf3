// Live values of the simulated relay: the measurements in input registers 0-15 and the states
// of the protection stages in coils 0-23, computed at the moment of each read.
//
// Input registers (what a relay with firmware number V delivers; the simulator fills all 16):
//   0-2   U1-U3, whole volts (tenths when V is 12)
//   3     frequency, hundredths of a hertz
//   4     countdown to reconnection: tenths of a second for V <= 4, twentieths above
//   5-7   10-minute averages of U1-U3 (units as 0-2)
//   8     seconds into the current 10-minute window, 0-599
//   9     temperature: (degrees Celsius + 272.1) x 10; a relay without sensor reports 25.0
//   10-12 U1-U3 in tenths, 13-15 the 10-minute averages in tenths
// Coils: picked-up and tripped coil of every stage (see StageCoils).
//
// Voltages wander by a few tenths around 230 V and the frequency by a few hundredths around
// 50 Hz unless noise is off. Stages are driven from outside: a stage can be picked up, or
// tripped, which starts the reconnection countdown; the tripped coil stays set for a hold time
// (at most the countdown) and the countdown runs down to 0, when the relay reconnects.
//
// Thread-safe: Fill() runs on the relay's service thread, the controls on any thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "event_history.h"
#include "register_bank.h"
#include "relay_model.h"

namespace nx480::sim {

class PtyRelay;

// Coil numbers of one stage.
struct StageCoils {
  int picked_up;
  int tripped;
  bool operator==(const StageCoils&) const = default;
};

// A stage by its panel caption ("U<", "U<<", "U>", "U>>", "U>>>", "f<", "f<<", "f>", "f>>",
// as the firmware names them: for V <= 4 "U>" and "U>>" are the stages that later firmware
// calls "U>>" and "U>>>") or by its settings name ("Uu1", "Uu2", "Uo1", "Uo2", "Uo3", "Fu1",
// "Fu2", "Fo1", "Fo2", any case). Coils: Uu1 0/8, Uu2 1/9, Uo2 2/10, Uo3 3/11, Fu1 4/12,
// Fu2 5/13, Fo1 6/14, Uo1 7/15, Fo2 17/16.
std::optional<StageCoils> ParseStage(std::string_view name, int firmware_minor);

struct LiveConfig {
  int firmware_minor = 14;
  bool temperature = false;  // the temperature variant; otherwise register 9 reads 25.0 °C
  bool noise = true;
  std::uint32_t seed = 480;
  int progress_start = 0;  // seconds into the first 10-minute window at start
  // Trips made at their time after the start (a stage the firmware does not know is left out).
  std::vector<PlannedTrip> trips{};
};

// LiveConfig for a relay configuration: firmware number, temperature variant, planned trips.
LiveConfig LiveConfigFor(const RelayConfig& relay);

class LiveValues {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kWindowSeconds = 600;

  explicit LiveValues(LiveConfig config, Clock::time_point start = Clock::now());

  // Writes input registers 0-15 and coils 0-23 as they are at `now`.
  void Fill(RegisterBank& bank, Clock::time_point now);

  // ---- Stages ----
  void PickUp(StageCoils stage, bool on = true);
  // Sets the tripped coil and (re)starts the reconnection countdown from `countdown`; the
  // tripped coil is cleared after `hold` (at most, and by default, the whole countdown).
  void Trip(StageCoils stage, std::chrono::milliseconds countdown,
            std::optional<std::chrono::milliseconds> hold = std::nullopt,
            Clock::time_point now = Clock::now());
  // Clears the stage's coils.
  void Release(StageCoils stage);
  // Clears every stage and stops the countdown.
  void ReleaseAll();

  // ---- Events for the relay's history ----
  // A trip is a disconnection at the moment of the trip; a countdown that runs out is a
  // reconnection at its end (a new trip restarts it; ReleaseAll() stops it without one).
  // Returns those up to `now` in order, once each; at most 1024 wait to be taken.
  std::vector<StageEvent> TakeEvents(Clock::time_point now = Clock::now());
  // The voltages (whole volts) and frequency around which the noise wanders.
  EventValues Measurements() const;

  // ---- Measurements (the values around which the noise wanders) ----
  void SetVoltage(int phase, int tenths);  // phase 0-2
  void SetFrequency(int hundredths);
  void SetTemperature(int tenths_celsius);  // the temperature variant only
  void SetNoise(bool on);

  const LiveConfig& Config() const { return config_; }
  // One line for the simulator's "live" command.
  std::string Describe(Clock::time_point now = Clock::now()) const;

 private:
  int Noise(int amplitude);
  int CountdownUnits(Clock::time_point now) const;
  // With mutex_ held: the planned trips due by `now` are made, then a countdown that has run
  // out by `now` becomes a reconnection event.
  void Settle(Clock::time_point now);
  void TripLocked(StageCoils stage, std::chrono::milliseconds countdown,
                  std::optional<std::chrono::milliseconds> hold, Clock::time_point now);
  void Note(EventCode code, Clock::time_point at);
  EventValues MeasurementsLocked() const;

  const LiveConfig config_;
  const Clock::time_point start_;
  mutable std::mutex mutex_;
  bool noise_;
  std::minstd_rand random_;
  std::array<int, 3> voltage_{2304, 2298, 2311};  // tenths of a volt
  int frequency_ = 5000;
  int temperature_ = 314;  // tenths of a degree
  std::array<bool, 24> picked_up_{};
  std::array<std::optional<Clock::time_point>, 24> tripped_until_{};
  std::optional<Clock::time_point> reconnect_at_;
  struct Planned {
    StageCoils coils;
    std::chrono::milliseconds countdown;
    std::optional<std::chrono::milliseconds> hold;
    Clock::time_point at;
  };
  std::vector<Planned> planned_;  // not yet made, latest first
  std::vector<StageEvent> events_;
  // The current 10-minute window: its number, the sums of its samples, and the averages of
  // the window before (the base voltages until one has passed).
  long long window_ = 0;
  std::array<long long, 3> sum_{};
  long long samples_ = 0;
  std::array<int, 3> average_{};
};

// Lets the model answer reads of input registers (0x04) and coils (0x01) from `live`, filled at
// the moment of each request, and take its trips and reconnections and its measurements for
// the event history. The model's before-read hook stays free for other modules.
void AttachLiveValues(RelayModel& model, std::shared_ptr<LiveValues> live);
// The same for a running or stopped PtyRelay; without `config`, the live values are made for
// the relay's configuration (LiveConfigFor).
std::shared_ptr<LiveValues> AttachLiveValues(PtyRelay& relay,
                                             std::optional<LiveConfig> config = std::nullopt);

}  // namespace nx480::sim
