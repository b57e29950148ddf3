// What the benchmarks share that needs no Qt: times in milliseconds and the median of a series.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
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

// The value of `--rounds N` among the arguments (at least 1), else `fallback`.
inline int RoundsOption(int argc, char* argv[], int fallback) {
  int rounds = fallback;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
  return rounds;
}

// A new folder /tmp/NAME.XXXXXX; nullopt after a message on standard error.
inline std::optional<std::string> TemporaryFolder(const std::string& name) {
  std::string pattern = "/tmp/" + name + ".XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::perror((name + ": a temporary folder").c_str());
    return std::nullopt;
  }
  return pattern;
}

}  // namespace nx480::bench
