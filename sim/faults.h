// Injectable faults: rules that make the simulated relay misbehave on chosen
// requests so that the master's error handling can be exercised.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nx480::sim {

enum class FaultKind : std::uint8_t {
  kSilence,     // no reply; the request is not carried out
  kBadCrc,      // valid reply with one CRC bit flipped
  kShortReply,  // valid reply with its last `param` bytes (default 1) missing
  kExtraBytes,  // valid reply followed by `param` junk bytes (default 2)
  kLateReply,   // valid reply sent `param` ms late (default 400)
  kException,   // exception reply with code `param` (default 4); not carried out
  // The reply of a request that was carried out, changed and sent with a good CRC:
  kBadEcho,        // write acknowledgement (0x0F, 0x10) with its quantity one higher; other
                   // replies with data byte `param` (default 0, counted after the byte count,
                   // at most the last one) changed; exception replies as they are
  kWrongAddress,   // slave address `param` (default 2) in the reply
  kWrongFunction,  // another function code the relay serves (0x03 <-> 0x04, 0x0F <-> 0x10,
                   // 0x01 -> 0x04, others -> 0x03), exception bit kept
  kBabble,         // the reply, then random bytes for `param` ms (default 3000) without a
                   // pause of more than a few ms
  kNoise,          // `param` random bytes (default 4), then the reply, all in one burst
};

struct FaultRule {
  FaultKind kind = FaultKind::kSilence;
  std::uint8_t function = 0;  // function code the rule applies to; 0: any
  int count = 1;              // matching requests to act on; -1: without end
  int skip = 0;               // matching requests let through before acting
  int param = -1;             // kind-specific parameter; -1: the kind's default

  // `param`, or the kind's default when it is -1.
  int EffectiveParam() const;
};

// A whole decimal or 0x-hexadecimal number, optionally negative.
bool ParseInt(std::string_view text, long long& out);

const char* FaultKindName(FaultKind kind);
// Accepts the names printed by FaultKindName() and a few aliases
// (e.g. "bad-crc", "short", "extra", "late").
std::optional<FaultKind> ParseFaultKind(std::string_view name);

// Parses "KIND[:FUNC[:COUNT[:SKIP[:PARAM]]]]" (numbers decimal or 0x-hex).
// On failure returns nullopt and, if `error` is given, a reason.
std::optional<FaultRule> ParseFaultRule(std::string_view spec, std::string* error = nullptr);
// Checks ranges (function 0..255, count -1 or > 0, skip >= 0, parameter valid
// for the kind). Returns an empty string when the rule is usable.
std::string ValidateFaultRule(const FaultRule& rule);

std::string Describe(const FaultRule& rule);

// Ordered list of rules. For every request each rule whose function filter
// matches first uses up its `skip` (skip counts every matching request since
// the rule was added, whatever other rules did to it); the first rule in order
// that has no skip left and still has a count acts on the request. At most one
// rule acts per request. Used-up rules are removed.
class FaultPlan {
 public:
  void Add(const FaultRule& rule);
  void Clear() { rules_.clear(); }
  bool Empty() const { return rules_.empty(); }
  const std::vector<FaultRule>& Rules() const { return rules_; }

  // Feeds one request with function code `function` through the rules and
  // returns the rule that acts on it, if any.
  std::optional<FaultRule> Match(std::uint8_t function);

 private:
  std::vector<FaultRule> rules_;
};

}  // namespace nx480::sim
