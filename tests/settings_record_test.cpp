// The protection settings record and the "Parametry" boxes: readings, conversions both ways,
// the coupled volt and percent boxes, the recording intervals and the caption.
#include "settings_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace nx480;

namespace {

// Boxes as a relay read would leave them, all valid.
ParameterBoxes ValidBoxes() {
  ParameterBoxes b;
  b.text[kBoxUu1] = "196";
  b.text[kBoxUu2] = "184";
  b.text[kBoxUo1] = "253";
  b.text[kBoxUo2] = "253";
  b.text[kBoxUo3] = "264";
  b.text[kBoxPUu1] = "85";
  b.text[kBoxPUu2] = "80";
  b.text[kBoxPUo1] = "110";
  b.text[kBoxPUo2] = "110";
  b.text[kBoxPUo3] = "115";
  b.text[kBoxFu1] = "47.5";
  b.text[kBoxFu2] = "47.0";
  b.text[kBoxFo1] = "51.5";
  b.text[kBoxFo2] = "52.0";
  for (int box = kBoxTUu1; box <= kBoxTFo2; ++box) b.text[box] = "0.10";
  b.text[kBoxTRel] = "30.0";
  b.logIndex = 7;
  b.fazeIndex = 1;
  return b;
}

SettingsWords Build(const ParameterBoxes& boxes, int minor, SettingsWords record = {}) {
  std::string error;
  EXPECT_TRUE(BoxesToSettings(boxes, FirmwareFeaturesOf(minor), record, error)) << error;
  return record;
}

}  // namespace

TEST(SettingsRecord, ReadingADecimalBox) {
  struct Case {
    const char* text;
    bool valid;
    double value;  // before the 1.00001 factor
  } cases[] = {
      {"0.3", true, 0.3},  {"0,3", true, 0.3},   {"  12.5", true, 12.5}, {"1,2,3", true, 1.2},
      {"12abc", true, 12}, {"-0.5", true, -0.5}, {"+2", true, 2},        {"1e2", true, 100},
      {"5.", true, 5},     {",5", true, 0.5},    {"\t 7", true, 7},      {"3e", true, 3},
      {"", false, 0},      {"abc", false, 0},    {" ", false, 0},        {".", false, 0},
      {"-", false, 0},     {"inf", false, 0},    {"nan", false, 0},      {"1e999", false, 0},
      {"x1", false, 0},
  };
  for (const Case& c : cases) {
    const std::optional<double> v = ReadBoxNumber(c.text);
    ASSERT_EQ(v.has_value(), c.valid) << '"' << c.text << '"';
    if (c.valid) {
      EXPECT_DOUBLE_EQ(*v, c.value * 1.00001) << c.text;
    }
  }
}

TEST(SettingsRecord, ReadingAVoltageBox) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  } cases[] = {
      {"196", 196},
      {" 196", 196},
      {"+5", 5},
      {"-1", -1},
      {"0196", 196},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"195.5", std::nullopt},
      {"196 ", std::nullopt},
      {"196,0", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"abc", std::nullopt},
      {"0x10", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadBoxInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(SettingsRecord, CoupledVoltAndPercentBoxes) {
  struct Case {
    const char* from;
    std::optional<std::string> partner;
  };
  const Case voltsToPercent[] = {
      {"196", "85"}, {"253", "110"},        {"", ""},       {"195.5", "85"}, {"0", "0"},
      {"-1", "0"},   {"abc", std::nullopt}, {"230", "100"},
  };
  for (const Case& c : voltsToPercent)
    EXPECT_EQ(PercentForVoltage(c.from, "230"), c.partner) << c.from;
  const Case percentToVolts[] = {
      {"85", "196"},  {"110", "253"},      {"", ""}, {"80", "184"}, {"85,5", "197"},
      {"-10", "-22"}, {"x", std::nullopt},
  };
  for (const Case& c : percentToVolts)
    EXPECT_EQ(VoltageForPercent(c.from, "230"), c.partner) << c.from;

  // Partners pair up both ways; other boxes have none.
  for (int box = kBoxUu1; box <= kBoxUo3; ++box) {
    EXPECT_TRUE(IsPercentBox(PartnerBox(box)));
    EXPECT_EQ(PartnerBox(PartnerBox(box)), box);
  }
  EXPECT_EQ(PartnerBox(kBoxUn), -1);
  EXPECT_EQ(PartnerBox(kBoxFu1), -1);
  EXPECT_EQ(PartnerBox(kBoxTRel), -1);
}

TEST(SettingsRecord, TimeScaleBothWays) {
  // 0.3 s is 3 steps before x.05 and 6 steps from it on, and reads back as 0.30 either way.
  for (int minor : {4, 5}) {
    ParameterBoxes b = ValidBoxes();
    b.text[kBoxTUu1] = "0.3";
    b.text[kBoxTUo1] = "0,3";
    b.text[kBoxTRel] = "30";
    const SettingsWords r = Build(b, minor);
    const int steps = minor < 5 ? 3 : 6;
    EXPECT_EQ(r[kWordTUu] & 0xFF, steps) << minor;
    EXPECT_EQ(r[kWordTUo1], steps) << minor;
    EXPECT_EQ(r[kWordTRel], steps * 100) << minor;
    ParameterBoxes back;
    SettingsToBoxes(r, FirmwareFeaturesOf(minor), back);
    EXPECT_EQ(back.text[kBoxTUu1], "0.30");
    EXPECT_EQ(back.text[kBoxTUo1], "0.30");
    EXPECT_EQ(back.text[kBoxTRel], "30.0");
  }

  // The same steps show at 10 or 20 per second.
  SettingsWords r{};
  r[kWordTUu] = 3;
  r[kWordTRel] = 600;
  ParameterBoxes b;
  SettingsToBoxes(r, FirmwareFeaturesOf(14), b);
  EXPECT_EQ(b.text[kBoxTUu1], "0.15");
  EXPECT_EQ(b.text[kBoxTRel], "30.0");
  SettingsToBoxes(r, FirmwareFeaturesOf(4), b);
  EXPECT_EQ(b.text[kBoxTUu1], "0.30");
  EXPECT_EQ(b.text[kBoxTRel], "60.0");
}

TEST(SettingsRecord, DelayPairsShareAWordAndOverflowModulo) {
  // 0.15 s in EdittUu2 at 10 steps per second is one step in the high byte; the low byte is
  // EdittUu1's own.
  ParameterBoxes b = ValidBoxes();
  b.text[kBoxTUu1] = "2.5";
  b.text[kBoxTUu2] = "0.15";
  SettingsWords r = Build(b, 4);
  EXPECT_EQ(r[kWordTUu], 1 << 8 | 25);

  struct Case {
    const char* text;
    int minor;
    int byteValue;  // stored delay byte
    int wordValue;  // the same text as tUo1 (16 bits)
  } cases[] = {
      {"25.5", 4, 255, 255}, {"25.6", 4, 0, 256},    {"12.75", 14, 255, 255},
      {"13", 14, 4, 260},    {"3300", 14, 208, 464}, {"-0.1", 4, 255, 65535},
      {"0", 14, 0, 0},       {"1000", 4, 16, 10000},
  };
  for (const Case& c : cases) {
    ParameterBoxes d = ValidBoxes();
    d.text[kBoxTFo2] = c.text;
    d.text[kBoxTUo1] = c.text;
    d.text[kBoxTRel] = c.text;
    const SettingsWords w = Build(d, c.minor);
    EXPECT_EQ(w[kWordTFo] >> 8, c.byteValue) << c.text;
    EXPECT_EQ(w[kWordTFo] & 0xFF, (c.minor < 5 ? 1 : 2)) << c.text;  // tFo1 0.10 s
    EXPECT_EQ(w[kWordTUo1], c.wordValue) << c.text;
    EXPECT_EQ(w[kWordTRel], c.wordValue) << c.text;
  }
}

TEST(SettingsRecord, VoltagesAndFrequenciesToWords) {
  struct Case {
    const char* volts;
    uint16_t word;
  } volts[] = {{"196", 196}, {"65535", 65535}, {"65536", 0}, {"65732", 196}, {"-1", 65535}};
  for (const Case& c : volts) {
    ParameterBoxes b = ValidBoxes();
    b.text[kBoxUo1] = c.volts;
    EXPECT_EQ(Build(b, 14)[kWordUo1], c.word) << c.volts;
  }
  ParameterBoxes b = ValidBoxes();
  b.text[kBoxFu1] = "47,5";
  b.text[kBoxFo2] = "52.09";
  b.text[kBoxFu2] = "6553.6";
  const SettingsWords r = Build(b, 14);
  EXPECT_EQ(r[kWordFu1], 475);
  EXPECT_EQ(r[kWordFo2], 520);
  EXPECT_EQ(r[kWordFu2], 0);
  EXPECT_EQ(r[kWordUu1], 196);
  EXPECT_EQ(r[kWordUu2], 184);
  EXPECT_EQ(r[kWordUo2], 253);
  EXPECT_EQ(r[kWordUo3], 264);
  EXPECT_EQ(r[kWordFo1], 515);
}

TEST(SettingsRecord, BoxesThatGiveNoNumberFailAndLeaveTheRecord) {
  SettingsWords before{};
  for (size_t i = 0; i < before.size(); ++i) before[i] = static_cast<uint16_t>(0x1100 + i);
  struct Case {
    int box;
    const char* text;
    const char* message;
  } cases[] = {
      {kBoxUu1, "195.5", "'195.5' is not a valid integer value"},
      {kBoxUo3, "", "'' is not a valid integer value"},
      {kBoxUo1, "abc", "'abc' is not a valid integer value"},
      {kBoxFu1, "abc", "'abc' is not a valid floating point value"},
      {kBoxTUu2, "", "'' is not a valid floating point value"},
      {kBoxTRel, "x", "'x' is not a valid floating point value"},
      {kBoxTUo1, "-", "'-' is not a valid floating point value"},
      {kBoxPUo2, "abc", "'abc' is not a valid floating point value"},
      {kBoxFo2, "", "'' is not a valid floating point value"},
  };
  for (const Case& c : cases) {
    ParameterBoxes b = ValidBoxes();
    b.text[c.box] = c.text;
    SettingsWords r = before;
    std::string error;
    EXPECT_FALSE(BoxesToSettings(b, FirmwareFeaturesOf(14), r, error)) << c.box;
    EXPECT_EQ(error, c.message);
    EXPECT_EQ(r, before) << c.box;
  }
  // The first failing box is named: voltages come first.
  ParameterBoxes b = ValidBoxes();
  b.text[kBoxTUu1] = "t";
  b.text[kBoxUu2] = "u";
  SettingsWords r = before;
  std::string error;
  EXPECT_FALSE(BoxesToSettings(b, FirmwareFeaturesOf(14), r, error));
  EXPECT_EQ(error, "'u' is not a valid integer value");
}

TEST(SettingsRecord, RecordToBoxesAndBack) {
  SettingsWords r{};
  r = {0x041E, 0x0204, 0x020A, 0x030B, 0x0031, 0x0102, 0x8001, 0x0100, 196, 184, 253,  264,
       475,    470,    515,    600,    253,    60,     60,     520,    5,   200, 4096, 65534};
  ParameterBoxes b;
  SettingsToBoxes(r, FirmwareFeaturesOf(14), b);
  EXPECT_EQ(b.text[kBoxUu1], "196");
  EXPECT_EQ(b.text[kBoxPUu1], "85");
  EXPECT_EQ(b.text[kBoxUo2], "253");
  EXPECT_EQ(b.text[kBoxPUo2], "110");
  EXPECT_EQ(b.text[kBoxUo1], "253");
  EXPECT_EQ(b.text[kBoxPUo1], "110");
  EXPECT_EQ(b.text[kBoxUo3], "264");
  EXPECT_EQ(b.text[kBoxPUo3], "115");
  EXPECT_EQ(b.text[kBoxFu1], "47.5");
  EXPECT_EQ(b.text[kBoxFo2], "52.0");
  EXPECT_EQ(b.text[kBoxTRel], "30.0");
  EXPECT_EQ(b.text[kBoxTUu1], "1.50");
  EXPECT_EQ(b.text[kBoxTUu2], "0.20");
  EXPECT_EQ(b.text[kBoxTFo1], "0.55");
  EXPECT_EQ(b.text[kBoxTFo2], "0.15");
  EXPECT_EQ(b.text[kBoxTUo1], "3.00");
  EXPECT_EQ(b.logIndex, 7);  // 1min
  EXPECT_EQ(b.fazeIndex, 1);

  // Back again: every edited word as it was, the relay's own words untouched, and the
  // recording interval (which nobody chose in the list) as the record holds it.
  SettingsWords back{};
  back.fill(0xEEEE);
  back = Build(b, 14, back);
  for (int w : {4, 5, 6, int{kWordLog}, 20, 21, 22, 23}) EXPECT_EQ(back[w], 0xEEEE) << w;
  back[kWordLog] = r[kWordLog];
  for (int w = 0; w < 24; ++w) {
    if ((w >= 4 && w <= 6) || w >= 20) continue;
    EXPECT_EQ(back[w], r[w]) << w;
  }

  // "%4.1f" pads to four characters; large words print whole.
  SettingsWords small{};
  small[kWordTRel] = 50;
  small[kWordFu1] = 5;
  small[kWordUu1] = 65535;
  SettingsToBoxes(small, FirmwareFeaturesOf(4), b);
  EXPECT_EQ(b.text[kBoxTRel], " 5.0");
  EXPECT_EQ(b.text[kBoxFu1], " 0.5");
  EXPECT_EQ(b.text[kBoxUu1], "65535");
  EXPECT_EQ(b.text[kBoxPUu1], "28493");
  EXPECT_EQ(b.text[kBoxTUu1], "0.00");
  EXPECT_EQ(Build(b, 4)[kWordTRel], 50);  // the leading blank is skipped
}

TEST(SettingsRecord, FazeAndRecordingInterval) {
  SettingsWords r{};
  ParameterBoxes b;
  struct Faze {
    uint16_t word;
    int item;
  } faze[] = {{0x0000, 0}, {0x0100, 1}, {0x0200, 1}, {0xFF00, 1}, {0x00FF, 0}};
  for (const Faze& f : faze) {
    r[kWordFaze] = f.word;
    SettingsToBoxes(r, FirmwareFeaturesOf(14), b);
    EXPECT_EQ(b.fazeIndex, f.item) << f.word;
  }
  // Back: item index in the high byte, low byte 0; with no item selected word 7 stays.
  ParameterBoxes v = ValidBoxes();
  v.fazeIndex = 0;
  EXPECT_EQ(Build(v, 14, SettingsWords{0, 0, 0, 0, 0, 0, 0, 0x01FF})[kWordFaze], 0x0000);
  v.fazeIndex = 1;
  EXPECT_EQ(Build(v, 14)[kWordFaze], 0x0100);
  v.fazeIndex = -1;
  EXPECT_EQ(Build(v, 14, SettingsWords{0, 0, 0, 0, 0, 0, 0, 0x0100})[kWordFaze], 0x0100);

  // Stored seconds select the first item that is at least as long, else the last.
  struct Log {
    uint16_t seconds;
    int item;
  } logs[] = {{0, 0},      {1, 1},      {3, 3},      {60, 7},     {61, 8},
              {7200, 14},  {7201, 15},  {10800, 15}, {14400, 15}, {43200, 17},
              {43201, 18}, {65534, 18}, {65535, 18}};
  for (const Log& l : logs) {
    r[kWordLog] = l.seconds;
    b.logIndex = -5;
    SettingsToBoxes(r, FirmwareFeaturesOf(5), b);
    EXPECT_EQ(b.logIndex, l.item) << l.seconds;
    EXPECT_STREQ(kLogItems[b.logIndex], kLogItems[l.item]);
  }
  // Before x.05 the list is not updated from the record.
  r[kWordLog] = 60;
  b.logIndex = 3;
  SettingsToBoxes(r, FirmwareFeaturesOf(4), b);
  EXPECT_EQ(b.logIndex, 3);

  // Every item goes out as a value of the relay's table and comes back as the same item.
  const uint16_t table[] = {0,   1,   2,    5,    10,   15,    30,    60,    120,   300,
                            600, 900, 1800, 3600, 7200, 10800, 14400, 21600, 43200, 65534};
  for (int item = 0; item < kLogItemCount; ++item) {
    ParameterBoxes out = ValidBoxes();
    out.logIndex = item;
    out.logChosen = true;
    const SettingsWords w = Build(out, 14);
    EXPECT_NE(std::find(std::begin(table), std::end(table), w[kWordLog]), std::end(table)) << item;
    ParameterBoxes in;
    SettingsToBoxes(w, FirmwareFeaturesOf(14), in);
    EXPECT_EQ(in.logIndex, item) << kLogItems[item];
  }
  EXPECT_STREQ(kLogItems[15], "4hod");
  EXPECT_EQ(kLogIntervals[15], 4 * 3600);
  EXPECT_EQ(kLogIntervals[17], 12 * 3600);
}

TEST(SettingsRecord, UntouchedBoxesGiveTheirWordsBack) {
  // Words that a box shows rounded go back as they came while the box is left as it was
  // filled; what the user changes is converted.
  struct Case {
    const char* what;
    int readMinor, writeMinor;  // firmware when the boxes were filled, and when written
    uint16_t tRel, log;         // words 15 and 18 in the record
    const char* tRelText;       // what the user leaves in EdittRel (nullptr: untouched)
    int chosenItem;             // the list item the user picked (-1: none)
    uint16_t tRelOut, logOut;
  } cases[] = {
      {"601 steps show as 30.1", 14, 14, 601, 10800, nullptr, -1, 601, 10800},
      {"changed text is converted", 14, 14, 601, 600, "30.2", -1, 604, 600},
      {"the same text typed again", 14, 14, 601, 600, "30.1", -1, 601, 600},
      {"other time scale converts", 4, 14, 301, 600, nullptr, -1, 602, 600},
      {"list not filled before x.05", 4, 4, 50, 600, nullptr, -1, 50, 600},
      {"a chosen item sends its value", 14, 14, 601, 10800, nullptr, 16, 601, 21600},
  };
  for (const Case& c : cases) {
    SettingsWords r{};
    r[kWordTRel] = c.tRel;
    r[kWordLog] = c.log;
    ParameterBoxes b = ValidBoxes();
    SettingsToBoxes(r, FirmwareFeaturesOf(c.readMinor), b);
    if (c.tRelText) b.text[kBoxTRel] = c.tRelText;
    if (c.chosenItem >= 0) {
      b.logIndex = c.chosenItem;
      b.logChosen = true;
    }
    const SettingsWords out = Build(b, c.writeMinor, r);
    EXPECT_EQ(out[kWordTRel], c.tRelOut) << c.what;
    EXPECT_EQ(out[kWordLog], c.logOut) << c.what;
  }
}
