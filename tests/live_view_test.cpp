// What the live values window shows, decided without widgets: number formats, decoding of a
// snapshot by firmware and resolution, the failure state, stage colours and the layout by V.
#include "live_view.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>

using namespace nx480;

namespace {

// A live image as ReplyBuffer holds it from byte 3: `registers` registers of the block, the
// second frequency reading at 200, stale bytes (0xEE) everywhere else.
struct Image {
  Image(int registers, std::map<int, uint16_t> values, uint16_t secondFrequency = 5000)
      : registers(registers) {
    bytes.fill(0xEE);
    for (const auto& [reg, value] : values) Put(2 * reg, value);
    Put(kLiveSecondFrequency, secondFrequency);
  }
  void Put(size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
  }
  LiveImage View() const { return {bytes, registers}; }

  std::array<uint8_t, 253> bytes{};
  int registers;
};

LiveTexts Earlier() {
  LiveTexts t;
  t.U1 = t.U2 = t.U3 = t.F = t.tRel = "old";
  t.Temp = "old temp";
  t.U10m1 = t.U10m2 = t.U10m3 = "old 10m";
  t.StageFlags = 0xFFFFFF;
  t.Progress10m = 77;
  return t;
}

}  // namespace

TEST(LiveFormats, IntegerFormatsWithDecimalComma) {
  EXPECT_EQ(WholeVolts(5), "  5");
  EXPECT_EQ(WholeVolts(230), "230");
  EXPECT_EQ(WholeVolts(65535), "65535");
  EXPECT_EQ(TenthsRoundedToVolts(2305), "231");
  EXPECT_EQ(TenthsRoundedToVolts(2304), "230");
  EXPECT_EQ(TenthsRoundedToVolts(44), "  4");
  EXPECT_EQ(TenthsRoundedToVolts(65535), "6554");  // no 16-bit overflow in x + 5
  EXPECT_EQ(Tenths(2305), "230,5");
  EXPECT_EQ(Tenths(7), "0,7");
  EXPECT_EQ(Tenths(0), "0,0");

  struct F {
    uint16_t first, second;
    const char* text;
  };
  for (const F& c :
       {F{5000, 5000, "50,00"}, F{4999, 4999, "49,99"}, F{5001, 5002, "50,01"},
        F{4999, 5000, "49,99"}, F{5, 5, "0,05"}, F{65535, 65535, "655,35"}, F{0, 1, "0,00"}}) {
    EXPECT_EQ(FrequencyText(c.first, c.second), c.text) << c.first << " " << c.second;
  }

  struct R {
    uint16_t reg;
    int v;
    const char* text;
  };
  for (const R& c :
       {R{125, 4, "12,5"}, R{125, 5, "6,2"}, R{125, 14, "6,2"}, R{0, 4, ""}, R{0, 9, ""},
        R{1, 5, ""}, R{2, 5, "0,1"}, R{1, 4, "0,1"}, R{600, 12, "30,0"}, R{65535, 4, "6553,5"}}) {
    EXPECT_EQ(ReconnectionText(c.reg, FirmwareFeaturesOf(c.v)), c.text) << c.reg << " V" << c.v;
  }

  struct T {
    uint16_t reg;
    const char* text;
  };
  for (const T& c : {T{2971, "25,0"}, T{2721, "0,0"}, T{2722, "0,1"}, T{2716, "-0,5"},
                     T{2700, "-2,1"}, T{3035, "31,4"}, T{0, "-272,1"}, T{65535, "6281,4"}}) {
    EXPECT_EQ(TemperatureText(c.reg), c.text) << c.reg;
  }
}

TEST(LiveDecoding, VoltagesByFirmwareAndResolution) {
  // Registers 0-2 and 5-7 as the relay sends them, 10-12 and 13-15 in tenths.
  const std::map<int, uint16_t> regs = {
      {0, 231}, {1, 229},  {2, 5},     {3, 5001},  {4, 0},   {5, 230},   {6, 228},   {7, 232},
      {8, 300}, {9, 2971}, {10, 2306}, {11, 2294}, {12, 51}, {13, 2301}, {14, 2283}, {15, 2318}};
  const std::map<int, uint16_t> regs12 = {{0, 2305}, {1, 2294}, {2, 2300}, {3, 5000},
                                          {5, 2299}, {6, 2284}, {7, 2316}, {9, 3035}};
  struct Case {
    int v;
    int registers;
    bool visible, checked;
    bool tenthsOf12;
    std::array<const char*, 6> texts;  // U1..U3, 10-minute U1..U3
  };
  const Case cases[] = {
      // Whole volts.
      {14, 16, false, false, false, {"231", "229", "  5", "230", "228", "232"}},
      {14, 16, true, false, false, {"231", "229", "  5", "230", "228", "232"}},
      // Checked but not visible: the visibility counts for V other than 12.
      {14, 16, false, true, false, {"231", "229", "  5", "230", "228", "232"}},
      // 0,1 V mode: tenths from 10-12 and 13-15 ...
      {14, 16, true, true, false, {"230,6", "229,4", "5,1", "230,1", "228,3", "231,8"}},
      {13, 16, true, true, false, {"230,6", "229,4", "5,1", "230,1", "228,3", "231,8"}},
      // ... but V 11 has no 13-15: its 10-minute values stay whole volts from 5-7.
      {11, 13, true, true, false, {"230,6", "229,4", "5,1", "230", "228", "232"}},
      // V 12 delivers tenths in 0-2 and 5-7: rounded to volts, or tenths when checked.
      {12, 10, true, false, true, {"231", "229", "230", "230", "228", "232"}},
      {12, 10, true, true, true, {"230,5", "229,4", "230,0", "229,9", "228,4", "231,6"}},
      {12, 10, false, true, true, {"230,5", "229,4", "230,0", "229,9", "228,4", "231,6"}},
      {9, 9, false, false, false, {"231", "229", "  5", "230", "228", "232"}},
  };
  for (const Case& c : cases) {
    const Image image(c.registers, c.tenthsOf12 ? regs12 : regs);
    LiveTexts t = Earlier();
    StoreLive(t, image.View(), 0x000102, FirmwareFeaturesOf(c.v), {c.visible, c.checked});
    SCOPED_TRACE("V" + std::to_string(c.v) + " visible " + std::to_string(c.visible) + " checked " +
                 std::to_string(c.checked));
    EXPECT_EQ(t.U1, c.texts[0]);
    EXPECT_EQ(t.U2, c.texts[1]);
    EXPECT_EQ(t.U3, c.texts[2]);
    EXPECT_EQ(t.U10m1, c.texts[3]);
    EXPECT_EQ(t.U10m2, c.texts[4]);
    EXPECT_EQ(t.U10m3, c.texts[5]);
    EXPECT_EQ(t.StageFlags, 0x000102u);
  }
}

TEST(LiveDecoding, WhatEachFirmwareDeliversAndWhatStays) {
  // V 4: five registers. Frequency, counter in tenths; the 10-minute texts, the temperature and
  // the progress are not delivered and keep their values (the bytes past register 4 are stale).
  {
    const Image image(5, {{0, 230}, {1, 231}, {2, 232}, {3, 5001}, {4, 125}}, 5002);
    LiveTexts t = Earlier();
    StoreLive(t, image.View(), 0x0000FF, FirmwareFeaturesOf(4), {});
    EXPECT_EQ(t.U1, "230");
    EXPECT_EQ(t.F, "50,01");
    EXPECT_EQ(t.tRel, "12,5");
    EXPECT_EQ(t.U10m1, "old 10m");
    EXPECT_EQ(t.Temp, "old temp");
    EXPECT_EQ(t.Progress10m, 77);
    EXPECT_EQ(t.StageFlags, 0x0000FFu);
  }
  // V 5: nine registers, the counter in twentieths; progress from register 8, no temperature.
  {
    const Image image(9, {{0, 230}, {1, 231}, {2, 232}, {3, 4999}, {4, 125}, {8, 601}}, 4999);
    LiveTexts t = Earlier();
    StoreLive(t, image.View(), 0, FirmwareFeaturesOf(5), {});
    EXPECT_EQ(t.F, "49,99");
    EXPECT_EQ(t.tRel, "6,2");
    EXPECT_EQ(t.Progress10m, 601);
    EXPECT_EQ(t.Temp, "old temp");
  }
  // V 11, 12 and 14 deliver register 9; a zero counter gives an empty text.
  for (int v : {11, 12, 14}) {
    const int registers = v == 11 ? 13 : v == 12 ? 10 : 16;
    const Image image(registers, {{4, 0}, {8, 0}, {9, 2971}});
    LiveTexts t = Earlier();
    StoreLive(t, image.View(), 0, FirmwareFeaturesOf(v), {});
    EXPECT_EQ(t.Temp, "25,0") << v;
    EXPECT_EQ(t.tRel, "") << v;
    EXPECT_EQ(t.Progress10m, 0) << v;
  }
}

TEST(LiveDecoding, FailureEmptiesTheLiveTextsOnly) {
  LiveTexts t = Earlier();
  ClearLive(t);
  EXPECT_EQ(t.U1, "");
  EXPECT_EQ(t.U2, "");
  EXPECT_EQ(t.U3, "");
  EXPECT_EQ(t.F, "");
  EXPECT_EQ(t.tRel, "");
  EXPECT_EQ(t.StageFlags, 0u);
  EXPECT_FALSE(FrameRed(t));
  EXPECT_EQ(t.U10m1, "old 10m");
  EXPECT_EQ(t.U10m3, "old 10m");
  EXPECT_EQ(t.Temp, "old temp");
  EXPECT_EQ(t.Progress10m, 77);
}

TEST(LiveShow, FrameCountdownAndStageColours) {
  // The frame is red while a countdown runs; the countdown is hidden while a stage (bits 8-15)
  // is tripped; f>>'s tripped bit 16 does not hide it.
  struct Frame {
    const char* tRel;
    uint32_t flags;
    bool red;
    const char* shown;
  };
  for (const Frame& c : {Frame{"", 0, false, ""}, Frame{"12,5", 0, true, "12,5"},
                         Frame{"12,5", 1u << 9, true, ""}, Frame{"12,5", 1u << 15, true, ""},
                         Frame{"12,5", 1u << 8, true, ""}, Frame{"12,5", 1u << 16, true, "12,5"},
                         Frame{"12,5", 0xFF, true, "12,5"}, Frame{"", 1u << 9, false, ""}}) {
    LiveTexts t;
    t.tRel = c.tRel;
    t.StageFlags = c.flags;
    EXPECT_EQ(FrameRed(t), c.red) << c.tRel << " " << c.flags;
    EXPECT_EQ(ShownReconnection(t), c.shown) << c.tRel << " " << c.flags;
  }

  const StageLook face{false, false}, caption{false, true}, tripped{true, false};
  struct Look {
    Stage stage;
    uint32_t flags;
    StageLook look;
  };
  for (const Look& c : {
           Look{Stage::Uu1, 0, face},
           Look{Stage::Uu1, 1u << 0, caption},
           Look{Stage::Uu1, 1u << 8, tripped},
           Look{Stage::Uu1, 1u << 0 | 1u << 8, tripped},  // tripped wins, caption black
           Look{Stage::Uu2, 1u << 1, caption},
           Look{Stage::Uu2, 1u << 9, tripped},
           Look{Stage::Uu2, 1u << 8, face},
           Look{Stage::Uo2, 1u << 2, caption},
           Look{Stage::Uo2, 1u << 10, tripped},
           Look{Stage::Uo3, 1u << 3, caption},
           Look{Stage::Uo3, 1u << 11, tripped},
           Look{Stage::Fu1, 1u << 4, caption},
           Look{Stage::Fu1, 1u << 12, tripped},
           Look{Stage::Fu2, 1u << 5, caption},
           Look{Stage::Fu2, 1u << 13, tripped},
           Look{Stage::Fo1, 1u << 6, caption},
           Look{Stage::Fo1, 1u << 14, tripped},
           Look{Stage::Uo1, 1u << 7, caption},
           Look{Stage::Uo1, 1u << 15, tripped},
           // f>> the other way round: 16 trips, 17 picks up.
           Look{Stage::Fo2, 1u << 16, tripped},
           Look{Stage::Fo2, 1u << 17, caption},
           Look{Stage::Fo2, 1u << 6 | 1u << 14, face},
           Look{Stage::Fo2, 0x00FFFF, face},
       }) {
    EXPECT_EQ(LookOf(c.stage, c.flags), c.look)
        << "stage " << static_cast<int>(c.stage) << " flags " << c.flags;
  }
  // Every bit 0-17 colours exactly one panel.
  for (int bit = 0; bit < 18; ++bit) {
    int panels = 0;
    for (Stage s : kStages) panels += LookOf(s, 1u << bit) != face;
    EXPECT_EQ(panels, 1) << bit;
  }
}

TEST(LiveShow, ProgressAndTemperature) {
  EXPECT_EQ(ProgressPosition(0), 0);
  EXPECT_EQ(ProgressPosition(599), 599);
  EXPECT_EQ(ProgressPosition(600), 600);
  EXPECT_EQ(ProgressPosition(601), 600);
  EXPECT_EQ(ProgressPosition(65535), 600);

  struct T {
    int v;
    const char* text;
    bool appears;
  };
  for (const T& c :
       {T{12, "25,0", false}, T{12, "25,1", true}, T{12, "-3,0", true}, T{12, "", true},
        T{13, "31,4", false}, T{14, "31,4", true}, T{14, "25,0", false}, T{20, "24,9", true},
        T{11, "31,4", false}, T{9, "31,4", false}}) {
    EXPECT_EQ(TemperatureAppears(FirmwareFeaturesOf(c.v), c.text), c.appears)
        << c.v << " " << c.text;
  }
}

TEST(LiveLayout, ByFirmwareNumber) {
  struct Case {
    int v;
    int height;
    const char* uo2;
    const char* uo3;
    bool fo2, box;
  };
  for (const Case& c :
       {Case{0, 250, "U>", "U>>", false, false}, Case{4, 250, "U>", "U>>", false, false},
        Case{5, 401, "U>>", "U>>>", false, false}, Case{8, 401, "U>>", "U>>>", false, false},
        Case{9, 401, "U>>", "U>>>", true, false}, Case{10, 401, "U>>", "U>>>", true, false},
        Case{11, 401, "U>>", "U>>>", true, true}, Case{14, 401, "U>>", "U>>>", true, true}}) {
    for (bool temperature : {false, true}) {
      const LiveLayout l = LayoutFor(FirmwareFeaturesOf(c.v), 401, temperature);
      EXPECT_EQ(l.clientHeight, c.height) << c.v;
      EXPECT_STREQ(l.captionUo2, c.uo2) << c.v;
      EXPECT_STREQ(l.captionUo3, c.uo3) << c.v;
      EXPECT_EQ(l.panelFo2Visible, c.fo2) << c.v;
      EXPECT_EQ(l.checkBox01VVisible, c.box) << c.v;
      EXPECT_EQ(l.temperatureVisible, temperature) << c.v;
    }
  }
  // The cut-off height scales with the design height.
  EXPECT_EQ(LayoutFor(FirmwareFeaturesOf(4), 802, false).clientHeight, 500);

  // 0,1 V mode: 42 pt for the live boxes, the 10-minute boxes too from V 12; off: 55 pt.
  EXPECT_EQ(FontSizesFor(FirmwareFeaturesOf(11), true), (ValueFontSizes{42, 0}));
  EXPECT_EQ(FontSizesFor(FirmwareFeaturesOf(12), true), (ValueFontSizes{42, 42}));
  EXPECT_EQ(FontSizesFor(FirmwareFeaturesOf(14), true), (ValueFontSizes{42, 42}));
  EXPECT_EQ(FontSizesFor(FirmwareFeaturesOf(11), false), (ValueFontSizes{55, 55}));
  EXPECT_EQ(FontSizesFor(FirmwareFeaturesOf(14), false), (ValueFontSizes{55, 55}));
  EXPECT_EQ(PointsToPixels(55), 73);
  EXPECT_EQ(PointsToPixels(42), 56);
}
