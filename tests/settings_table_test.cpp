// The settings parameter table: each parameter's bits and value in units at both time scales,
// the firmware that brings it, and every bit of the record taken exactly once.
#include "settings_table.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "settings_record.h"

using namespace nx480;

namespace {

// Every byte different, the carried words all ones: a parameter read from the wrong word or
// byte gives another value.
constexpr SettingsWords kRecord{0x1E05, 0x0B07, 0x0D09, 0x110F, 0xFFFF, 0xFFFF, 0xFFFF, 0x0100,
                                196,    184,    253,    264,    475,    470,    515,    601,
                                250,    300,    60,     520,    0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};

struct Case {
  const char* name;
  double at10;  // the value in units at 10 steps per second (firmware 4)
  double at20;  // and at 20 (firmware 14)
  const char* text20;
  bool has4, has8, has14;  // whether firmware 4, 8 and 14 have it
};
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

const Case kCases[] = {
    {"Faze", 1, 1, "three-phase", true, true, true},
    {"Uu1", 196, 196, "196 V (85 %)", true, true, true},
    {"tUu1", 0.5, 0.25, "0.25 s", true, true, true},
    {"Uu2", 184, 184, "184 V (80 %)", true, true, true},
    {"tUu2", 3.0, 1.5, "1.50 s", true, true, true},
    {"Uo1", 250, 250, "250 V (109 %)", false, true, true},
    {"tUo1", 30.0, 15.0, "15.00 s", false, true, true},
    {"Uo2", 253, 253, "253 V (110 %)", true, true, true},
    {"tUo2", 0.7, 0.35, "0.35 s", true, true, true},
    {"Uo3", 264, 264, "264 V (115 %)", true, true, true},
    {"tUo3", 1.1, 0.55, "0.55 s", true, true, true},
    {"Fu1", 47.5, 47.5, "47.5 Hz", true, true, true},
    {"tFu1", 0.9, 0.45, "0.45 s", true, true, true},
    {"Fu2", 47.0, 47.0, "47.0 Hz", true, true, true},
    {"tFu2", 1.3, 0.65, "0.65 s", true, true, true},
    {"Fo1", 51.5, 51.5, "51.5 Hz", true, true, true},
    {"tFo1", 1.5, 0.75, "0.75 s", true, true, true},
    {"Fo2", 52.0, 52.0, "52.0 Hz", false, false, true},
    {"tFo2", 1.7, 0.85, "0.85 s", false, false, true},
    {"tRel", 60.1, 30.05, "30.1 s", true, true, true},
    {"Log", 60, 60, "60 s", false, true, true},
};

class SettingsTableParameter : public testing::TestWithParam<Case> {};

TEST_P(SettingsTableParameter, DecodesInUnitsAtBothTimeScales) {
  const Case& c = GetParam();
  const SettingsParameter* p = FindSettingsParameter(c.name);
  ASSERT_NE(p, nullptr);
  EXPECT_DOUBLE_EQ(ParameterValue(kRecord, *p, FirmwareFeaturesOf(4)), c.at10);
  EXPECT_DOUBLE_EQ(ParameterValue(kRecord, *p, FirmwareFeaturesOf(14)), c.at20);
  EXPECT_EQ(ParameterText(kRecord, *p, FirmwareFeaturesOf(14)), c.text20);
  EXPECT_EQ(HasParameter(FirmwareFeaturesOf(4), *p), c.has4);
  EXPECT_EQ(HasParameter(FirmwareFeaturesOf(8), *p), c.has8);
  EXPECT_EQ(HasParameter(FirmwareFeaturesOf(14), *p), c.has14);
}

INSTANTIATE_TEST_SUITE_P(Each, SettingsTableParameter, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

TEST(SettingsTable, EveryParameterHasItsCaseAndEveryBitOneOwner) {
  std::set<std::string> named;
  for (const Case& c : kCases) named.insert(c.name);
  std::set<std::string> table;
  for (const SettingsParameter& p : SettingsParameters()) table.insert(std::string(p.name));
  EXPECT_EQ(table, named);
  EXPECT_EQ(SettingsParameters().size(), named.size());  // no name twice
  EXPECT_EQ(FindSettingsParameter("Uu9"), nullptr);

  for (int word = 0; word < static_cast<int>(kSettingsWords); ++word) {
    for (int bit = 0; bit < 16; ++bit) {
      int owners = 0;
      for (const SettingsParameter& p : SettingsParameters())
        if (p.word == word && (ParameterMask(p) >> bit & 1)) ++owners;
      for (int carried : kCarriedWords)
        if (carried == word) ++owners;
      EXPECT_EQ(owners, 1) << "word " << word << " bit " << bit;
    }
  }
}

TEST(SettingsTable, PercentIsThePagesPercentBox) {
  const SettingsParameter& uu1 = *FindSettingsParameter("Uu1");
  for (uint32_t volts = 0; volts <= 0xFFFF; ++volts) {
    const std::string text = ValueText(uu1, volts);
    const std::string box = *PercentForVoltage(std::to_string(volts), "230");
    ASSERT_EQ(text, std::to_string(volts) + " V (" + box + " %)");
  }
}

}  // namespace

// A record kept under one time scale, counted again at another: every delay keeps its seconds;
// one that has no whole number of steps there, or does not fit its byte, stops it whole.
TEST(SettingsTable, DelaysRescaledBetweenFirmwares) {
  const FirmwareFeatures tenths = FirmwareFeaturesOf(4), twentieths = FirmwareFeaturesOf(14);
  const struct {
    const char* name;
    uint16_t tUu, tRel;  // words 0 (tUu1 low byte, tUu2 high byte) and 15
    const FirmwareFeatures& from;
    const FirmwareFeatures& to;
    uint16_t wantTUu, wantTRel;
    std::vector<std::string> rows;  // that stop it
  } cases[] = {
      {"tenths to twentieths", 0x0A1E, 600, tenths, twentieths, 0x143C, 1200, {}},
      {"twentieths to tenths", 0x143C, 1200, twentieths, tenths, 0x0A1E, 600, {}},
      {"the same scale", 0x0B1F, 601, twentieths, twentieths, 0x0B1F, 601, {}},
      {"a byte overflows", 0x7FFF, 40000, tenths, twentieths, 0, 0, {"tUu1", "tRel"}},
      {"half steps", 0x0B1F, 601, twentieths, tenths, 0, 0, {"tUu1", "tUu2", "tRel"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SettingsWords record = kRecord;
    for (const int word : {kWordTUo, kWordTFu, kWordTFo}) record[word] = 0x0A14;  // 0.5 s, 1 s
    record[kWordTUu] = c.tUu;
    record[kWordTRel] = c.tRel;
    const SettingsWords before = record;
    std::vector<std::string> rows{"stale"};
    EXPECT_EQ(RescaleDelays(record, c.from, c.to, rows), c.rows.empty());
    EXPECT_EQ(rows, c.rows);
    if (!c.rows.empty()) {
      EXPECT_EQ(record, before);
      continue;
    }
    for (const SettingsParameter& p : SettingsParameters()) {
      if (p.quantity == Quantity::Time) {
        EXPECT_DOUBLE_EQ(ParameterValue(record, p, c.to), ParameterValue(before, p, c.from))
            << p.name;
      }
    }
    EXPECT_EQ(record[kWordTUu], c.wantTUu);
    EXPECT_EQ(record[kWordTRel], c.wantTRel);
  }
}
