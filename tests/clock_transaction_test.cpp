// ReadClock, WriteClock and WriteRelay against the simulated relay.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
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
  bool JournalBefore(double relayTime, double pcTime) override {
    before.push_back({relayTime, pcTime});
    if (onJournal) onJournal();
    return letGo;
  }
  void JournalAfter(Outcome outcome, std::optional<double> remaining) override {
    journalled.push_back(outcome);
    remainingSeconds = remaining;
  }

  double pcNow = 0;
  std::vector<std::pair<double, double>> shown;
  Outcomes statuses;
  bool letGo = true;                              // JournalBefore's answer
  std::function<void()> onJournal;                // called inside JournalBefore
  std::vector<std::pair<double, double>> before;  // what each JournalBefore was given
  Outcomes journalled;
  std::optional<double> remainingSeconds;
};

class ClockTransactions : public RelayLinkTest<> {
 protected:
  void SetUp() override {
    sim::RelayConfig config;
    config.clock = sim::ParseDateTime("2026-12-09T10:20:30.45");
    config.clock_running = false;
    sim::VirtualOptions options;
    options.trace = [this](bool incoming, std::span<const uint8_t> bytes,
                           std::chrono::steady_clock::time_point) {
      std::lock_guard lock(wireMutex_);
      if (incoming) wire_.insert(wire_.end(), bytes.begin(), bytes.end());
    };
    Connect(config, TestLine(), std::move(options));
  }

  sim::DateTime RelayClock() {
    return relay_->WithModel([](sim::RelayModel& m) { return m.ClockAt(); });
  }
  // The bytes the relay has received.
  std::vector<uint8_t> Wire() {
    std::lock_guard lock(wireMutex_);
    return wire_;
  }

  FakeClockWindow window_;
  std::mutex wireMutex_;
  std::vector<uint8_t> wire_;
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

  // Refused (a year the relay does not keep): a failure, nothing changed; acknowledged with a
  // wrong echo: the set went out, its result not known. Nothing shown either way.
  window_ = FakeClockWindow();
  window_.pcNow = At(1999, 6, 1, 12, 0, 0, 0);
  WriteClock(link_, window_);
  window_.pcNow = At(2030, 6, 1, 12, 0, 0, 0);
  relay_->AddFault({.kind = sim::FaultKind::kBadEcho, .function = 0x10});
  WriteClock(link_, window_);
  EXPECT_EQ(window_.statuses, (Outcomes{Outcome::CommunicationError, Outcome::Unknown}));
  EXPECT_TRUE(window_.shown.empty());
}

// The set keeps the relay's clock, read right then, in the journal before it goes out, and the
// offset that remains after it.
TEST_F(ClockTransactions, WriteReadsTheClockForTheJournalThenSetsAndReadsAgain) {
  window_.pcNow = At(2026, 12, 9, 12, 0, 0, 0);
  size_t wireAtJournal = 0;
  window_.onJournal = [&] {
    Settle(100ms);  // time for whatever was sent to arrive
    wireAtJournal = Wire().size();
  };
  WriteClock(link_, window_);
  EXPECT_EQ(window_.statuses, Outcomes{Outcome::Ok});
  ASSERT_EQ(window_.before.size(), 1u);
  EXPECT_EQ(SplitDateTime(window_.before[0].first), (CalendarTime{2026, 12, 9, 10, 20, 30, 450}));
  EXPECT_EQ(window_.before[0].second, window_.pcNow);
  EXPECT_EQ(wireAtJournal, 8u);             // the read only: no set on the wire yet
  EXPECT_EQ(Wire().size(), 8u + 17u + 8u);  // then the set and the read once more
  EXPECT_EQ(window_.journalled, Outcomes{Outcome::Ok});
  // The relay's clock stands still at the time sent: 20 ms ahead of the PC's.
  ASSERT_TRUE(window_.remainingSeconds.has_value());
  EXPECT_NEAR(*window_.remainingSeconds, 0.02, 0.001);
}

// Each other end: what is set, shown and journalled; nothing is left on the line after it.
TEST_F(ClockTransactions, WriteEndsForTheJournal) {
  const sim::FaultRule firstRead{.kind = sim::FaultKind::kBadCrc, .function = 0x03};
  const sim::FaultRule readAgain{.kind = sim::FaultKind::kBadCrc, .function = 0x03, .skip = 1};
  const Outcomes failed{Outcome::CommunicationError};
  const Outcomes ok{Outcome::Ok};
  const struct {
    const char* name;
    bool letGo;                           // JournalBefore's answer
    std::optional<sim::FaultRule> fault;  // on the relay's reply
    int year;                             // the PC's (1999: one the relay refuses)
    size_t journalSteps;                  // JournalBefore
    bool set;                             // the relay's clock was set
    Outcomes statuses, journalled;
  } cases[] = {
      // clang-format off
      {"the journal step refuses", false, {}, 2026, 1, false, {}, {}},
      {"the first read fails", true, firstRead, 2026, 0, false, failed, {}},
      {"the set refused", true, {}, 1999, 1, false, failed, failed},
      {"the read once more fails: the offset unknown", true, readAgain, 2026, 1, true, ok, ok},
      // clang-format on
  };
  const sim::DateTime old = *sim::ParseDateTime("2020-01-01T00:00");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    window_ = FakeClockWindow();
    window_.pcNow = At(c.year, 12, 9, 12, 0, 0, 0);
    window_.letGo = c.letGo;
    relay_->WithModel([&](sim::RelayModel& m) { m.SetClock(old, false); });
    if (c.fault) relay_->AddFault(*c.fault);
    WriteClock(link_, window_);
    EXPECT_EQ(window_.statuses, c.statuses);
    EXPECT_EQ(window_.before.size(), c.journalSteps);
    EXPECT_EQ(!(RelayClock() == old), c.set);
    EXPECT_EQ(window_.journalled, c.journalled);
    EXPECT_FALSE(window_.remainingSeconds.has_value());
    relay_->ClearFaults();
    window_ = FakeClockWindow();
    ReadClock(link_, window_);
    EXPECT_EQ(window_.statuses, Outcomes{Outcome::Ok});
  }
}

// A stop that comes while the journal entry is written (nx480ctl's Ctrl-C) holds the set back:
// nothing but the clock's read reaches the relay, and the entry is closed as not sent.
TEST_F(ClockTransactions, StopDuringTheJournalStepSetsNothing) {
  window_.pcNow = At(2026, 12, 9, 23, 15, 2, 120);
  window_.onJournal = [this] { link_.HoldChanges(); };
  WriteClock(link_, window_);
  EXPECT_EQ(Wire().size(), 8u);  // the read only
  EXPECT_EQ(RelayClock(), *sim::ParseDateTime("2026-12-09T10:20:30.45"));
  ASSERT_EQ(window_.journalled.size(), 1u);
  EXPECT_EQ(window_.journalled[0].kind, kChangeHeldBack.kind);
  EXPECT_EQ(window_.journalled[0].error, LinkError::Stopped);
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
    int32_t sent = 0;
    WriteRelay(link_, command, &sent);
    EXPECT_EQ(sent, c.command);
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
  Settle(200ms);
  EXPECT_EQ(drained, 0);
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.ModeCommands(); }), 4u);

  // "Auto" chosen while "On" is on its way is not wiped with it.
  relay_->ClearFaults();
  link_.SetTraceHook([&](const FrameEvent& e) {
    if (e.direction == FrameDirection::Sent) command.Set(1);
  });
  command.Set(2);
  int32_t sent = 0;
  WriteRelay(link_, command, &sent);
  EXPECT_EQ(sent, 2);
  EXPECT_EQ(command.Value(), 1);
}
