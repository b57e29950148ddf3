// Which requests a fault plan acts on, and how fault rules are written.
#include "faults.h"

#include <gtest/gtest.h>

#include <string>

namespace nx480::sim {
namespace {

// Runs `functions` through `plan`; returns per request the acting rule's
// kind name, or "-".
std::string Feed(FaultPlan& plan, const std::vector<std::uint8_t>& functions) {
  std::string out;
  for (std::uint8_t f : functions) {
    const auto rule = plan.Match(f);
    if (!out.empty()) out += ' ';
    out += rule ? FaultKindName(rule->kind) : "-";
  }
  return out;
}

TEST(FaultPlan, CountSkipFilterAndOrder) {
  {
    // Skip two matching requests, then act once; other functions do not count.
    FaultPlan plan;
    plan.Add({FaultKind::kSilence, 0x03, 1, 2, -1});
    EXPECT_EQ(Feed(plan, {0x03, 0x11, 0x03, 0x10, 0x03, 0x03}), "- - - - silence -");
    EXPECT_TRUE(plan.Empty());
  }
  {
    // Function 0 matches everything; count -1 never runs out.
    FaultPlan plan;
    plan.Add({FaultKind::kBadCrc, 0, -1, 1, -1});
    EXPECT_EQ(Feed(plan, {0x03, 0x04, 0x11, 0x10}), "- badcrc badcrc badcrc");
    EXPECT_FALSE(plan.Empty());
    plan.Clear();
    EXPECT_EQ(Feed(plan, {0x03}), "-");
  }
  {
    // The first active rule acts; the next one waits its turn.
    FaultPlan plan;
    plan.Add({FaultKind::kLateReply, 0, 2, 0, -1});
    plan.Add({FaultKind::kException, 0, 1, 0, -1});
    EXPECT_EQ(Feed(plan, {0x03, 0x03, 0x03, 0x03}), "late late exception -");
  }
  {
    // Skip counts matching requests even when another rule acted on them.
    FaultPlan plan;
    plan.Add({FaultKind::kSilence, 0, 1, 0, -1});
    plan.Add({FaultKind::kShortReply, 0, 1, 1, -1});
    EXPECT_EQ(Feed(plan, {0x03, 0x03, 0x03}), "silence short -");
  }
  {
    // Filters on different functions work side by side.
    FaultPlan plan;
    plan.Add({FaultKind::kSilence, 0x10, 1, 0, -1});
    plan.Add({FaultKind::kExtraBytes, 0x03, 2, 0, -1});
    EXPECT_EQ(Feed(plan, {0x03, 0x10, 0x10, 0x03, 0x03}), "extra silence - extra -");
  }
}

TEST(FaultRuleText, ParsesFieldsDefaultsAndRejectsNonsense) {
  std::string error;
  auto rule = ParseFaultRule("late", &error);
  ASSERT_TRUE(rule) << error;
  EXPECT_EQ(rule->kind, FaultKind::kLateReply);
  EXPECT_EQ(rule->function, 0);
  EXPECT_EQ(rule->count, 1);
  EXPECT_EQ(rule->skip, 0);
  EXPECT_EQ(rule->EffectiveParam(), 400);

  rule = ParseFaultRule("exception:0x10:-1:2:3", &error);
  ASSERT_TRUE(rule) << error;
  EXPECT_EQ(rule->kind, FaultKind::kException);
  EXPECT_EQ(rule->function, 0x10);
  EXPECT_EQ(rule->count, -1);
  EXPECT_EQ(rule->skip, 2);
  EXPECT_EQ(rule->EffectiveParam(), 3);

  rule = ParseFaultRule("short:3:::2", &error);  // empty fields keep defaults
  ASSERT_TRUE(rule) << error;
  EXPECT_EQ(rule->function, 3);
  EXPECT_EQ(rule->count, 1);
  EXPECT_EQ(rule->EffectiveParam(), 2);

  EXPECT_EQ(ParseFaultRule("bad-crc")->kind, FaultKind::kBadCrc);
  EXPECT_EQ(ParseFaultRule("extra")->EffectiveParam(), 2);
  EXPECT_EQ(ParseFaultRule("exception")->EffectiveParam(), 4);
  EXPECT_EQ(ParseFaultRule("bad-echo")->kind, FaultKind::kBadEcho);
  EXPECT_EQ(ParseFaultRule("wrong-address")->EffectiveParam(), 2);
  EXPECT_EQ(ParseFaultRule("wrong-function")->kind, FaultKind::kWrongFunction);
  EXPECT_EQ(ParseFaultRule("babble")->EffectiveParam(), 3000);
  EXPECT_EQ(ParseFaultRule("noise")->EffectiveParam(), 4);
  EXPECT_FALSE(ParseFaultRule("noise:0:1:0:0"));
  EXPECT_FALSE(ParseFaultRule("noise:0:1:0:256"));
  for (FaultKind kind : {FaultKind::kBadEcho, FaultKind::kWrongAddress, FaultKind::kWrongFunction,
                         FaultKind::kBabble, FaultKind::kNoise}) {
    EXPECT_EQ(ParseFaultKind(FaultKindName(kind)), kind) << FaultKindName(kind);
  }

  for (const char* bad :
       {"", "bogus", "late:x", "late:256", "late:-1", "silence:0:0", "silence:0:-2",
        "silence:0:1:-1", "exception:0:1:0:0", "exception:0:1:0:256", "short:0:1:0:0",
        "late:0:1:0:60001", "late:1:2:3:4:5", "late:3 ", "babble:0:1:0:0", "babble:0:1:0:60001",
        "wrong-address:0:1:0:256", "bad-echo:0:1:0:256"}) {
    error.clear();
    EXPECT_FALSE(ParseFaultRule(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
}  // namespace nx480::sim
