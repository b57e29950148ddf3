// A synthetic day of recorded samples for the trend's benchmarks: 430,000 samples about 200 ms
// apart (the live refresh), three phases around 230 V with a daily swing and noise, f around
// 50 Hz, a spike every 10,000 samples and a U>2 pick-up and trip every 50,000. The same day for
// every run (fixed seed). Plain C++, no Qt.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "recording_sample.h"

namespace nx480::bench {

inline constexpr size_t kDaySamples = 430000;
inline constexpr int64_t kDayStart = 1796083200000;  // 2026-12-01 00:00 UTC
inline constexpr int64_t kDayMillis = 86400000;

inline std::vector<RecordingSample> SyntheticDay() {
  std::mt19937 random(480);
  std::normal_distribution<double> noise(0, 0.6);
  std::normal_distribution<double> fNoise(0, 0.01);
  std::vector<RecordingSample> day(kDaySamples);
  for (size_t i = 0; i < kDaySamples; ++i) {
    RecordingSample& s = day[i];
    s.pcMillis = kDayStart + static_cast<int64_t>(i) * kDayMillis / kDaySamples;
    s.utcOffsetMinutes = 60;
    const double swing = 4 * std::sin(2 * std::numbers::pi * static_cast<double>(i) / kDaySamples);
    for (int p = 0; p < 3; ++p) {
      s.u[p] = std::round((230 + swing + p + noise(random)) * 10) / 10;
      s.avg[p] = 230 + swing + p;
    }
    s.f = std::round((50 + fNoise(random)) * 100) / 100;
    if (i % 10000 == 5000) s.u[i / 10000 % 3] = 262.5;
    if (i % 10000 == 7000) s.f = 49.2;
    const size_t phase = i % 50000;
    if (phase >= 20000 && phase < 20030) {
      s.pickedUp = 1u << static_cast<int>(Stage::Uo2);
      if (phase >= 20010) s.tripped = 1u << static_cast<int>(Stage::Uo2);
    }
  }
  return day;
}

}  // namespace nx480::bench
