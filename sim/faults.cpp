#include "faults.h"

#include <charconv>

namespace nx480::sim {

bool ParseInt(std::string_view text, long long& out) {
  if (text.empty()) return false;
  bool negative = false;
  if (text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  out = negative ? -value : value;
  return true;
}

int FaultRule::EffectiveParam() const {
  if (param >= 0) return param;
  switch (kind) {
    case FaultKind::kShortReply:
      return 1;
    case FaultKind::kExtraBytes:
      return 2;
    case FaultKind::kLateReply:
      return 400;
    case FaultKind::kException:
      return 4;
    case FaultKind::kWrongAddress:
      return 2;
    case FaultKind::kBabble:
      return 3000;
    case FaultKind::kNoise:
      return 4;
    case FaultKind::kSilence:
    case FaultKind::kBadCrc:
    case FaultKind::kBadEcho:
    case FaultKind::kWrongFunction:
      break;
  }
  return 0;
}

const char* FaultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::kSilence:
      return "silence";
    case FaultKind::kBadCrc:
      return "badcrc";
    case FaultKind::kShortReply:
      return "short";
    case FaultKind::kExtraBytes:
      return "extra";
    case FaultKind::kLateReply:
      return "late";
    case FaultKind::kException:
      return "exception";
    case FaultKind::kBadEcho:
      return "bad-echo";
    case FaultKind::kWrongAddress:
      return "wrong-address";
    case FaultKind::kWrongFunction:
      return "wrong-function";
    case FaultKind::kBabble:
      return "babble";
    case FaultKind::kNoise:
      return "noise";
  }
  return "?";
}

std::optional<FaultKind> ParseFaultKind(std::string_view name) {
  if (name == "silence" || name == "silent" || name == "none") return FaultKind::kSilence;
  if (name == "badcrc" || name == "bad-crc" || name == "crc") return FaultKind::kBadCrc;
  if (name == "short" || name == "short-reply") return FaultKind::kShortReply;
  if (name == "extra" || name == "extra-bytes") return FaultKind::kExtraBytes;
  if (name == "late" || name == "late-reply" || name == "delay") return FaultKind::kLateReply;
  if (name == "exception" || name == "exc") return FaultKind::kException;
  if (name == "bad-echo" || name == "badecho") return FaultKind::kBadEcho;
  if (name == "wrong-address" || name == "wrongaddress") return FaultKind::kWrongAddress;
  if (name == "wrong-function" || name == "wrongfunction") return FaultKind::kWrongFunction;
  if (name == "babble" || name == "babbling") return FaultKind::kBabble;
  if (name == "noise" || name == "noisy") return FaultKind::kNoise;
  return std::nullopt;
}

std::optional<FaultRule> ParseFaultRule(std::string_view spec, std::string* error) {
  auto fail = [&](std::string why) -> std::optional<FaultRule> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  std::vector<std::string_view> parts;
  while (true) {
    const auto colon = spec.find(':');
    parts.push_back(spec.substr(0, colon));
    if (colon == std::string_view::npos) break;
    spec.remove_prefix(colon + 1);
  }
  if (parts.size() > 5) return fail("too many fields (KIND[:FUNC[:COUNT[:SKIP[:PARAM]]]])");
  const auto kind = ParseFaultKind(parts[0]);
  if (!kind) return fail("unknown fault kind '" + std::string(parts[0]) + "'");
  FaultRule rule;
  rule.kind = *kind;
  long long numbers[4] = {0, 1, 0, -1};
  const char* names[4] = {"function", "count", "skip", "parameter"};
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].empty()) continue;  // keeps the default, e.g. "late:3:::800"
    if (!ParseInt(parts[i], numbers[i - 1])) {
      return fail(std::string("bad ") + names[i - 1] + " '" + std::string(parts[i]) + "'");
    }
  }
  for (long long n : numbers) {
    if (n < -1 || n > 1'000'000'000) return fail("number out of range");
  }
  if (numbers[0] < 0 || numbers[0] > 255) return fail("function must be 0..255");
  rule.function = static_cast<std::uint8_t>(numbers[0]);
  rule.count = static_cast<int>(numbers[1]);
  rule.skip = static_cast<int>(numbers[2]);
  rule.param = static_cast<int>(numbers[3]);
  if (auto why = ValidateFaultRule(rule); !why.empty()) return fail(why);
  return rule;
}

std::string ValidateFaultRule(const FaultRule& rule) {
  if (rule.count == 0 || rule.count < -1) return "count must be positive or -1";
  if (rule.skip < 0) return "skip must not be negative";
  if (rule.param < -1) return "parameter must not be negative";
  const int p = rule.EffectiveParam();
  switch (rule.kind) {
    case FaultKind::kShortReply:
      if (p < 1 || p > 255) return "short reply drops 1..255 bytes";
      break;
    case FaultKind::kExtraBytes:
      if (p < 1 || p > 255) return "extra bytes must be 1..255";
      break;
    case FaultKind::kLateReply:
      if (p > 60'000) return "delay must be 0..60000 ms";
      break;
    case FaultKind::kException:
      if (p < 1 || p > 255) return "exception code must be 1..255";
      break;
    case FaultKind::kBadEcho:
      if (p > 255) return "data byte must be 0..255";
      break;
    case FaultKind::kWrongAddress:
      if (p > 255) return "address must be 0..255";
      break;
    case FaultKind::kBabble:
      if (p < 1 || p > 60'000) return "babble must last 1..60000 ms";
      break;
    case FaultKind::kNoise:
      if (p < 1 || p > 255) return "noise must be 1..255 bytes";
      break;
    case FaultKind::kSilence:
    case FaultKind::kBadCrc:
    case FaultKind::kWrongFunction:
      break;
  }
  return {};
}

std::string Describe(const FaultRule& rule) {
  std::string text = FaultKindName(rule.kind);
  text += " function=" + (rule.function ? std::to_string(rule.function) : std::string("any"));
  text += " count=" + (rule.count < 0 ? std::string("forever") : std::to_string(rule.count));
  text += " skip=" + std::to_string(rule.skip);
  text += " param=" + std::to_string(rule.EffectiveParam());
  return text;
}

void FaultPlan::Add(const FaultRule& rule) {
  rules_.push_back(rule);
}

std::optional<FaultRule> FaultPlan::Match(std::uint8_t function) {
  std::optional<FaultRule> acting;
  for (auto& rule : rules_) {
    if (rule.function != 0 && rule.function != function) continue;
    if (rule.skip > 0) {
      --rule.skip;
      continue;
    }
    if (acting || rule.count == 0) continue;
    acting = rule;
    if (rule.count > 0) --rule.count;
  }
  std::erase_if(rules_, [](const FaultRule& r) { return r.count == 0; });
  return acting;
}

}  // namespace nx480::sim
