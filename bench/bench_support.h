// What the benchmarks share that needs no Qt: times in milliseconds and the median of a series.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace nx480::bench {

inline double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The middle value after sorting (of two middles the upper one); 0 for an empty series.
inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace nx480::bench
