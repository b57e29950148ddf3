// ReadCalibration, WriteCalibration and ClearHistory against the simulated relay.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "calibration_record.h"
#include "calibration_transactions.h"
#include "history_view.h"
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
  bool ClearingAsked() const override { return asked; }
  bool JournalBefore(const CalibrationWords& held, const CalibrationWords& written) override {
    backups.push_back(held);
    EXPECT_EQ(written, toWrite);
    if (onJournal) onJournal();
    return letGo;
  }
  void JournalAfter(Outcome outcome, const CalibrationWords&) override {
    journalled.push_back(outcome);
  }
  std::optional<std::vector<uint8_t>> HistoryExport(
      const std::vector<HistoryRecord>& ring) override {
    std::string bytes;
    if (!HistoryCsv(HistoryTable(ring, StampText), bytes)) return std::nullopt;
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }
  bool JournalBeforeClearing(const std::optional<std::vector<uint8_t>>& csv,
                             size_t records) override {
    if (onJournal) onJournal();
    csvs.emplace_back(csv->begin(), csv->end());
    ringSizes.push_back(records);
    return letGo;
  }
  void JournalAfterClearing(Outcome outcome) override { journalled.push_back(outcome); }
  void ClearingProgress(int records, int slots) override { progress.emplace_back(records, slots); }

  static std::string StampText(const EventStamp& t) {
    return std::to_string(t.year) + "-" + std::to_string(t.month) + "-" + std::to_string(t.day) +
           " " + std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" +
           std::to_string(t.second);
  }

  bool letGo = true;                          // the journal steps' answer
  bool asked = true;                          // ClearingAsked()
  std::function<void()> onJournal;            // called inside each journal step
  std::vector<CalibrationWords> backups;      // what each JournalBefore was given as held
  std::vector<std::string> csvs;              // what each JournalBeforeClearing was given
  std::vector<size_t> ringSizes;              // and its record count
  std::vector<std::pair<int, int>> progress;  // each ClearingProgress: records, slots
  Outcomes journalled;
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
    ASSERT_TRUE(link_.Bind(
        {.slot = kLiveRequest, .request = &request_, .transaction = [this](TModbus&) { job_(); }}));
    sim::RelayConfig config;
    config.serial = 4711;
    Connect(config);
  }
  // Clears the history as the worker does: the walk before it runs only on a worker that runs.
  void Clear() {
    job_ = [this] { ClearHistory(link_, window_); };
    Serve(request_, 1, std::chrono::seconds(30));
  }

  // A relay whose received bytes are kept in wire_.
  void ConnectTraced(sim::RelayConfig config) {
    sim::VirtualOptions options;
    options.trace = [this](bool incoming, std::span<const uint8_t> bytes,
                           std::chrono::steady_clock::time_point) {
      std::lock_guard lock(wireMutex_);
      if (incoming) wire_.insert(wire_.end(), bytes.begin(), bytes.end());
    };
    Connect(std::move(config), TestLine(), std::move(options));
  }
  // Whether a write to register 0x8001 (the clearing's code) has reached the relay.
  bool ClearingSent() {
    static constexpr uint8_t kFrame[] = {0x01, 0x10, 0x80, 0x01};
    std::lock_guard lock(wireMutex_);
    return std::search(wire_.begin(), wire_.end(), std::begin(kFrame), std::end(kFrame)) !=
           wire_.end();
  }
  CalibrationWords RelayBlock() const { return HoldingRegisters<kCalibrationWords>(0x18); }
  uint64_t Clears() {
    return relay_->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); });
  }

  FakeCalibrationWindow window_;
  Request request_;
  std::function<void()> job_;
  std::mutex wireMutex_;
  std::vector<uint8_t> wire_;
};

}  // namespace

TEST_F(CalibrationTransactions, ReadWriteAndReadBack) {
  ReadCalibration(link_, window_);
  EXPECT_EQ(window_.record, (CalibrationWords{1000, 1000, 1000, 10000, 0x00C8, 4711, 0, 0x0101}));
  EXPECT_EQ(window_.boxesFilled, 1);

  // The relay changes after the read: the backup is what it holds when the write goes out.
  relay_->SetRegister(sim::Table::kHolding, 0x19, 1050);
  const CalibrationWords previous = RelayBlock();
  window_.toWrite = {1001, 999, 1100, 9987, 0x00C8, 0x2345, 0x0001, 0x0101};
  const uint64_t before = Requests();
  const auto t0 = Now();
  WriteCalibration(link_, window_);
  EXPECT_GE(Now() - t0, 100ms);  // the relay's time to store it
  EXPECT_EQ(RelayBlock(), window_.toWrite);
  EXPECT_EQ(Requests() - before, 3u);  // the backup's read, the write and its read-back
  EXPECT_EQ(window_.backups, std::vector<CalibrationWords>{previous});
  EXPECT_EQ(window_.journalled, Outcomes{Outcome::Ok});
  EXPECT_EQ(window_.boxesFilled, 1);  // only the read's
  EXPECT_EQ(window_.statuses, (Outcomes{Outcome::Ok, Outcome::Ok}));
}

// No backup kept, no write: a journal step that refuses, or a backup read that fails, ends the
// write before a word of it is sent.
TEST_F(CalibrationTransactions, NoWriteWithoutTheJournalStep) {
  const CalibrationWords original = RelayBlock();
  for (bool readFails : {false, true}) {
    SCOPED_TRACE(readFails ? "the backup's read fails" : "the journal step refuses");
    window_ = FakeCalibrationWindow();
    window_.toWrite = {1001, 999, 1100, 9987, 0x00C8, 0x2345, 0x0001, 0x0101};
    window_.letGo = false;
    if (readFails) relay_->AddFault({.kind = sim::FaultKind::kBadCrc, .function = 0x03});
    const uint64_t before = Requests();
    WriteCalibration(link_, window_);
    EXPECT_EQ(Requests() - before, 1u);  // the read only
    EXPECT_EQ(RelayBlock(), original);
    EXPECT_EQ(window_.backups.size(), readFails ? 0u : 1u);
    EXPECT_EQ(window_.statuses, readFails ? Outcomes{Outcome::CommunicationError} : Outcomes{});
    EXPECT_TRUE(window_.journalled.empty());
  }
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
       sim::FaultRule{.kind = sim::FaultKind::kSilence, .function = 0x03, .skip = 1},
       {Outcome::Unknown, LinkError::NoReply},
       {}},
      {"the read-back refused",
       {},
       sim::FaultRule{.kind = sim::FaultKind::kException, .function = 0x03, .skip = 1},
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
    ASSERT_EQ(window_.journalled.size(), 1u);
    EXPECT_EQ(window_.journalled[0].kind, c.outcome.kind);
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
  // The write went out, its acknowledgement spoilt: not known, and the record is not touched.
  relay_->AddFault({.kind = sim::FaultKind::kBadEcho, .function = 0x10});
  WriteCalibration(link_, window_);
  EXPECT_EQ(window_.statuses, (Outcomes{Outcome::CommunicationError, Outcome::Unknown}));
  EXPECT_EQ(window_.record, (CalibrationWords{1, 2, 3, 4, 5, 6, 7, 8}));
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
      // Once the code went out, an answer that is no good one leaves the clearing not known:
      // refused (5 bytes, bad CRC), carried out, or not heard.
      {1234, sim::FaultKind::kBadCrc, Outcome::Unknown, 1},
      {kClearHistoryCode, sim::FaultKind::kBadEcho, Outcome::Unknown, 2},
      {kClearHistoryCode, sim::FaultKind::kSilence, Outcome::Unknown, 2},
  };
  for (const auto& c : cases) {
    window_.statuses.clear();
    window_.journalled.clear();
    window_.code = c.code;
    if (c.fault) relay_->AddFault({.kind = *c.fault, .function = 0x10});
    const auto t0 = Now();
    Clear();
    EXPECT_GE(Now() - t0, 1500ms);
    EXPECT_EQ(window_.statuses, Outcomes{c.outcome}) << c.code;
    EXPECT_EQ(window_.journalled, Outcomes{c.outcome}) << c.code;
    EXPECT_EQ(Clears(), c.clears) << c.code;
    EXPECT_EQ(WireWord(&link_.RequestBuffer[7]), c.code);
  }
  EXPECT_TRUE(relay_->WithModel([](sim::RelayModel& m) { return m.Events(); }).empty());
}

// The whole ring, walked right before the clearing, is its backup, and the code goes out only
// after the journal step has it. A walk that does not read the ring to its end sends nothing.
TEST_F(CalibrationTransactions, ClearingKeepsTheWholeRingFirst) {
  const struct {
    const char* what;
    std::optional<sim::FaultRule> fault;
    bool badSize = false;
    bool asked = true;
  } cases[] = {
      {"the whole ring read", {}},
      {"the pointer's read fails", sim::FaultRule{.kind = sim::FaultKind::kBadCrc, .function = 3}},
      {"a record's read fails twice",
       sim::FaultRule{.kind = sim::FaultKind::kSilence, .function = 3, .count = 2, .skip = 6}},
      {"no ring", {}, true},
      {"the clearing dropped (the window closed)", {}, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::RelayConfig config;
    config.history_size_code = 1;  // 31 slots
    config.history_fill = 40;      // wrapped: every slot holds an event
    ConnectTraced(config);
    {
      std::lock_guard lock(wireMutex_);
      wire_.clear();
    }
    if (c.fault) relay_->AddFault(*c.fault);
    if (c.badSize) relay_->SetRegister(sim::Table::kHolding, 0x45, 0);
    std::vector<HistoryRecord> ring;
    for (const sim::EventRecord& event :
         relay_->WithModel([](sim::RelayModel& m) { return m.Events(); }))
      ring.push_back(event.Registers());
    ASSERT_EQ(ring.size(), 31u);
    window_ = FakeCalibrationWindow();
    window_.asked = c.asked;
    window_.onJournal = [this] {
      Settle(100ms);  // a frame already sent reaches the relay meanwhile
      EXPECT_FALSE(ClearingSent()) << "the code before the backup";
      // The walk told its count as it went: none of 0 slots, none of 31, then one by one.
      std::vector<std::pair<int, int>> told{{0, 0}};
      for (int read = 0; read <= 31; ++read) told.emplace_back(read, 31);
      EXPECT_EQ(window_.progress, told);
    };
    Clear();
    const bool sent = !c.fault && !c.badSize && c.asked;
    EXPECT_EQ(ClearingSent(), sent);
    EXPECT_EQ(Clears(), sent ? 1u : 0u);
    EXPECT_EQ(window_.statuses, Outcomes{sent ? Outcome::Ok : Outcome::CommunicationError});
    EXPECT_EQ(window_.journalled, sent ? Outcomes{Outcome::Ok} : Outcomes{});
    if (!sent) {
      EXPECT_TRUE(window_.csvs.empty());
      continue;
    }
    std::string expected;
    ASSERT_TRUE(HistoryCsv(HistoryTable(ring, FakeCalibrationWindow::StampText), expected));
    EXPECT_EQ(window_.csvs, std::vector<std::string>{expected});
    EXPECT_EQ(window_.ringSizes, std::vector<size_t>{31});
  }
}

// A stop that comes while the journal entry is written - the window closed or disconnected (a
// pause of the worker), nx480ctl's Ctrl-C (HoldChanges) - holds the change back: neither the
// write nor the clearing's code reaches the relay, and the entry is closed as not sent. The
// pauses come first: a held link holds every later change.
TEST_F(CalibrationTransactions, StopDuringTheJournalStepSendsNothing) {
  for (const bool hold : {false, true}) {
    for (const bool clearing : {false, true}) {
      SCOPED_TRACE(std::string(hold ? "held" : "paused") + (clearing ? ", clearing" : ", write"));
      sim::RelayConfig config;
      config.serial = 4711;
      config.history_size_code = 1;  // 31 slots
      config.history_fill = 5;
      ConnectTraced(config);
      const CalibrationWords original = RelayBlock();
      window_ = FakeCalibrationWindow();
      window_.toWrite = {1001, 999, 1100, 9987, 0x00C8, 0x2345, 0x0001, 0x0101};
      window_.onJournal = [this, hold] {
        if (hold) {
          link_.HoldChanges();
        } else {
          EXPECT_FALSE(link_.Suspend());  // on the worker: the pause is recorded
        }
      };
      uint64_t before = 0;
      job_ = [&] {
        before = Requests();
        if (clearing) {
          ClearHistory(link_, window_);
        } else {
          WriteCalibration(link_, window_);
        }
      };
      Serve(request_, 1, std::chrono::seconds(30));
      Settle(300ms);  // a frame sent would reach the relay meanwhile
      EXPECT_FALSE(ClearingSent());
      EXPECT_EQ(Clears(), 0u);
      EXPECT_EQ(RelayBlock(), original);
      if (!clearing) {
        EXPECT_EQ(Requests() - before, 1u);  // the backup's read only
      }
      ASSERT_EQ(window_.journalled.size(), 1u);
      EXPECT_EQ(window_.journalled[0].kind, kChangeHeldBack.kind);
      EXPECT_EQ(window_.journalled[0].error, LinkError::Stopped);
    }
  }
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
    job_ = [&] { c.transaction(link_, window_); };
    Serve(request_, 1, std::chrono::seconds(30));
    EXPECT_EQ(window_.statuses, Outcomes{Outcome::Ok}) << c.what;
  }
}
