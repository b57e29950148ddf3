// Every transaction against every fault of the line, as one table: what the transaction
// reports, and that the transaction after it gets the right answer.
//
// Each row is one transaction; the fault hits the reply to its first request of the row's
// function after the row's `skip` of them (a settings write reads what it replaces first: its
// write rows skip the backup's two reads, its read-back row those and nothing else; a clock set
// reads the relay's clock before and after it). Each cell is
// what the transaction reports under that fault, followed by ", next pays" when bytes are still on
// the line afterwards by design: the transaction does not drain (the identification, the serial
// number and the relay mode never do), or a whole reply passed and the surplus behind it is
// left for whoever reads next. Then the next settings read fails, drains, and the one after it
// is right. In every other cell the very next settings read is right: nothing was left, or the
// transaction's own drain removed it. A row that says how its success reads also checks the
// error the transaction carries: none in a cell of success, the fault's own in any other.
//
// A change whose frame went out whole is "unknown" once its acknowledgement does not come or
// comes spoilt: the relay may have carried it out (the simulated relay does, under every fault but
// silence and an exception reply), so the tool cannot call it failed. It is "error" only when
// nothing that changes the relay went out: the read before it failed, or the relay refused the
// frame with an exception reply.
//
// The late reply comes 70 ms after the read of it has given up (the transaction's fixed wait,
// plus the reply's read limit of 1 ms a byte + 100 ms; the fault's delay comes on top of the
// relay's own time to carry the command out): inside the drain that follows a failure, or
// inside the next read when there is none.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "calibration_transactions.h"
#include "clock_transactions.h"
#include "firmware_image.h"
#include "history_transaction.h"
#include "record_transaction.h"
#include "live_values.h"
#include "recording_windows.h"
#include "relay_fixture.h"
#include "relay_search.h"
#include "settings_transactions.h"
#include "upload_transaction.h"

using namespace nx480;
using namespace std::chrono_literals;

namespace {

// Each fault with the error that a transaction failing on it carries.
struct Fault {
  sim::FaultKind kind;
  LinkError error;
};
constexpr Fault kFaults[] = {
    {sim::FaultKind::kSilence, LinkError::NoReply},
    {sim::FaultKind::kBadCrc, LinkError::BadCrc},
    {sim::FaultKind::kShortReply, LinkError::WrongLength},
    {sim::FaultKind::kExtraBytes, LinkError::BadCrc},  // the surplus spoils the next reply's CRC
    {sim::FaultKind::kLateReply, LinkError::NoReply},
    {sim::FaultKind::kException, LinkError::Exception},
    {sim::FaultKind::kNoise, LinkError::WrongLength},
};
constexpr size_t kFaultCount = std::size(kFaults);
constexpr const char* kNextPays = ", next pays";
constexpr int kLateAfterLimit = 70;  // ms

using recording::EndName;
using recording::OutcomeName;
using Parameters = recording::Parameters;
using Calibration = recording::Calibration;
using Live = recording::Live;
using Upload = recording::Upload;
using ClockWindowRecord = recording::Clock;

class History : public recording::History {
 public:
  int Records() const { return static_cast<int>(records.size()); }
};

class FaultMatrix;

struct Row {
  const char* name;
  uint8_t function;  // of the request whose reply the fault hits
  int waitMs;        // the transaction's fixed wait before it reads that reply
  // The relay's time to carry that request out before it answers; nullptr: it answers at once.
  std::chrono::milliseconds sim::RelayConfig::*work;
  int replyLength;
  std::string (FaultMatrix::*run)();
  // How a cell of success begins: any other cell carries its fault's error (LastError() after
  // the identification exchanges, the error in the outcome, the walk or the upload's failure).
  // nullptr: not asserted.
  const char* good;
  // One cell for each of kFaults, in order.
  std::array<const char*, kFaultCount> cells;
  int skip = 0;  // requests of that function let through first
  // The error that the surplus's cell carries when the reply it spoils is no read's (a write's
  // acknowledgement is too long rather than of a bad CRC); None: its fault's.
  LinkError surplusError = LinkError::None;
};

// The row as test names and messages show it.
void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

class FaultMatrix : public RelayLinkTest<::testing::TestWithParam<Row>> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link_.Bind(
        {.slot = kLiveRequest, .request = &request_, .transaction = [this](TModbus&) { job_(); }}));
  }

  // A relay of its own for every cell: a fault that was carried out (a clock set, a history
  // cleared, upload mode entered) does not reach the next one.
  void ConnectFresh() {
    sim::RelayConfig config;
    config.history_fill = 3;
    config.restart_time = 100ms;
    Connect(config);
    RelaySession session;
    TakeIdentification("NX480   1.14.d", session);
    ASSERT_TRUE(link_.SetSession(session));
  }

  // Runs `job` as the worker runs a request, and returns when the loop has cleared it.
  void OnWorker(std::function<void()> job) {
    job_ = std::move(job);
    Serve(request_, 1, 30s);
  }

  // ---- The transactions, each as its caller runs it (the table names them) ----
 public:
  std::string Identification() {
    std::string text;
    const bool identified = link_.Identify(text);
    carried_ = link_.LastError();
    return identified ? "identified" : "not identified";
  }
  std::string SerialNumber() {
    const int32_t number = link_.ReadSerialNumber();
    carried_ = link_.LastError();
    return std::to_string(number);
  }
  std::string LiveValues() {
    Live window;
    OnWorker([&] { ReadLiveValues(link_, window); });
    return window.result;
  }
  std::string ParametersRead() {
    Parameters window;
    OnWorker([&] { ReadParameters(link_, window); });
    carried_ = window.error;
    return window.result;
  }
  std::string ParametersWrite() {
    Parameters window;
    window.toWrite = RelaySettings();
    OnWorker([&] { WriteParameters(link_, window); });
    carried_ = window.error;
    return window.result;
  }
  std::string ClockRead() {
    ClockWindowRecord window;
    OnWorker([&] { ReadClock(link_, window); });
    carried_ = window.error;
    return window.result;
  }
  std::string ClockWrite() {
    ClockWindowRecord window;
    OnWorker([&] { WriteClock(link_, window); });
    carried_ = window.error;
    return window.result;
  }
  std::string CalibrationRead() {
    Calibration window;
    OnWorker([&] { ReadCalibration(link_, window); });
    carried_ = window.error;
    return window.result;
  }
  std::string CalibrationWrite() {
    Calibration window;
    OnWorker([&] { WriteCalibration(link_, window); });
    carried_ = window.error;
    return window.result;
  }
  std::string HistoryClear() {
    Calibration window;
    OnWorker([&] { ClearHistory(link_, window); });
    carried_ = window.error;
    const bool cleared = relay_->WithModel([](sim::RelayModel& m) { return m.HistoryClears(); });
    return window.result + (cleared ? "" : ", not cleared");
  }
  std::string RelayMode() {
    Request command;
    command.Set(2);  // forced on
    Outcome outcome = Outcome::Unknown;
    OnWorker([&] { outcome = WriteRelay(link_, command); });
    carried_ = outcome.error;
    return std::string(OutcomeName(outcome)) + ", mode " +
           sim::RelayModeName(relay_->WithModel([](sim::RelayModel& m) { return m.Mode(); }));
  }
  std::string WalkHistory() {
    History window;
    HistoryWalk walk;
    OnWorker([&] { walk = ReadHistory(link_, window); });
    EXPECT_EQ(walk.records, window.Records());
    carried_ = walk.error;
    return std::string(EndName(walk.end)) + " " + std::to_string(walk.records);
  }
  std::string CommissioningRecord() {
    recording::Record window;
    OnWorker([&] { ReadRecord(link_, window); });
    carried_ = window.end.outcome.error;
    return window.result;
  }
  std::string FirmwareUpload() {
    Upload window;
    OnWorker([&] { UploadFirmware(link_, window); });
    carried_ = window.error;
    const bool uploading = relay_->WithModel(
        [](sim::RelayModel& m) { return m.Upload().Mode() == sim::UploadMode::kReceiving; });
    return window.result + (window.kept ? "" : " before Start") +
           (uploading ? ", left in upload mode" : "");
  }

  // ---- What comes after ----
 protected:
  SettingsWords RelaySettings() const { return HoldingRegisters<kSettingsWords>(0); }
  // The next transaction, a read of the 24 settings, with the relay's own values: no stale
  // reply taken for the answer, no surplus byte in front of it.
  void ExpectNextReadRight(bool nextPays) {
    if (nextPays) {
      Parameters spoilt;
      ReadParameters(link_, spoilt);
      EXPECT_EQ(spoilt.result, "error") << "the read after stray bytes";
    }
    Parameters next;
    ReadParameters(link_, next);
    EXPECT_EQ(next.result, "ok") << "the next read";
    EXPECT_EQ(next.record, RelaySettings()) << "the next read";
  }

  Request request_;
  std::function<void()> job_;
  LinkError carried_ = LinkError::None;
};

// clang-format off
const Row kRows[] = {
    // name, function, wait, relay's work, reply length, transaction, success,
    //   silence, bad CRC, short, extra, late, exception, noise
    // Its reply one byte short is still of an accepted length, and fails on its CRC.
    {"Identification", 0x11, 0, nullptr, 30, &FaultMatrix::Identification, nullptr,
     {"not identified", "not identified", "not identified", "identified, next pays",
      "not identified, next pays", "not identified", "not identified, next pays"}},
    {"SerialNumber", 0x03, 0, nullptr, 21, &FaultMatrix::SerialNumber, "1234",
     {"-1", "-1", "-1", "1234, next pays", "-1, next pays", "-1", "-1, next pays"}},
    // The surplus behind the register reply spoils the coil read of the same snapshot.
    {"LiveValues", 0x04, 0, nullptr, 37, &FaultMatrix::LiveValues, nullptr,
     {"cleared", "cleared", "cleared", "cleared", "cleared", "cleared", "cleared"}},
    {"ParametersRead", 0x03, 0, nullptr, 21, &FaultMatrix::ParametersRead, "ok",
     {"error", "error", "error", "error", "error", "error", "error"}},
    // The read of what the write replaces failed: nothing is written.
    {"ParametersBackup", 0x03, 0, nullptr, 21, &FaultMatrix::ParametersWrite, "ok",
     {"error", "error", "error", "error", "error", "error", "error"}},
    // The first block went out: the relay may hold it (silence: it did not). Refused by an
    // exception reply, nothing changed. The surplus behind its acknowledgement spoils the second
    // block's.
    {"ParametersWrite", 0x10, 0, nullptr, 8, &FaultMatrix::ParametersWrite, "ok",
     {"unknown", "unknown", "unknown", "unknown", "unknown", "error", "unknown"}},
    // The write acknowledged, its read-back failed: what the relay holds is not known. The
    // surplus behind the first half spoils the second.
    {"ParametersReadBack", 0x03, 0, nullptr, 21, &FaultMatrix::ParametersWrite, "ok",
     {"unknown", "unknown", "unknown", "unknown", "unknown", "unknown", "unknown"}, 2},
    {"ClockRead", 0x03, 0, nullptr, 13, &FaultMatrix::ClockRead, "ok",
     {"error", "error", "error", "ok, next pays", "error", "error", "error"}},
    // The read of the clock that the set replaces failed: an error, nothing sent. A surplus
    // behind a good one spoils the acknowledgement of the set, which went out: unknown.
    {"ClockBefore", 0x03, 0, nullptr, 13, &FaultMatrix::ClockWrite, "ok",
     {"error", "error", "error", "unknown", "error", "error", "error"}},
    // The set went out: without a good acknowledgement its result is not known, unless the
    // relay refused it. The surplus behind the acknowledgement spoils the read once more, which
    // drains.
    {"ClockWrite", 0x10, 0, nullptr, 8, &FaultMatrix::ClockWrite, "ok",
     {"unknown", "unknown", "unknown", "ok", "unknown", "error", "unknown"}},
    // The set acknowledged: the read once more is for the journal only, its failure drained.
    {"ClockAfter", 0x03, 0, nullptr, 13, &FaultMatrix::ClockWrite, "ok",
     {"ok", "ok", "ok", "ok, next pays", "ok", "ok", "ok"}, 1},
    {"CalibrationRead", 0x03, 0, nullptr, 21, &FaultMatrix::CalibrationRead, "ok",
     {"error", "error", "error", "ok, next pays", "error", "error", "error"}},
    // The read of what the write replaces failed: nothing is written. The surplus behind a good
    // one spoils the acknowledgement of the write, which went out: unknown.
    {"CalibrationBackup", 0x03, 0, nullptr, 21, &FaultMatrix::CalibrationWrite, "ok",
     {"error", "error", "error", "unknown", "error", "error", "error"}, 0, LinkError::WrongLength},
    // The write went out: unknown without a good acknowledgement, unless the relay refused it.
    // The surplus behind the acknowledgement spoils the read-back.
    {"CalibrationWrite", 0x10, 100, &sim::RelayConfig::calibration_store_time, 8,
     &FaultMatrix::CalibrationWrite, "ok",
     {"unknown", "unknown", "unknown", "unknown", "unknown", "error", "unknown"}},
    {"CalibrationReadBack", 0x03, 0, nullptr, 21, &FaultMatrix::CalibrationWrite, "ok",
     {"unknown", "unknown", "unknown", "ok, next pays", "unknown", "unknown", "unknown"}, 1},
    // The walk before the clearing failed (on the pointer): nothing is sent. The surplus spoils
    // the first record's read, whose repetition is answered.
    {"ClearHistoryWalk", 0x03, 0, nullptr, 9, &FaultMatrix::HistoryClear, "ok",
     {"error, not cleared", "error, not cleared", "error, not cleared", "ok",
      "error, not cleared", "error, not cleared", "error, not cleared"}},
    // An exception reply is the relay refusing the code. A request that the relay does not hear
    // or refuses is not carried out; one that went out and was not answered well may have been:
    // unknown, whether the relay heard it (a bad CRC) or not (silence).
    {"ClearHistory", 0x10, 1500, &sim::RelayConfig::history_clear_time, 8,
     &FaultMatrix::HistoryClear, "ok",
     {"unknown, not cleared", "unknown", "unknown", "ok, next pays", "unknown",
      "refused, not cleared", "unknown"}},
    // Not drained: a command the relay did not carry out is lost (the window repeats a forced
    // state every 4 s), and whatever its reply leaves on the line is the next read's. Sent and not
    // acknowledged: unknown, whatever the relay did.
    {"RelayMode", 0x0F, 0, nullptr, 8, &FaultMatrix::RelayMode, "ok",
     {"unknown, mode auto", "unknown, mode on", "unknown, mode on", "ok, mode on, next pays",
      "unknown, mode on, next pays", "error, mode auto", "unknown, mode on, next pays"}},
    // The surplus behind the pointer spoils the first record read, whose repetition is answered.
    {"HistoryWalk", 0x03, 0, nullptr, 9, &FaultMatrix::WalkHistory, "empty slot",
     {"pointer failed 0", "pointer failed 0", "pointer failed 0", "empty slot 3",
      "pointer failed 0", "pointer failed 0", "pointer failed 0"}},
    // The record's first part is the clock; a part that fails ends the read, drained.
    {"CommissioningRecord", 0x03, 0, nullptr, 13, &FaultMatrix::CommissioningRecord, "ok",
     {"clock failed", "clock failed", "clock failed", "settings failed", "clock failed",
      "clock failed", "clock failed"}},
    // A Start whose acknowledgement is spoilt ends the upload without Cancel, though the relay
    // carried it out. The surplus behind a good one spoils the first data frame's reply, whose
    // repetition is answered.
    {"FirmwareUpload", 0x10, 0, nullptr, 8, &FaultMatrix::FirmwareUpload, "done",
     {"failed", "failed, left in upload mode", "failed, left in upload mode", "done",
      "failed, left in upload mode", "failed", "failed, left in upload mode"}},
    // The backup's settings read failed: nothing of the upload is sent.
    {"FirmwareUploadBackup", 0x03, 0, nullptr, 21, &FaultMatrix::FirmwareUpload, "done",
     {"failed before Start", "failed before Start", "failed before Start", "failed before Start",
      "failed before Start", "failed before Start", "failed before Start"}},
};
// clang-format on

TEST_P(FaultMatrix, ReportsItsWayAndTheNextTransactionGetsTheRightAnswer) {
  const Row& row = GetParam();
  for (size_t f = 0; f < kFaultCount; ++f) {
    const sim::FaultKind kind = kFaults[f].kind;
    const std::string cell = row.cells[f];
    SCOPED_TRACE(std::string(row.name) + " / " + sim::FaultKindName(kind));
    ConnectFresh();
    if (HasFatalFailure()) return;
    sim::FaultRule rule{.kind = kind, .function = row.function, .skip = row.skip};
    if (kind == sim::FaultKind::kLateReply) {
      const int work = row.work ? static_cast<int>((sim::RelayConfig{}.*row.work).count()) : 0;
      rule.param = row.waitMs + row.replyLength + 100 + kLateAfterLimit - work;
    }
    relay_->AddFault(rule);

    const bool nextPays = cell.ends_with(kNextPays);
    const std::string expected =
        nextPays ? cell.substr(0, cell.size() - std::string(kNextPays).size()) : cell;
    carried_ = LinkError::None;
    EXPECT_EQ((this->*row.run)(), expected);
    if (row.good) {
      const LinkError fault =
          kind == sim::FaultKind::kExtraBytes && row.surplusError != LinkError::None
              ? row.surplusError
              : kFaults[f].error;
      const LinkError error = expected.starts_with(row.good) ? LinkError::None : fault;
      EXPECT_EQ(carried_, error) << "carried: " << LinkErrorText(carried_);
    }
    EXPECT_EQ(relay_->Counters().model.faults, 1u) << "the fault was not met";
    ExpectNextReadRight(nextPays);
    Disconnect();
  }
}

INSTANTIATE_TEST_SUITE_P(EveryTransaction, FaultMatrix, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
