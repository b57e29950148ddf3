// The simulated relay's live values: units by firmware, the reconnection countdown, stages,
// the 10-minute window, and the registers as a master reads them.
#include "relay_live.h"

#include <gtest/gtest.h>

#include <chrono>

#include "pty.h"
#include "pty_relay.h"
#include "relay_model.h"
#include "test_util.h"

namespace nx480::sim {
namespace {

using namespace std::chrono_literals;
using Clock = LiveValues::Clock;

RegisterBank Bank() {
  RegisterBank bank;
  bank.inputs.Define(0, kInputCount);
  bank.coils.Define(0, kCoilCount);
  return bank;
}

unsigned Coils(const RegisterBank& bank) {
  unsigned coils = 0;
  for (std::uint16_t c = 0; c < kCoilCount; ++c) coils |= (bank.coils.Get(c) ? 1u : 0u) << c;
  return coils;
}

LiveConfig Steady(int v, bool temperature = false) {
  LiveConfig config;
  config.firmware_minor = v;
  config.temperature = temperature;
  config.noise = false;
  return config;
}

TEST(SimLiveValues, FirmwareNumberAndStageNames) {
  struct V {
    const char* version;
    int minor;
  };
  for (const V& c : {V{"1.14.d", 14}, V{"1.14", 14}, V{"2.07", 7}, V{"1.04", 4}, V{"1.09", 9},
                     V{"1.12.a", 12}, V{"9", 0}, V{"", 0}}) {
    EXPECT_EQ(FirmwareMinorOfVersion(c.version), c.minor) << c.version;
    RelayConfig relay;
    relay.version = c.version;
    EXPECT_EQ(LiveConfigFor(relay).firmware_minor, c.minor) << c.version;
  }

  struct S {
    const char* name;
    int v;
    std::optional<StageCoils> coils;
  };
  for (const S& c :
       {S{"U<", 14, StageCoils{0, 8}}, S{"uu1", 14, StageCoils{0, 8}},
        S{"U<<", 14, StageCoils{1, 9}}, S{"U>>", 14, StageCoils{2, 10}},
        S{"U>>>", 14, StageCoils{3, 11}}, S{"f<", 14, StageCoils{4, 12}},
        S{"Fu2", 14, StageCoils{5, 13}}, S{"f>", 14, StageCoils{6, 14}},
        S{"U>", 14, StageCoils{7, 15}}, S{"f>>", 14, StageCoils{17, 16}},
        S{"FO2", 9, StageCoils{17, 16}}, S{"U>", 4, StageCoils{2, 10}},
        S{"U>>", 4, StageCoils{3, 11}}, S{"U>>>", 4, std::nullopt}, S{"Uo1", 4, StageCoils{7, 15}},
        S{"F<", 14, std::nullopt}, S{"", 14, std::nullopt}, S{"U<<<", 14, std::nullopt}}) {
    EXPECT_EQ(ParseStage(c.name, c.v), c.coils) << c.name << " V" << c.v;
  }
}

TEST(SimLiveValues, UnitsByFirmware) {
  const auto t0 = Clock::now();
  struct Case {
    int v;
    bool temperature;
    std::uint16_t u1, avg1, temp;
  };
  for (const Case& c : {Case{14, false, 230, 230, 2971}, Case{12, false, 2304, 2304, 2971},
                        Case{4, true, 230, 230, 3035}, Case{13, true, 230, 230, 3035}}) {
    LiveValues live(Steady(c.v, c.temperature), t0);
    RegisterBank bank = Bank();
    live.Fill(bank, t0 + 1500ms);
    EXPECT_EQ(bank.inputs.Get(0), c.u1) << c.v;
    EXPECT_EQ(bank.inputs.Get(1), c.v == 12 ? 2298 : 230) << c.v;
    EXPECT_EQ(bank.inputs.Get(2), c.v == 12 ? 2311 : 231) << c.v;
    EXPECT_EQ(bank.inputs.Get(3), 5000) << c.v;
    EXPECT_EQ(bank.inputs.Get(4), 0) << c.v;
    EXPECT_EQ(bank.inputs.Get(5), c.avg1) << c.v;
    EXPECT_EQ(bank.inputs.Get(8), 1) << c.v;  // whole seconds into the window
    EXPECT_EQ(bank.inputs.Get(9), c.temp) << c.v;
    EXPECT_EQ(bank.inputs.Get(10), 2304) << c.v;
    EXPECT_EQ(bank.inputs.Get(13), 2304) << c.v;
    EXPECT_EQ(Coils(bank), 0u) << c.v;
  }

  // With noise the values wander a little, and stay plausible.
  LiveConfig noisy = Steady(14);
  noisy.noise = true;
  LiveValues live(noisy, t0);
  RegisterBank bank = Bank();
  bool moved = false;
  for (int i = 0; i < 50; ++i) {
    live.Fill(bank, t0);
    EXPECT_NEAR(bank.inputs.Get(10), 2304, 3);
    EXPECT_NEAR(bank.inputs.Get(3), 5000, 2);
    moved = moved || bank.inputs.Get(10) != 2304;
  }
  EXPECT_TRUE(moved);
}

TEST(SimLiveValues, TripCountsDownAndClears) {
  const auto t0 = Clock::now();
  for (int v : {4, 5}) {
    SCOPED_TRACE("V" + std::to_string(v));
    const int unit = v <= 4 ? 100 : 50;  // ms per count
    LiveValues live(Steady(v), t0);
    RegisterBank bank = Bank();
    live.PickUp(*ParseStage("f>>", v));
    live.Trip(*ParseStage("U<<", v), 30s, 10s, t0);
    live.Fill(bank, t0);
    EXPECT_EQ(bank.inputs.Get(4), 30000 / unit);
    EXPECT_EQ(Coils(bank), 1u << 9 | 1u << 17);
    live.Fill(bank, t0 + 9950ms);
    EXPECT_EQ(bank.inputs.Get(4), 20050 / unit + (20050 % unit != 0));
    EXPECT_EQ(Coils(bank), 1u << 9 | 1u << 17);
    // After the hold the stage is no longer tripped; the countdown goes on.
    live.Fill(bank, t0 + 10s);
    EXPECT_EQ(Coils(bank), 1u << 17);
    EXPECT_EQ(bank.inputs.Get(4), 20000 / unit);
    live.Fill(bank, t0 + 30s);
    EXPECT_EQ(bank.inputs.Get(4), 0);
    live.Release(*ParseStage("f>>", v));
    live.Fill(bank, t0 + 31s);
    EXPECT_EQ(Coils(bank), 0u);
  }

  // Without a hold the stage stays tripped for the whole countdown; a hold longer than the
  // countdown is cut to it. ReleaseAll ends everything.
  LiveValues live(Steady(14), t0);
  RegisterBank bank = Bank();
  live.Trip(*ParseStage("U<", 14), 5s, std::nullopt, t0);
  live.Trip(*ParseStage("f<", 14), 5s, 60s, t0);
  live.Fill(bank, t0 + 4900ms);
  EXPECT_EQ(Coils(bank), 1u << 8 | 1u << 12);
  EXPECT_EQ(bank.inputs.Get(4), 2);
  live.Fill(bank, t0 + 5s);
  EXPECT_EQ(Coils(bank), 0u);
  EXPECT_EQ(bank.inputs.Get(4), 0);
  live.Trip(*ParseStage("U>", 14), 5s, std::nullopt, t0 + 6s);
  live.PickUp(*ParseStage("U<", 14));
  live.ReleaseAll();
  live.Fill(bank, t0 + 7s);
  EXPECT_EQ(Coils(bank), 0u);
  EXPECT_EQ(bank.inputs.Get(4), 0);
}

TEST(SimLiveValues, TenMinuteWindowWrapsAndLatchesTheAverage) {
  const auto t0 = Clock::now();
  LiveConfig config = Steady(14);
  config.progress_start = 590;
  LiveValues live(config, t0);
  RegisterBank bank = Bank();
  live.Fill(bank, t0 + 5s);
  EXPECT_EQ(bank.inputs.Get(8), 595);
  EXPECT_EQ(bank.inputs.Get(13), 2304);  // no window has passed: the base voltage
  live.SetVoltage(0, 2400);
  live.Fill(bank, t0 + 9s);
  EXPECT_EQ(bank.inputs.Get(10), 2400);
  EXPECT_EQ(bank.inputs.Get(0), 240);
  // The window ends: its average is (2304 + 2400) / 2.
  live.Fill(bank, t0 + 10s);
  EXPECT_EQ(bank.inputs.Get(8), 0);
  EXPECT_EQ(bank.inputs.Get(13), 2352);
  EXPECT_EQ(bank.inputs.Get(5), 235);
  live.SetFrequency(4998);
  live.Fill(bank, t0 + 11s);
  EXPECT_EQ(bank.inputs.Get(3), 4998);
  EXPECT_EQ(bank.inputs.Get(8), 1);
}

TEST(SimLiveValues, ReadsThroughThePtyRelay) {
  RelayConfig config;
  config.version = "1.09";
  PtyRelay relay(config);
  auto live = AttachLiveValues(relay);
  EXPECT_EQ(live->Config().firmware_minor, 9);
  live->SetNoise(false);
  live->Trip(*ParseStage("f>>", 9), 20s);
  relay.Start();
  RawLine port(relay.SlavePath());
  ASSERT_TRUE(port.Ok());
  // Registers 0-8: U 230 230 231 V, 50,00 Hz, 400 twentieths, averages, progress 0.
  const std::string reply = port.Ask("01 04 00 00 00 09 30 0C", 23);
  ASSERT_EQ(reply.size(), 23u * 3 - 1) << reply;
  EXPECT_EQ(reply.substr(0, 27), "01 04 12 00 E6 00 E6 00 E7 ");
  EXPECT_EQ(reply.substr(27, 6), "13 88 ");
  const int countdown = std::stoi(reply.substr(33, 2) + reply.substr(36, 2), nullptr, 16);
  EXPECT_GT(countdown, 380);
  EXPECT_LE(countdown, 400);
  // Coils 0-23: f>> tripped is coil 16.
  EXPECT_EQ(port.Ask("01 01 00 00 00 18 3C 00", 8).substr(0, 18), "01 01 03 00 00 01 ");
  // Malformed and out-of-range reads are still refused.
  EXPECT_EQ(port.Ask("01 04 00 10 00 01 30 0F", 5), "01 84 02 C2 C1");
}

}  // namespace
}  // namespace nx480::sim
