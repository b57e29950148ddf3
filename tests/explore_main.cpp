// The explorer from the shell: explore [--seed N] [--trials N | --seconds S]. Prints the first
// broken rule with the command that repeats its trial, and exits 1; 0 when none was found.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

#include "explorer.h"

int main(int argc, char** argv) {
  uint64_t seed = std::random_device{}();
  uint64_t trials = 0;
  double seconds = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--seed" && value) {
      seed = std::strtoull(value, nullptr, 0);
      ++i;
    } else if (arg == "--trials" && value) {
      trials = std::strtoull(value, nullptr, 0);
      ++i;
    } else if (arg == "--seconds" && value) {
      seconds = std::strtod(value, nullptr);
      ++i;
    } else if (arg == "--describe" && value) {
      std::cout << explorer::Describe(std::strtoull(value, nullptr, 0)) << "\n";
      return 0;
    } else {
      std::cerr << "usage: explore [--seed N] [--trials N | --seconds S] | --describe SEED\n";
      return 2;
    }
  }
  if (trials == 0 && seconds <= 0) seconds = 10;
  std::cout << "explore: from seed " << seed << std::endl;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  uint64_t done = 0;
  // In rounds of 500, so a run by time still repeats from its printed seed.
  while (trials == 0 ? std::chrono::steady_clock::now() < end : done < trials) {
    const uint64_t round = trials == 0 ? 500 : std::min<uint64_t>(500, trials - done);
    const explorer::Result result = explorer::Explore(seed + done, round, &std::cerr);
    done += result.trials;
    if (result.failure) return 1;
  }
  std::cout << "explore: " << done << " trials, no rule broken" << std::endl;
  return 0;
}
