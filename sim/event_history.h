// The relay's event history: a ring of fixed-size records in holding registers.
//
//   0x44                 index of the slot the next event goes to
//   0x45                 low byte: size code; the ring has 64 x code - 33 slots (1..32: 31..2015)
//   0x4100 + 8 s ...     the 8 registers of the record in slot s
//
// A record: registers 0/1 the timestamp (low/high half), 2 the event code (low byte), 3 not
// used (0), 4 the frequency in hundredths of a hertz, 5-7 U1-U3 in whole volts. The timestamp
// packs year - 2000 (bits 31-26), month (25-22), day (21-17), hour (16-12), minute (11-6) and
// second (5-0); an empty slot is all zero.
//
// Not thread-safe; the relay model keeps it under the relay's lock. The records live in the
// model's register bank, which the ring is handed on every call.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "register_bank.h"
#include "relay_clock.h"

namespace nx480::sim {

inline constexpr std::uint16_t kRegHistoryNext = 0x44;
inline constexpr std::uint16_t kRegHistorySize = 0x45;
inline constexpr std::uint16_t kHistoryFirstRecord = 0x4100;
inline constexpr std::uint16_t kHistoryRecordWords = 8;
inline constexpr int kHistoryMaxSizeCode = 32;

// Slots of a ring with size code `code` (1..32).
constexpr int SlotsOfSizeCode(int code) {
  return 64 * code - 33;
}

enum class EventCode : std::uint8_t {
  kStop = 0,
  kStart = 1,
  kDisconnection = 2,  // a stage tripped: the output relay opened
  kReconnection = 3,   // the reconnection countdown ran out
  kParameters = 16,    // protection settings written
  kClockSet = 17,      // the clock was set: stamped with the new time
  kClockBefore = 18,   // the clock was set: stamped with the time before
  kCalibration = 19,   // calibration block written
};

struct EventValues {
  std::uint16_t frequency = 5000;                     // hundredths of a hertz
  std::array<std::uint16_t, 3> volts{230, 230, 231};  // U1-U3
  bool operator==(const EventValues&) const = default;
};

struct EventRecord {
  DateTime time;  // to the second
  EventCode code = EventCode::kStart;
  EventValues values;

  std::array<std::uint16_t, kHistoryRecordWords> Registers() const;
  // nullopt for an empty slot (timestamp 0).
  static std::optional<EventRecord> FromRegisters(
      const std::array<std::uint16_t, kHistoryRecordWords>& registers);
  bool operator==(const EventRecord&) const = default;
};

// The timestamp of a record. Years past 2063 wrap, as six bits do; hundredths are dropped.
std::uint32_t PackTimestamp(const DateTime& time);
DateTime UnpackTimestamp(std::uint32_t stamp);

// An event that a module of the relay noticed at a moment of its own (a stage trip, the end of
// a countdown); the model stamps it with its clock when it takes it.
struct StageEvent {
  EventCode code;
  std::chrono::steady_clock::time_point at;
  EventValues values;
};

class EventHistory {
 public:
  // Makes the ring with `size_code` (1..32) in `holding`, empty; the old ring's registers are
  // given up.
  void Configure(RegisterTable& holding, int size_code);
  // Empties every slot and starts again at slot 0.
  void Clear(RegisterTable& holding);
  // Writes `record` into the next slot, overwriting the oldest once the ring is full.
  void Add(RegisterTable& holding, const EventRecord& record);

  int SizeCode() const { return size_code_; }
  int Slots() const { return size_code_ > 0 ? SlotsOfSizeCode(size_code_) : 0; }
  int Next() const { return next_; }
  // The events held, newest first, walking the ring down from the slot before Next() as the
  // tool does, up to the first empty slot.
  std::vector<EventRecord> Newest(const RegisterTable& holding) const;

 private:
  void Mirror(RegisterTable& holding) const;

  int size_code_ = 0;
  int next_ = 0;
};

// `count` plausible events in time order: a start, stage trips with their disconnection and
// reconnection, parameter and clock changes, power cycles; values to match (a U< trip at low
// voltage, an f> trip at high frequency). The last one is stamped a few minutes before `end`
// (later only if that would reach back before 2000). Same `seed`, same events.
std::vector<EventRecord> SampleEvents(int count, const DateTime& end, std::uint32_t seed = 480);

}  // namespace nx480::sim
