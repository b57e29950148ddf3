// `nx480ctl --service calibration [show | set NAME=VALUE ... | clear-history]`.
#include <cstdio>
#include <functional>

#include "calibration_record.h"
#include "calibration_transactions.h"
#include "commands.h"
#include "output.h"
#include "relay_link.h"

namespace nx480::ctl {

namespace {

// The "Kalibrace" page as the calibration transactions see it; its steps run on the worker.
class CalibrationPage : public CalibrationWindow {
 public:
  void StoreCalibration(const CalibrationWords& words) override { record = words; }
  void CalibrationToBoxes() override {}
  void StoreDifferences(const CalibrationWords&, const CalibrationWords&) override {}
  void ShowResult(Outcome shown) override { outcome = shown; }
  const CalibrationWords& WriteHandOver() const override { return writeRequest.Data(); }
  uint16_t ClearHistoryCode() const override { return kClearHistoryCode; }

  std::vector<RequestDecl> Requests() {
    auto failed = [this](TModbus&) { result = Exit::Communication; };
    auto judged = [this](void (*transaction)(TModbus&, CalibrationWindow&)) {
      return [this, transaction](TModbus& link) {
        transaction(link, *this);
        result = ResultOf(outcome);
      };
    };
    return {{.slot = kReadCalibrationRequest,
             .request = &readRequest,
             .transaction = judged(ReadCalibration),
             .onException = failed},
            {.slot = kWriteCalibrationRequest,
             .request = &writeRequest,
             .transaction = judged(WriteCalibration),
             .onException = failed},
            {.slot = kClearHistoryRequest,
             .request = &clearRequest,
             .transaction = judged(ClearHistory),
             .onException = failed}};
  }

  CalibrationWords record{};
  Outcome outcome = Outcome::CommunicationError;
  Exit result = Exit::Communication;
  Request readRequest;
  RequestWith<CalibrationWords> writeRequest;
  Request clearRequest;
};

// The message of a transaction that failed with `result`.
Exit Failed(Exit result, const std::string& what) {
  Say((result == Exit::Refused ? "refused by the relay: " : "communication error: ") + what);
  return result;
}

// Posts and serves `request`; a message when it fails.
Exit Served(RelayLink& relay, CalibrationPage& page, Request& request,
            const std::function<void()>& post, const std::string& what) {
  if (const Exit served = relay.Serve(request, post); served != Exit::Ok) return served;
  return page.result == Exit::Ok ? Exit::Ok : Failed(page.result, what);
}

// The page's boxes: "KalU1   1.000" ..., "serial  001234".
std::string CalibrationTable(const CalibrationWords& record) {
  CalibrationBoxes boxes;
  CalibrationToBoxes(record, boxes);
  std::string text;
  for (int i = 0; i < kFactorCount; ++i)
    text += Column(kFactorNames[i], 8) + boxes.factor[i] + "\n";
  return text + Column("serial", 8) + (boxes.serial.empty() ? "none" : boxes.serial) + "\n";
}

}  // namespace

Exit RunCalibration(const Invocation& invocation) {
  CalibrationPage page;
  RelayLink relay(invocation);
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  relay.Start(page.Requests());

  if (invocation.command == Command::ClearHistory) {
    const Exit cleared = Served(
        relay, page, page.clearRequest, [&page] { page.clearRequest.Post(); },
        "clearing the event history");
    if (cleared == Exit::Ok) Say("event history cleared");
    return cleared;
  }

  if (const Exit read = Served(
          relay, page, page.readRequest, [&page] { page.readRequest.Post(); },
          "reading the calibration");
      read != Exit::Ok)
    return read;
  if (invocation.command == Command::Calibration) {
    Print(CalibrationTable(page.record));
    return Exit::Ok;
  }

  // The page's way: the boxes filled from the record read, the named ones changed, the record
  // built from all of them (words 4 and 7 as the relay has them).
  CalibrationBoxes boxes;
  CalibrationToBoxes(page.record, boxes);
  for (const auto& [name, value] : invocation.assignments) {
    if (name == "serial") boxes.serial = value;
    for (int i = 0; i < kFactorCount; ++i)
      if (name == kFactorNames[i]) boxes.factor[i] = value;
  }
  CalibrationWords wanted = page.record;
  std::string error;
  if (!BoxesToCalibration(boxes, wanted, error)) {
    Say("bad value: " + error);
    return Exit::Usage;
  }
  // The write reads the calibration back itself: Ok when equal, Differs with page.record
  // holding the relay's, Unknown when the read-back failed.
  page.result = Exit::Communication;
  page.outcome = Outcome::CommunicationError;
  if (const Exit served = relay.Serve(page.writeRequest, [&] { page.writeRequest.Post(wanted); });
      served != Exit::Ok)
    return served;
  if (page.outcome != Outcome::Ok && page.outcome != Outcome::Differs &&
      page.outcome != Outcome::Unknown)
    return Failed(page.result, "writing the calibration");
  // Ctrl-C during the write: the command ends there, whatever was read back.
  if (!relay.MaySend()) return Exit::Interrupted;
  if (page.outcome == Outcome::Unknown) return Failed(page.result, "reading the calibration back");
  const bool differs = page.outcome == Outcome::Differs;
  Print(CalibrationTable(differs ? page.record : wanted));  // as read back
  if (differs) {
    Say("refused by the relay: the calibration read back differs from the values written");
    return Exit::Refused;
  }
  Say("calibration written, read back and equal");
  return Exit::Ok;
}

}  // namespace nx480::ctl
