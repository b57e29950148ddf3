// The explorer's bounded run (explorer.h): random faults, disconnects and unplugged adapters
// against every transaction, in virtual time, from fixed seeds. A longer run from other seeds:
// build/tests/explore (scripts/run-fuzz runs one).
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "explorer.h"

namespace {

uint64_t FromEnvironment(const char* name, uint64_t otherwise) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : otherwise;
}

TEST(Explorer, NoRuleIsBrokenInABoundedRun) {
  const uint64_t seed = FromEnvironment("NX480_EXPLORE_SEED", 480'000);
  const uint64_t trials = FromEnvironment("NX480_EXPLORE_TRIALS", 5000);
  const explorer::Result result = explorer::Explore(seed, trials, &std::cerr);
  ASSERT_FALSE(result.failure) << "trial " << result.failure->seed << ": " << result.failure->what;
  EXPECT_EQ(result.trials, trials);
}

}  // namespace
