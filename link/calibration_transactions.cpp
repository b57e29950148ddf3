#include "calibration_transactions.h"

#include <chrono>

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
  RequestPatch patch;
  patch.words = written.data();
  patch.wordCount = kCalibrationWords;
  link.SendRequest(link.BuildRequest(templates::kCalibrationWrite, patch));
  if (!link.Sleep(kCalibrationWriteWait) ||
      !link.CheckReply(kMainReply, templates::kCalibrationWrite.replyLength) || !link.CheckEcho()) {
    Fail(link, window, Outcome::CommunicationError);
    return;
  }
  // Acknowledged: what the relay holds is what it reads back.
  CalibrationWords held{};
  if (!ReadCalibrationWords(link, held)) {
    Fail(link, window, Outcome::Unknown);
    return;
  }
  if (held == written) {
    Report(link, window, Outcome::Ok);
    return;
  }
  link.Synchronize([&] {
    window.StoreCalibration(held);
    window.CalibrationToBoxes();
    window.StoreDifferences(written, held);
  });
  Report(link, window, Outcome::Differs);
}

void ClearHistory(TModbus& link, CalibrationWindow& window) {
  const uint16_t code = window.ClearHistoryCode();
  RequestPatch patch;
  patch.words = &code;
  patch.wordCount = 1;
  link.SendRequest(link.BuildRequest(templates::kClearHistory, patch));
  // The relay answers once the history is emptied. A disconnect from here on leaves the
  // relay with the command and the tool without its answer: the result is not known.
  if (!link.Sleep(kClearHistoryWait)) {
    Fail(link, window, Outcome::Unknown);
    return;
  }
  if (link.CheckReply(kMainReply, templates::kClearHistory.replyLength)) {
    if (link.CheckEcho()) {
      Report(link, window, Outcome::Ok);
    } else {
      Fail(link, window, Outcome::CommunicationError);
    }
    return;
  }
  // An exception reply is the relay's refusal of the code; any other failure is the line's.
  const bool refused = link.LastError() == LinkError::Exception && link.LastReplyCount() == 5 &&
                       link.ReplyBuffer[1] == kWriteException;
  const bool cut =
      link.LastError() == LinkError::Stopped || link.LastError() == LinkError::PortClosed;
  Fail(link, window,
       refused ? Outcome::Refused
       : cut   ? Outcome::Unknown
               : Outcome::CommunicationError);
}

}  // namespace nx480
