#include "event_history.h"

#include <algorithm>
#include <random>

namespace nx480::sim {

std::uint32_t PackTimestamp(const DateTime& t) {
  return static_cast<std::uint32_t>((t.year - 2000) & 0x3F) << 26 |
         static_cast<std::uint32_t>(t.month & 0x0F) << 22 |
         static_cast<std::uint32_t>(t.day & 0x1F) << 17 |
         static_cast<std::uint32_t>(t.hour & 0x1F) << 12 |
         static_cast<std::uint32_t>(t.minute & 0x3F) << 6 |
         static_cast<std::uint32_t>(t.second & 0x3F);
}

DateTime UnpackTimestamp(std::uint32_t stamp) {
  DateTime t;
  t.year = 2000 + static_cast<int>(stamp >> 26);
  t.month = static_cast<int>(stamp >> 22 & 0x0F);
  t.day = static_cast<int>(stamp >> 17 & 0x1F);
  t.hour = static_cast<int>(stamp >> 12 & 0x1F);
  t.minute = static_cast<int>(stamp >> 6 & 0x3F);
  t.second = static_cast<int>(stamp & 0x3F);
  return t;
}

std::array<std::uint16_t, kHistoryRecordWords> EventRecord::Registers() const {
  const std::uint32_t stamp = PackTimestamp(time);
  return {static_cast<std::uint16_t>(stamp & 0xFFFF),
          static_cast<std::uint16_t>(stamp >> 16),
          static_cast<std::uint16_t>(code),
          0,
          values.frequency,
          values.volts[0],
          values.volts[1],
          values.volts[2]};
}

std::optional<EventRecord> EventRecord::FromRegisters(
    const std::array<std::uint16_t, kHistoryRecordWords>& r) {
  const std::uint32_t stamp = static_cast<std::uint32_t>(r[1]) << 16 | r[0];
  if (stamp == 0) return std::nullopt;
  EventRecord record;
  record.time = UnpackTimestamp(stamp);
  record.code = static_cast<EventCode>(r[2] & 0xFF);
  record.values = EventValues{r[4], {r[5], r[6], r[7]}};
  return record;
}

void EventHistory::Configure(RegisterTable& holding, int size_code) {
  size_code = std::clamp(size_code, 1, kHistoryMaxSizeCode);
  holding.Undefine(kHistoryFirstRecord, static_cast<std::uint32_t>(Slots()) * kHistoryRecordWords);
  size_code_ = size_code;
  holding.Define(kHistoryFirstRecord, static_cast<std::uint32_t>(Slots()) * kHistoryRecordWords, 0);
  next_ = 0;
  Mirror(holding);
}

void EventHistory::Clear(RegisterTable& holding) {
  Configure(holding, size_code_);
}

void EventHistory::Add(RegisterTable& holding, const EventRecord& record) {
  if (size_code_ == 0) return;
  const auto registers = record.Registers();
  const auto first = static_cast<std::uint16_t>(kHistoryFirstRecord + kHistoryRecordWords * next_);
  for (std::uint16_t i = 0; i < kHistoryRecordWords; ++i) {
    holding.Set(static_cast<std::uint16_t>(first + i), registers[i]);
  }
  next_ = (next_ + 1) % Slots();
  Mirror(holding);
}

std::vector<EventRecord> EventHistory::Newest(const RegisterTable& holding) const {
  std::vector<EventRecord> out;
  for (int n = 0, slot = next_; n < Slots(); ++n) {
    slot = (slot == 0 ? Slots() : slot) - 1;
    std::array<std::uint16_t, kHistoryRecordWords> r{};
    for (std::uint16_t i = 0; i < kHistoryRecordWords; ++i) {
      r[i] = holding.Get(
          static_cast<std::uint16_t>(kHistoryFirstRecord + kHistoryRecordWords * slot + i));
    }
    const auto record = EventRecord::FromRegisters(r);
    if (!record) break;
    out.push_back(*record);
  }
  return out;
}

void EventHistory::Mirror(RegisterTable& holding) const {
  holding.Set(kRegHistoryNext, static_cast<std::uint16_t>(next_));
  holding.Set(kRegHistorySize, static_cast<std::uint16_t>(size_code_));
}

namespace {

// Measurements of a relay at rest, and of one whose stage `stage` (0-8) has just tripped.
EventValues Measured(std::mt19937& rng, int stage) {
  auto around = [&rng](int centre, int spread) {
    return static_cast<std::uint16_t>(centre - spread +
                                      static_cast<int>(rng() % (2U * spread + 1)));
  };
  EventValues v{around(5000, 3), {around(230, 1), around(229, 1), around(231, 1)}};
  const int phase = static_cast<int>(rng() % 3);
  switch (stage) {
    case 0:  // U<: below 196 V
      v.volts[phase] = around(190, 4);
      break;
    case 1:  // U<<: below 184 V
      v.volts[phase] = around(175, 6);
      break;
    case 2:  // U>>: above 253 V
      v.volts[phase] = around(258, 3);
      break;
    case 3:  // U>>>: above 264 V
      v.volts[phase] = around(270, 4);
      break;
    case 4:  // U>, the 10-minute mean above 253 V: all phases high
      for (auto& u : v.volts) u = around(256, 2);
      break;
    case 5:  // f<: below 47.5 Hz
      v.frequency = around(4740, 8);
      break;
    case 6:  // f<<: below 47.0 Hz
      v.frequency = around(4690, 8);
      break;
    case 7:  // f>: above 51.5 Hz
      v.frequency = around(5160, 8);
      break;
    case 8:  // f>>: above 52.0 Hz
      v.frequency = around(5210, 8);
      break;
    default:
      break;
  }
  return v;
}

}  // namespace

std::vector<EventRecord> SampleEvents(int count, const DateTime& end, std::uint32_t seed) {
  std::mt19937 rng(seed);
  struct Timed {
    long long second;  // from the first event
    EventCode code;
    EventValues values;
  };
  std::vector<Timed> events;
  long long t = 0;
  auto add = [&](EventCode code, int stage = -1) {
    events.push_back({t, code, Measured(rng, stage)});
  };
  if (count > 0) add(EventCode::kStart);
  while (static_cast<int>(events.size()) < count) {
    t += 1200 + static_cast<long long>(rng() % (4 * 86400));  // 20 minutes to 4 days later
    const int room = count - static_cast<int>(events.size());
    const unsigned kind = rng() % 10;
    if (room >= 2 && kind < 5) {  // a stage trips, the relay reconnects after tRel or later
      add(EventCode::kDisconnection, static_cast<int>(rng() % 9));
      t += 30 + static_cast<long long>(rng() % 90);
      add(EventCode::kReconnection);
    } else if (room >= 2 && kind < 7) {  // the clock is put right: it was running late
      add(EventCode::kClockBefore);
      t += 5 + static_cast<long long>(rng() % 120);
      add(EventCode::kClockSet);
    } else if (room >= 2 && kind < 8) {  // a power cut
      add(EventCode::kStop);
      t += 60 + static_cast<long long>(rng() % 7200);
      add(EventCode::kStart);
    } else {
      add(EventCode::kParameters);
    }
  }

  // Place the last event a few minutes before `end`, the first no earlier than 2000.
  const long long span_ms = (events.empty() ? 0 : events.back().second) * 1000;
  const long long earliest = ToMilliseconds(DateTime{2000, 1, 1, 1, 0, 0, 0});
  const long long first_ms = std::max(earliest, ToMilliseconds(end) - 300'000 - span_ms);
  std::vector<EventRecord> out;
  out.reserve(events.size());
  for (const Timed& e : events) {
    DateTime time = FromMilliseconds(first_ms / 1000 * 1000 + e.second * 1000);
    // Not exactly midnight: the service tool may take such a stamp for an invalid one.
    if (time.hour == 0 && time.minute == 0 && time.second == 0) time.second = 1;
    time.hundredths = 0;
    out.push_back({time, e.code, e.values});
  }
  return out;
}

}  // namespace nx480::sim
