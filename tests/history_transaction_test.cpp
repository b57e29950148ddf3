// ReadHistory against the simulated relay's event ring, run by the worker as the window's
// request would run it.
#include "history_transaction.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "relay_fixture.h"

using namespace nx480;
using namespace std::chrono_literals;
namespace sim = nx480::sim;

namespace {

class FakeWindow : public HistoryWindow {
 public:
  explicit FakeWindow(Request& request) : request_(request) {}
  void BeginReading(int32_t reading) override { begun.push_back(reading); }
  void ShowHistoryRecord(const HistoryRecord& record) override {
    shown.push_back(record);
    if (onShow) onShow(shown.size());
  }
  int32_t RequestedReading() const override { return request_.Value(); }

  std::vector<int32_t> begun;
  std::vector<HistoryRecord> shown;
  std::function<void(size_t)> onShow;  // after the n-th record

 private:
  Request& request_;
};

class HistoryWalkTest : public RelayLinkTest<> {
 protected:
  void SetUp() override {
    Connect();
    link_.SetTraceHook([this](const FrameEvent& e) {
      if (e.direction == FrameDirection::Sent && e.bytes.size() == 8 && e.bytes[1] == 0x03)
        addresses_.push_back(WireWord(&e.bytes[2]));
    });
    ASSERT_TRUE(link_.Bind(
        {.slot = kHistoryRequest, .request = &request_, .transaction = [this](TModbus& l) {
           walk_ = ReadHistory(l, window_);
           // As the window does: the reading served is done, a newer one it started is too.
           int32_t served = walk_.reading;
           request_.Flag().compare_exchange_strong(served, 0);
         }}));
  }

  void Ring(int code, int fill) {
    ASSERT_TRUE(relay_->WithModel([&](sim::RelayModel& m) { return m.MakeHistory(code, fill); }));
  }
  std::vector<HistoryRecord> RelayEvents() {
    std::vector<HistoryRecord> out;
    for (const sim::EventRecord& e :
         relay_->WithModel([](sim::RelayModel& m) { return m.Events(); }))
      out.push_back(e.Registers());
    return out;
  }
  // Runs the request on the worker until the loop has cleared it.
  void Walk() {
    window_.shown.clear();
    window_.begun.clear();
    addresses_.clear();
    Serve(request_, 1, 60s);
  }
  static uint16_t Slot(int s) { return static_cast<uint16_t>(0x4100 + 8 * s); }

  Request request_;
  FakeWindow window_{request_};
  HistoryWalk walk_;
  std::vector<uint16_t> addresses_;  // of the reads sent, the pointer read included
};

}  // namespace

TEST_F(HistoryWalkTest, WalksDownFromThePointerAndWrapsAround) {
  struct Case {
    int code, fill;
    std::vector<int> firstSlots;  // the slots read first, in order
    int lastSlot;
    HistoryEnd end;
  };
  const Case cases[] = {
      {1, 31, {30, 29}, 0, HistoryEnd::AllRead},    // pointer 0: slots - 1 first, 0 last
      {1, 45, {13, 12}, 14, HistoryEnd::AllRead},   // wrapped: 13..0, 30..14
      {4, 40, {39, 38}, 0, HistoryEnd::EmptySlot},  // not full: ends at the empty slot 222
      {32, 2015, {2014}, 0, HistoryEnd::AllRead},   // the largest ring
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code << " fill " << c.fill);
    Ring(c.code, c.fill);
    Walk();
    EXPECT_EQ(walk_.end, c.end);
    const int held = std::min(c.fill, sim::SlotsOfSizeCode(c.code));
    EXPECT_EQ(window_.shown, RelayEvents());
    EXPECT_EQ(static_cast<int>(window_.shown.size()), held);
    ASSERT_GE(addresses_.size(), c.firstSlots.size() + 1);
    EXPECT_EQ(addresses_[0], 0x44);
    for (size_t i = 0; i < c.firstSlots.size(); ++i)
      EXPECT_EQ(addresses_[i + 1], Slot(c.firstSlots[i]));
    // The last slot read: the last record handed over, or the empty slot after it.
    const size_t lastRecord =
        c.end == HistoryEnd::EmptySlot ? addresses_.size() - 2 : addresses_.size() - 1;
    EXPECT_EQ(addresses_[lastRecord], Slot(c.lastSlot));
  }
}

TEST_F(HistoryWalkTest, EmptyFirstRecordHandsOverNothing) {
  Ring(4, 0);
  Walk();
  EXPECT_EQ(walk_.end, HistoryEnd::EmptySlot);
  EXPECT_TRUE(window_.shown.empty());
  EXPECT_EQ(addresses_, (std::vector<uint16_t>{0x44, Slot(222)}));

  // A pointer that names a slot whose predecessor is empty (the relay cleared it).
  Ring(4, 10);
  for (uint16_t r = 0; r < 8; ++r) relay_->SetRegister(sim::Table::kHolding, Slot(9) + r, 0);
  Walk();
  EXPECT_EQ(walk_.end, HistoryEnd::EmptySlot);
  EXPECT_TRUE(window_.shown.empty());
}

TEST_F(HistoryWalkTest, AFailedRecordReadIsRepeatedOnce) {
  Ring(4, 10);
  const std::vector<HistoryRecord> all = RelayEvents();

  // Lost once, then answered: nothing is missing; the fourth record was asked for twice.
  relay_->AddFault({.kind = sim::FaultKind::kSilence, .function = 0x03, .count = 1, .skip = 4});
  Walk();
  EXPECT_EQ(walk_.end, HistoryEnd::EmptySlot);
  EXPECT_EQ(window_.shown, all);
  ASSERT_GE(addresses_.size(), 6u);
  EXPECT_EQ(addresses_[4], Slot(6));
  EXPECT_EQ(addresses_[5], Slot(6));

  // Twice in a row (a bad CRC, then an exception): the walk ends with the three before.
  relay_->AddFault({.kind = sim::FaultKind::kBadCrc, .function = 0x03, .count = 1, .skip = 4});
  relay_->AddFault({.kind = sim::FaultKind::kException, .function = 0x03, .count = 1, .skip = 5});
  Walk();
  EXPECT_EQ(walk_.end, HistoryEnd::RecordFailed);
  EXPECT_EQ(window_.shown, std::vector<HistoryRecord>(all.begin(), all.begin() + 3));
  EXPECT_EQ(addresses_.size(), 6u);

  // The pointer read failing ends it at once.
  relay_->AddFault({.kind = sim::FaultKind::kSilence, .function = 0x03, .count = 1});
  Walk();
  EXPECT_EQ(walk_.end, HistoryEnd::PointerFailed);
  EXPECT_TRUE(window_.shown.empty());
  EXPECT_EQ(addresses_.size(), 1u);
}

TEST_F(HistoryWalkTest, StopsAfterTheRecordInProgressOrStartsAgainForANewReading) {
  Ring(4, 40);
  const std::vector<HistoryRecord> all = RelayEvents();

  // Closed while the third record was being shown.
  window_.onShow = [this](size_t n) {
    if (n == 3) request_.Clear();
  };
  Walk();
  EXPECT_EQ(walk_.end, HistoryEnd::Closed);
  EXPECT_EQ(window_.shown.size(), 3u);
  EXPECT_EQ(addresses_.size(), 4u);  // no request after it

  // Closed and shown again: a new reading from the newest record, to the end.
  window_.onShow = [this](size_t n) {
    if (n == 3) request_.Set(2);
  };
  Walk();
  EXPECT_EQ(walk_.end, HistoryEnd::EmptySlot);
  EXPECT_EQ(window_.begun, (std::vector<int32_t>{1, 2}));
  ASSERT_EQ(window_.shown.size(), 3 + all.size());
  EXPECT_EQ(std::vector<HistoryRecord>(window_.shown.begin() + 3, window_.shown.end()), all);
}

TEST(HistorySlots, SizeCodeGivesTheRingOrNone) {
  EXPECT_EQ(HistorySlots(1), 31);
  EXPECT_EQ(HistorySlots(32), 2015);
  EXPECT_EQ(HistorySlots(0xAB04), 223);  // the high byte is not used
  EXPECT_EQ(HistorySlots(0), 0);
  EXPECT_EQ(HistorySlots(96), 6111);  // the last slot ends at 0xFFFF... or before
  EXPECT_EQ(HistorySlots(97), 0);     // ... but not past it
}
