// ReadClock, WriteClock and WriteRelay against the simulated relay.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "clock_transactions.h"
#include "relay_fixture.h"
#include "relay_time.h"

using namespace nx480;
using namespace std::chrono_literals;

namespace {

using Outcomes = std::vector<Outcome>;

double At(int y, int mo, int d, int h, int mi, int s, int ms) {
  return ComposeDateTime(*EncodeDate(y, mo, d), *EncodeTime(h, mi, s, ms));
}

// The "Datum, čas" page as the transactions see it, with a PC clock of the test's choosing.
class FakeClockWindow : public ClockWindow {
 public:
  void ShowClock(double device, double pc) override { shown.push_back({device, pc}); }
  void ShowResult(Outcome outcome) override { statuses.push_back(outcome); }
  double PcNow() const override { return pcNow; }

  double pcNow = 0;
  std::vector<std::pair<double, double>> shown;
  Outcomes statuses;
};

class ClockTransactions : public RelayLinkTest<> {
 protected:
  void SetUp() override {
    sim::RelayConfig config;
    config.clock = sim::ParseDateTime("2026-12-09T10:20:30.45");
    config.clock_running = false;
    Connect(config);
  }

  sim::DateTime RelayClock() {
    return relay_->WithModel([](sim::RelayModel& m) { return m.ClockAt(); });
  }

  FakeClockWindow window_;
};

}  // namespace

TEST_F(ClockTransactions, ReadShowsTheRelaysTimeBesideThePcsOrNothing) {
  window_.pcNow = At(2026, 12, 9, 10, 21, 0, 0);
  ReadClock(link_, window_);
  ASSERT_EQ(window_.statuses, Outcomes{Outcome::Ok});
  ASSERT_EQ(window_.shown.size(), 1u);
  EXPECT_EQ(SplitDateTime(window_.shown[0].first), (CalendarTime{2026, 12, 9, 10, 20, 30, 450}));
  EXPECT_EQ(window_.shown[0].second, window_.pcNow);

  // A reply that fails its check shows nothing; the input is drained for the next read.
  for (sim::FaultKind kind : {sim::FaultKind::kBadCrc, sim::FaultKind::kLateReply}) {
    window_ = FakeClockWindow();
    relay_->AddFault(
        {.kind = kind, .function = 0x03, .param = kind == sim::FaultKind::kLateReply ? 150 : -1});
    ReadClock(link_, window_);
    ReadClock(link_, window_);
    EXPECT_EQ(window_.statuses, (Outcomes{Outcome::CommunicationError, Outcome::Ok}));
    EXPECT_EQ(window_.shown.size(), 1u);
  }
}

TEST_F(ClockTransactions, WriteSetsThePcsTimePlus20MsAndShowsItTwice) {
  // 23:59:59.990 on New Year's Eve: the 20 ms carry the relay into the next year.
  window_.pcNow = At(2026, 12, 31, 23, 59, 59, 990);
  WriteClock(link_, window_);
  ASSERT_EQ(window_.statuses, Outcomes{Outcome::Ok});
  EXPECT_EQ(RelayClock(), (sim::DateTime{2027, 1, 1, 0, 0, 0, 1}));
  ASSERT_EQ(window_.shown.size(), 1u);
  EXPECT_EQ(window_.shown[0].first, window_.shown[0].second);
  EXPECT_EQ(SplitDateTime(window_.shown[0].first), (CalendarTime{2027, 1, 1, 0, 0, 0, 10}));

  // Refused (a year the relay does not keep), or acknowledged with a wrong echo: a failure,
  // and nothing shown.
  window_ = FakeClockWindow();
  window_.pcNow = At(1999, 6, 1, 12, 0, 0, 0);
  WriteClock(link_, window_);
  window_.pcNow = At(2030, 6, 1, 12, 0, 0, 0);
  relay_->AddFault({.kind = sim::FaultKind::kBadEcho, .function = 0x10});
  WriteClock(link_, window_);
  EXPECT_EQ(window_.statuses, (Outcomes{Outcome::CommunicationError, Outcome::CommunicationError}));
  EXPECT_TRUE(window_.shown.empty());
}

TEST_F(ClockTransactions, RelayModeIsSentWithoutCheckOrDrain) {
  const struct {
    int32_t command;
    uint8_t dataByte;
    sim::RelayMode mode;
  } cases[] = {
      {3, 2, sim::RelayMode::kOff}, {2, 1, sim::RelayMode::kOn}, {1, 0, sim::RelayMode::kAuto}};
  Request command;
  for (const auto& c : cases) {
    command.Set(c.command);
    WriteRelay(link_, command);
    EXPECT_EQ(command.Value(), 0);
    EXPECT_EQ(link_.RequestBuffer[7], c.dataByte);
    EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.Mode(); }), c.mode);
  }

  // A late acknowledgement is left on the line: no drain.
  int drained = 0;
  link_.SetTraceHook(
      [&](const FrameEvent& e) { drained += e.direction == FrameDirection::Drained; });
  relay_->AddFault({.kind = sim::FaultKind::kLateReply, .function = 0x0F, .param = 150});
  command.Set(3);
  WriteRelay(link_, command);
  EXPECT_EQ(command.Value(), 0);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(drained, 0);
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.ModeCommands(); }), 4u);

  // "Auto" chosen while "On" is on its way is not wiped with it.
  relay_->ClearFaults();
  link_.SetTraceHook([&](const FrameEvent& e) {
    if (e.direction == FrameDirection::Sent) command.Set(1);
  });
  command.Set(2);
  WriteRelay(link_, command);
  EXPECT_EQ(command.Value(), 1);
}
