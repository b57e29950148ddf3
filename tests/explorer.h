// The explorer: random fault sequences against every transaction, in virtual time, each trial
// made from a seed of its own so that one command repeats it.
//
// A trial picks a transaction, up to three fault rules (kind, function, skip, count, parameter),
// perhaps a disconnect or an unplugged adapter at a random moment of the line's clock, and
// perhaps a write queued behind the transaction that the disconnect drops. It runs them as the
// tool runs them (the worker serving bound requests on a TModbus over a VirtualLine) and checks
// after each trial:
//  * the transaction reports its way truthfully: what it says it read is what the relay holds,
//    what it says it wrote the relay holds, and a change it says failed (a communication error:
//    nothing went out whole, or the relay refused it) or refused changed nothing - a change that
//    went out and may have been taken is unknown, never failed;
//  * the relay's registers changed only by what was asked;
//  * no write reaches the relay once its request was dropped or its connection ended;
//  * an upload never leaves the relay in upload mode without saying so;
//  * the next transaction gets the relay's own answer (after at most one that pays for bytes
//    left on the line by design).
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace explorer {

struct Failure {
  uint64_t seed = 0;  // of the trial
  std::string what;   // the trial and the rule it broke
};

struct Result {
  uint64_t trials = 0;
  std::optional<Failure> failure;  // the first
};

// Runs `trials` trials, the first from `seed`, each from the next seed in turn; stops at the
// first broken rule. `log` (if given) gets a line for a failure, with the command that repeats it.
Result Explore(uint64_t seed, uint64_t trials, std::ostream* log = nullptr);

// One trial: what it did, and the rule it broke (empty when none).
std::string Describe(uint64_t seed);

}  // namespace explorer
