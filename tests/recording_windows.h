// The windows as the transactions see them, each keeping what it was handed and how the
// transaction ended: for the tables that run every transaction (the fault matrix, the explorer).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "calibration_transactions.h"
#include "clock_transactions.h"
#include "firmware_image.h"
#include "history_transaction.h"
#include "live_values.h"
#include "record_transaction.h"
#include "settings_transactions.h"
#include "upload_transaction.h"

namespace recording {

inline const char* OutcomeName(nx480::Outcome outcome) {
  switch (outcome) {
    case nx480::Outcome::Ok:
      return "ok";
    case nx480::Outcome::CommunicationError:
      return "error";
    case nx480::Outcome::Refused:
      return "refused";
    case nx480::Outcome::Unknown:
      return "unknown";
    case nx480::Outcome::Differs:
      return "differs";
  }
  return "?";
}

inline const char* EndName(nx480::HistoryEnd end) {
  switch (end) {
    case nx480::HistoryEnd::PointerFailed:
      return "pointer failed";
    case nx480::HistoryEnd::BadSize:
      return "bad size";
    case nx480::HistoryEnd::BadPointer:
      return "bad pointer";
    case nx480::HistoryEnd::RecordFailed:
      return "record failed";
    case nx480::HistoryEnd::EmptySlot:
      return "empty slot";
    case nx480::HistoryEnd::Closed:
      return "closed";
    case nx480::HistoryEnd::AllRead:
      return "all read";
    case nx480::HistoryEnd::Interrupted:
      return "interrupted";
  }
  return "?";
}

// How a transaction reported its end: the outcome's name (several when it reported more than
// once, which is itself a fault), and the error it carried.
struct Reported {
  void Report(nx480::Outcome outcome) {
    result += OutcomeName(outcome);
    error = outcome.error;
    last = outcome;
  }
  std::string result;
  nx480::LinkError error = nx480::LinkError::None;
  std::optional<nx480::OutcomeKind> last;
};

class Parameters : public nx480::ParameterWindow, public Reported {
 public:
  void StoreParameterWords(size_t first, const uint16_t* words, size_t count) override {
    for (size_t i = 0; i < count; ++i) record[first + i] = words[i];
  }
  void SettingsToBoxes() override { shown = true; }
  void StoreDifferences(const nx480::SettingsWords&, const nx480::SettingsWords&) override {}
  void ShowResult(nx480::Outcome outcome) override { Report(outcome); }
  const nx480::SettingsWords& WriteHandOver() const override { return toWrite; }
  bool JournalBefore(const nx480::SettingsWords&, const nx480::SettingsWords&) override {
    return true;
  }
  void JournalAfter(nx480::Outcome, const nx480::SettingsWords&) override {}
  nx480::SettingsWords record{};   // what the transaction stored
  nx480::SettingsWords toWrite{};  // what a write sends
  bool shown = false;              // the whole record reached the boxes
};

class Clock : public nx480::ClockWindow, public Reported {
 public:
  void ShowClock(double relay, double) override { shown.push_back(relay); }
  void ShowResult(nx480::Outcome outcome) override { Report(outcome); }
  double PcNow() const override { return pcNow; }
  bool JournalBefore(double, double) override { return true; }
  void JournalAfter(nx480::Outcome, std::optional<double>) override {}
  double pcNow = 46000.5;
  std::vector<double> shown;  // the relay's times shown
};

class Calibration : public nx480::CalibrationWindow, public Reported {
 public:
  void StoreCalibration(const nx480::CalibrationWords& words) override { record = words; }
  void CalibrationToBoxes() override { shown = true; }
  void StoreDifferences(const nx480::CalibrationWords&, const nx480::CalibrationWords&) override {
  }
  void ShowResult(nx480::Outcome outcome) override { Report(outcome); }
  const nx480::CalibrationWords& WriteHandOver() const override { return toWrite; }
  uint16_t ClearHistoryCode() const override { return nx480::kClearHistoryCode; }
  bool ClearingAsked() const override { return true; }
  bool JournalBefore(const nx480::CalibrationWords&, const nx480::CalibrationWords&) override {
    return true;
  }
  void JournalAfter(nx480::Outcome, const nx480::CalibrationWords&) override {}
  std::optional<std::vector<uint8_t>> HistoryExport(
      const std::vector<nx480::HistoryRecord>&) override {
    return std::vector<uint8_t>{};
  }
  bool JournalBeforeClearing(const std::optional<std::vector<uint8_t>>&, size_t) override {
    return true;
  }
  void JournalAfterClearing(nx480::Outcome) override {}
  nx480::CalibrationWords record{};
  nx480::CalibrationWords toWrite{1000, 1000, 1000, 10000, 0x00C8, 1234, 0, 0x0101};
  bool shown = false;
};

class Live : public nx480::LiveValuesWindow {
 public:
  void StoreLiveValues(const nx480::LiveImage& image, uint32_t) override {
    result += "shown";
    registers.clear();
    for (int r = 0; r < image.registers; ++r) registers.push_back(image.Register(r));
  }
  void ClearLiveValues() override { result += "cleared"; }
  void ShowLiveValues() override {}
  std::string result;
  std::vector<uint16_t> registers;  // of the snapshot stored
};

class History : public nx480::HistoryWindow {
 public:
  void BeginReading(int32_t) override { records.clear(); }
  void ShowHistoryRecord(const nx480::HistoryRecord& record) override {
    records.push_back(record);
  }
  int32_t RequestedReading() const override { return 1; }
  std::vector<nx480::HistoryRecord> records;
};

class Upload : public nx480::UploadWindow {
 public:
  std::span<const uint8_t> ImageToSend() const override { return image; }
  bool AbortRaised() const override { return false; }
  void ShowUploadProgress(uint32_t) override {}
  void UploadFailed(nx480::LinkError e) override {
    result += "failed";
    error = e;
  }
  void UploadRestarting() override {}
  void UploadSucceeded(const std::optional<nx480::RestartedRelay>& relay) override {
    result += relay ? "done" : "done, not identified";
    restarted = relay;
  }
  bool JournalBefore(const nx480::UploadBackup&) override {
    kept = true;
    return true;
  }
  void JournalAfter(const nx480::UploadEnd& e,
                    const std::optional<nx480::RestartedRelay>&) override {
    end = e;
  }
  bool kept = false;  // the backup was read whole and handed over
  std::vector<uint8_t> image = nx480::sim::WriteImage({.blocks = 1});
  std::string result;
  nx480::LinkError error = nx480::LinkError::None;
  std::optional<nx480::RestartedRelay> restarted;
  std::optional<nx480::UploadEnd> end;  // as JournalAfter had it
};

class Record : public nx480::RecordWindow {
 public:
  double PcNow() const override { return 46000.5; }
  bool RecordWanted() const override { return true; }
  void StoreClock(double relay, double) override { clock = relay; }
  void StoreSettings(const nx480::SettingsWords& words) override { settings = words; }
  void StoreCalibration(const nx480::CalibrationWords& words) override { calibration = words; }
  void StoreHistoryRecord(const nx480::HistoryRecord& record) override {
    events.push_back(record);
  }
  void RecordDone(const nx480::RecordEnd& recordEnd) override {
    result += recordEnd.outcome == nx480::Outcome::Ok
                  ? std::string("ok")
                  : std::string(nx480::RecordPartName(recordEnd.failed)) + " failed";
    end = recordEnd;
  }
  std::optional<double> clock;
  std::optional<nx480::SettingsWords> settings;
  std::optional<nx480::CalibrationWords> calibration;
  std::vector<nx480::HistoryRecord> events;
  std::string result;
  nx480::RecordEnd end;
};

}  // namespace recording
