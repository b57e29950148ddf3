#include "calibration_transactions.h"

#include <chrono>

#include "history_transaction.h"
#include "modbus.h"

namespace nx480 {

namespace {

constexpr size_t kReplyData = 3;  // address, function, byte count
constexpr auto kCalibrationWriteWait = std::chrono::milliseconds(100);
constexpr auto kClearHistoryWait = std::chrono::milliseconds(1500);
constexpr uint8_t kWriteException = 0x90;  // function 0x10 with the exception bit

void Report(TModbus& link, CalibrationWindow& window, Outcome outcome) {
  link.Synchronize([&] { window.ShowResult(outcome); });
}

void Fail(TModbus& link, CalibrationWindow& window, OutcomeKind kind) {
  Report(link, window, {kind, link.LastError()});
  link.DrainInput();
}

// The walk before a clearing, as a history window: each record goes into the transaction's own
// list, on the worker, and the reading asked for is the clearing itself. The window hears how
// far the walk has come, on the worker too.
class RingBackup : public HistoryWindow {
 public:
  explicit RingBackup(CalibrationWindow& window) : window_(window) {}
  void BeginReading(int32_t) override {
    ring.clear();
    slots_ = 0;
    window_.ClearingProgress(0, 0);
  }
  void RingSize(int slots) override {
    slots_ = slots;
    window_.ClearingProgress(0, slots);
  }
  void ShowHistoryRecord(const HistoryRecord& record) override {
    ring.push_back(record);
    window_.ClearingProgress(static_cast<int>(ring.size()), slots_);
  }
  int32_t RequestedReading() const override { return window_.ClearingAsked() ? 1 : 0; }
  bool KeepsRecordsOnWorker() const override { return true; }

  std::vector<HistoryRecord> ring;

 private:
  CalibrationWindow& window_;
  int slots_ = 0;
};

}  // namespace

bool ReadCalibrationWords(TModbus& link, CalibrationWords& words) {
  link.SendRequest(link.BuildRequest(templates::kCalibrationRead));
  if (!link.CheckReply(kMainReply, templates::kCalibrationRead.replyLength)) return false;
  CopySwapped(words.data(), link.ReplyBuffer.data() + kReplyData, kCalibrationWords);
  return true;
}

void ReadCalibration(TModbus& link, CalibrationWindow& window) {
  CalibrationWords words{};
  if (!ReadCalibrationWords(link, words)) {
    Fail(link, window, Outcome::CommunicationError);
    return;
  }
  link.Synchronize([&] {
    window.StoreCalibration(words);
    window.CalibrationToBoxes();
  });
  Report(link, window, Outcome::Ok);
}

void WriteCalibration(TModbus& link, CalibrationWindow& window) {
  const CalibrationWords written = window.WriteHandOver();
  // What the write replaces, read right now: an earlier read may be stale.
  CalibrationWords before{};
  if (!ReadCalibrationWords(link, before)) {
    Fail(link, window, Outcome::CommunicationError);
    return;
  }
  bool goOn = false;
  link.Synchronize([&] { goOn = window.JournalBefore(before, written); });
  if (!goOn) return;
  auto end = [&](Outcome outcome, const CalibrationWords& held) {
    link.Synchronize([&] {
      window.JournalAfter(outcome, held);
      window.ShowResult(outcome);
    });
  };
  // A stop that came during the journal step (Ctrl-C, the window closed): nothing goes out.
  if (link.ChangeStopped()) {
    end(kChangeHeldBack, before);
    return;
  }
  RequestPatch patch;
  patch.words = written.data();
  patch.wordCount = kCalibrationWords;
  link.SendRequest(link.BuildRequest(templates::kCalibrationWrite, patch));
  if (!link.Sleep(kCalibrationWriteWait) ||
      !link.CheckReply(kMainReply, templates::kCalibrationWrite.replyLength) || !link.CheckEcho()) {
    end(link.UnacknowledgedWrite(), before);
    link.DrainInput();
    return;
  }
  // Acknowledged: what the relay holds is what it reads back.
  CalibrationWords held{};
  if (!ReadCalibrationWords(link, held)) {
    end({Outcome::Unknown, link.LastError(), true}, before);
    link.DrainInput();
    return;
  }
  if (held == written) {
    end(Outcome::Ok, held);
    return;
  }
  link.Synchronize([&] {
    window.StoreCalibration(held);
    window.CalibrationToBoxes();
    window.StoreDifferences(written, held);
  });
  end(Outcome::Differs, held);
}

void ClearHistory(TModbus& link, CalibrationWindow& window) {
  // What the clearing replaces: the whole ring, read right now. The walk drains after its own
  // failures.
  RingBackup backup(window);
  const HistoryWalk walk = ReadHistory(link, backup);
  if (walk.end != HistoryEnd::AllRead && walk.end != HistoryEnd::EmptySlot) {
    Report(link, window, {Outcome::CommunicationError, walk.error});
    return;
  }
  bool goOn = false;
  link.Synchronize([&] {
    goOn = window.JournalBeforeClearing(window.HistoryExport(backup.ring), backup.ring.size());
  });
  if (!goOn) return;
  auto end = [&](Outcome outcome) {
    link.Synchronize([&] {
      window.JournalAfterClearing(outcome);
      window.ShowResult(outcome);
    });
    if (outcome != Outcome::Ok) link.DrainInput();
  };
  // A stop that came during the journal step (Ctrl-C, the window closed, the clearing dropped):
  // the code is not sent.
  if (link.ChangeStopped() || !window.ClearingAsked()) {
    link.Synchronize([&] {
      window.JournalAfterClearing(kChangeHeldBack);
      window.ShowResult(kChangeHeldBack);
    });
    return;
  }

  const uint16_t code = window.ClearHistoryCode();
  RequestPatch patch;
  patch.words = &code;
  patch.wordCount = 1;
  link.SendRequest(link.BuildRequest(templates::kClearHistory, patch));
  // The relay answers once the history is emptied. From the moment the code has gone out whole,
  // an answer that does not come (a disconnect, silence) or comes spoilt leaves the relay with
  // the command and the tool without its result: not known.
  if (!link.Sleep(kClearHistoryWait)) {
    end(link.UnacknowledgedWrite());
    return;
  }
  if (link.CheckReply(kMainReply, templates::kClearHistory.replyLength) && link.CheckEcho()) {
    end(Outcome::Ok);
    return;
  }
  // An exception reply is the relay's refusal of the code.
  const bool refused = link.LastError() == LinkError::Exception && link.LastReplyCount() == 5 &&
                       link.ReplyBuffer[1] == kWriteException;
  end(refused ? Outcome(Outcome::Refused, link.LastError()) : link.UnacknowledgedWrite());
}

}  // namespace nx480
