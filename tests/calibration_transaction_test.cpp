// ReadCalibration, WriteCalibration and ClearHistory against the simulated relay.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "calibration_record.h"
#include "calibration_transactions.h"
#include "relay_fixture.h"

using namespace nx480;
using namespace std::chrono_literals;

namespace {

using Outcomes = std::vector<Outcome>;

class FakeCalibrationWindow : public CalibrationWindow {
 public:
  void StoreCalibration(const CalibrationWords& words) override { record = words; }
  void CalibrationToBoxes() override { ++boxesFilled; }
  void StoreDifferences(const CalibrationWords& written, const CalibrationWords& held) override {
    differing = DifferingNames(written, held);
  }
  void ShowResult(Outcome outcome) override { statuses.push_back(outcome); }
  const CalibrationWords& WriteHandOver() const override { return toWrite; }
  uint16_t ClearHistoryCode() const override { return code; }

  CalibrationWords record{};
  CalibrationWords toWrite{};
  uint16_t code = kClearHistoryCode;
  int boxesFilled = 0;
  std::vector<std::string> differing;
  Outcomes statuses;
};

class CalibrationTransactions : public RelayLinkTest<> {
 protected:
  void SetUp() override {
    sim::RelayConfig config;
    config.serial = 4711;
    Connect(config);
  }

  CalibrationWords RelayBlock() const { return HoldingRegisters<kCalibrationWords>(0x18); }
  uint64_t Clears() {
    return relay_->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); });
  }

  FakeCalibrationWindow window_;
};

}  // namespace

TEST_F(CalibrationTransactions, ReadWriteAndReadBack) {
  ReadCalibration(link_, window_);
  EXPECT_EQ(window_.record, (CalibrationWords{1000, 1000, 1000, 10000, 0x00C8, 4711, 0, 0x0101}));
  EXPECT_EQ(window_.boxesFilled, 1);

  window_.toWrite = {1001, 999, 1100, 9987, 0x00C8, 0x2345, 0x0001, 0x0101};
  const uint64_t before = Requests();
  const auto t0 = std::chrono::steady_clock::now();
  WriteCalibration(link_, window_);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 100ms);  // the relay's time to store it
  EXPECT_EQ(RelayBlock(), window_.toWrite);
  EXPECT_EQ(Requests() - before, 2u);  // the write and its read-back
  EXPECT_EQ(window_.boxesFilled, 1);   // only the read's
  EXPECT_EQ(window_.statuses, (Outcomes{Outcome::Ok, Outcome::Ok}));
}

// A relay that keeps a value of its own still acknowledges the write: the read-back tells.
TEST_F(CalibrationTransactions, WriteReadsBackAndNamesWhatTheRelayHoldsOtherwise) {
  const struct {
    const char* what;
    std::vector<std::pair<uint16_t, uint16_t>> kept;  // register, value the relay keeps
    std::optional<sim::FaultRule> fault;              // on the read-back
    Outcome outcome;
    std::vector<std::string> differing;
  } cases[] = {
      {"held as written", {}, {}, Outcome::Ok, {}},
      {"a factor kept", {{0x19, 1000}}, {}, Outcome::Differs, {"KalU2"}},
      {"the serial number's high word", {{0x1E, 7}}, {}, Outcome::Differs, {"s/n"}},
      {"KalF and a carried word",
       {{0x1C, 0}, {0x1B, 10000}},
       {},
       Outcome::Differs,
       {"KalF", "slovo 4"}},
      {"no reply to the read-back",
       {{0x19, 1000}},
       sim::FaultRule{.kind = sim::FaultKind::kSilence, .function = 0x03},
       {Outcome::Unknown, LinkError::NoReply},
       {}},
      {"the read-back refused",
       {},
       sim::FaultRule{.kind = sim::FaultKind::kException, .function = 0x03},
       {Outcome::Unknown, LinkError::Exception},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Connect();
    relay_->WithModel([&](sim::RelayModel& m) {
      m.SetAfterWriteHook([kept = c.kept](sim::Table, uint16_t, uint16_t, sim::RegisterBank& bank) {
        for (const auto& [address, value] : kept) bank.holding.Set(address, value);
      });
    });
    if (c.fault) relay_->AddFault(*c.fault);
    window_ = FakeCalibrationWindow();
    window_.toWrite = {1001, 999, 1100, 9987, 0x00C8, 0x2345, 0x0001, 0x0101};
    WriteCalibration(link_, window_);
    ASSERT_EQ(window_.statuses.size(), 1u);
    EXPECT_EQ(window_.statuses[0].kind, c.outcome.kind);
    EXPECT_EQ(window_.statuses[0].error, c.outcome.error);
    EXPECT_EQ(window_.differing, c.differing);
    // What the relay holds fills the record and the boxes only when it differs.
    const bool differs = c.outcome == Outcome::Differs;
    EXPECT_EQ(window_.record, differs ? RelayBlock() : CalibrationWords{});
    EXPECT_EQ(window_.boxesFilled, differs ? 1 : 0);
  }
}

TEST_F(CalibrationTransactions, FailuresChangeNothingOnTheWindowsSide) {
  window_.record = {1, 2, 3, 4, 5, 6, 7, 8};
  relay_->AddFault({.kind = sim::FaultKind::kShortReply, .function = 0x03});
  ReadCalibration(link_, window_);
  EXPECT_EQ(window_.record, (CalibrationWords{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(window_.boxesFilled, 0);
  relay_->AddFault({.kind = sim::FaultKind::kBadEcho, .function = 0x10});
  WriteCalibration(link_, window_);
  EXPECT_EQ(window_.statuses, (Outcomes{Outcome::CommunicationError, Outcome::CommunicationError}));
}

TEST_F(CalibrationTransactions, ClearHistoryTellsARefusedCodeFromABrokenLine) {
  const struct {
    uint16_t code;
    std::optional<sim::FaultKind> fault;
    Outcome outcome;
    uint64_t clears;  // accepted by the relay so far
  } cases[] = {
      {kClearHistoryCode, {}, Outcome::Ok, 1},
      {1234, {}, Outcome::Refused, 1},                                  // 01 90 03 CRC
      {1234, sim::FaultKind::kBadCrc, Outcome::CommunicationError, 1},  // 5 bytes, bad CRC
      {kClearHistoryCode, sim::FaultKind::kBadEcho, Outcome::CommunicationError, 2},
      {kClearHistoryCode, sim::FaultKind::kSilence, Outcome::CommunicationError, 2},
  };
  for (const auto& c : cases) {
    window_.statuses.clear();
    window_.code = c.code;
    if (c.fault) relay_->AddFault({.kind = *c.fault, .function = 0x10});
    const auto t0 = std::chrono::steady_clock::now();
    ClearHistory(link_, window_);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 1500ms);
    EXPECT_EQ(window_.statuses, Outcomes{c.outcome}) << c.code;
    EXPECT_EQ(Clears(), c.clears) << c.code;
    EXPECT_EQ(WireWord(&link_.RequestBuffer[7]), c.code);
  }
  EXPECT_TRUE(relay_->WithModel([](sim::RelayModel& m) { return m.Events(); }).empty());
}

// The relay answers a calibration store and a history clear only once it has done the work,
// after more than the reply time-out: a transaction gets the answer only by waiting first.
TEST_F(CalibrationTransactions, WaitsForTheRelaysWorkBeforeReadingTheAnswer) {
  const sim::RelayConfig relay;  // the simulated relay's times, as the real one takes
  const struct {
    const char* what;
    std::chrono::milliseconds work;
    const FrameTemplate& request;
    void (*transaction)(TModbus&, CalibrationWindow&);
  } cases[] = {
      {"calibration stored", relay.calibration_store_time, templates::kCalibrationWrite,
       &WriteCalibration},
      {"history cleared", relay.history_clear_time, templates::kClearHistory, &ClearHistory},
  };
  const PortTimeouts line = TestLine().timeouts;
  for (const auto& c : cases) {
    const std::chrono::milliseconds replyTimeout(
        line.readConstant + line.readPerByte * static_cast<int>(c.request.replyLength));
    ASSERT_GT(c.work, replyTimeout) << c.what << ": a reply read at once would come in time";
    window_.statuses.clear();
    c.transaction(link_, window_);
    EXPECT_EQ(window_.statuses, Outcomes{Outcome::Ok}) << c.what;
  }
}
