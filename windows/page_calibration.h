// The settings window's "Kalibrace" page (service mode only): the calibration factors, the
// serial number and the clearing of the relay's event history. Its calibration is read each
// time the page becomes the active one while a relay is connected.
//
// The conversions between record and boxes are plain functions (calibration_record.h); this
// page holds the controls, posts the requests and shows what comes back. Hand-over of the
// record with the worker: calibration_transactions.h.
#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "calibration_record.h"
#include "calibration_transactions.h"
#include "journal.h"
#include "journal_entry_keeper.h"
#include "setup_page.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class UpDown;

class PageCalibration : public SetupPage, public nx480::CalibrationWindow {
  Q_OBJECT
 public:
  explicit PageCalibration(SetupFrame& frame);

  nx480::Request ReadCalibrationRequest;
  // Carries the record to write: filled only while no write is pending.
  nx480::RequestWith<nx480::CalibrationWords> WriteCalibrationRequest;
  // Carries the clear-history access code.
  nx480::RequestWith<uint16_t> ClearHistoryRequest;
  std::vector<nx480::RequestDecl> Requests() override;

  // The record behind the boxes; user-interface thread only.
  nx480::CalibrationWords CalibrationRecord{};

  // nx480::CalibrationWindow
  void StoreCalibration(const nx480::CalibrationWords& words) override;
  void CalibrationToBoxes() override;
  void StoreDifferences(const nx480::CalibrationWords& written,
                        const nx480::CalibrationWords& held) override;
  void ShowResult(nx480::Outcome outcome) override;
  // The change journal's entry of a write or a clearing: kept before it goes out, or the user
  // asked to go on without one ("Ne" preselected).
  bool JournalBefore(const nx480::CalibrationWords& held,
                     const nx480::CalibrationWords& toWrite) override;
  void JournalAfter(nx480::Outcome outcome, const nx480::CalibrationWords& held) override;
  std::optional<std::vector<uint8_t>> HistoryExport(
      const std::vector<nx480::HistoryRecord>& ring) override;
  bool JournalBeforeClearing(const std::optional<std::vector<uint8_t>>& historyCsv,
                             size_t records) override;
  void JournalAfterClearing(nx480::Outcome outcome) override;
  // Worker thread: into clearingProgress_, which TimerClrHist shows.
  void ClearingProgress(int records, int ringSize) override;
  // Rebuilds CalibrationRecord from the boxes; on a box that gives no valid value shows the
  // box's message in an error box and returns false, the record unchanged.
  bool BoxesToCalibration();

  void ApplyFeatures(const nx480::RelaySession& session) override;
  void Activated() override;
  // A clearing not yet sent is dropped: its walk ends, and nothing goes out.
  void WindowClosing() override;

  // Event handlers.
  void ButtonReadKalClick();
  void ButtonWriteKalClick();
  // A calibration backup written back into the relay word for word, shown in the boxes and
  // written as "Zapiš" writes (the journal entry, with `description`, first; the read-back
  // after). False when the write was not posted (no relay, a write still in progress).
  bool WriteBackup(const nx480::CalibrationWords& record, nx480::JournalText description);
  void UpDownClick();  // any of the four spinners
  // Posts the clearing: the button is disabled and the walk's progress shown until the request
  // has ended, whichever way (TimerClrHist looks every 100 ms).
  void ButtonClrHistClick();
  void TimerClrHistTimer();

  QGroupBox* GroupBoxKalibrace = nullptr;
  QLabel* LabelKal1 = nullptr;
  QLineEdit* EditKalU1 = nullptr;
  UpDown* UpDownU1 = nullptr;
  QLabel* LabelKalU2 = nullptr;
  QLineEdit* EditKalU2 = nullptr;
  UpDown* UpDownU2 = nullptr;
  QLabel* LabelKalU3 = nullptr;
  QLineEdit* EditKalU3 = nullptr;
  UpDown* UpDownU3 = nullptr;
  QLabel* LabelKalF = nullptr;
  QLineEdit* EditKalF = nullptr;
  UpDown* UpDownF = nullptr;
  QLabel* LabelSerial = nullptr;
  QLineEdit* EditSerial = nullptr;
  QFrame* PanelNX480K = nullptr;
  QPushButton* ButtonReadKal = nullptr;
  QPushButton* ButtonWriteKal = nullptr;
  QLabel* LabelNX480K = nullptr;
  QFrame* PanelClrHist = nullptr;
  QPushButton* ButtonClrHist = nullptr;
  // Under the red panel, while a clearing runs: the records its walk has read of the ring's
  // size ("Záloha: 412 z 2015"; busy until the size is known).
  QProgressBar* ProgressBarClrHist = nullptr;
  QTimer* TimerClrHist = nullptr;

  // The factor boxes and their spinners by nx480::CalibrationFactor.
  std::array<QLineEdit*, nx480::kFactorCount> EditKal{};
  std::array<UpDown*, nx480::kFactorCount> UpDownKal{};

 private:
  // nx480::CalibrationWindow, worker thread
  const nx480::CalibrationWords& WriteHandOver() const override {
    return WriteCalibrationRequest.Data();
  }
  uint16_t ClearHistoryCode() const override { return ClearHistoryRequest.Data(); }
  bool ClearingAsked() const override { return ClearHistoryRequest.Pending(); }

  // Opens `entry` in the journal (none: its backup could not be made); when it cannot be, asks
  // whether to write (clear) without a backup and on "Ne" shows so. False: nothing is sent.
  bool OpenEntry(std::optional<nx480::JournalEntry> entry, bool clearing);
  // Records the outcome of the open entry (if any) and forgets it.
  void CloseEntry(nx480::Outcome outcome, std::vector<nx480::JournalText> details = {});

  void Build();
  nx480::CalibrationBoxes CollectBoxes() const;
  std::vector<std::string>
      differing_;  // what the last write read back otherwise, for its status text
  // Refuses a request to the relay while none is connected: shows why and returns false.
  bool CheckConnected();
  // The entry of the change in progress (between JournalBefore and JournalAfter, or the
  // clearing's pair) and the record being written.
  JournalEntryKeeper journal_;
  // The description of the posted write's entry; no key: a write of the boxes.
  nx480::JournalText writeDescription_;
  nx480::CalibrationWords entryWritten_{};

  // The clearing's walk, written by the worker: records read in the low half, the ring's slots
  // in the high half (one atomic, so the two always belong together).
  std::atomic<uint64_t> clearingProgress_{0};
  // Set on the worker while the clearing's transaction runs (read in its synchronous steps).
  std::atomic<bool> clearingRuns_{false};
  // User-interface thread: the clearing was dropped by closing the window before it was sent
  // (its walk's end is then no verdict), and it was sent (JournalBeforeClearing let it go).
  bool clearingDropped_ = false;
  bool clearingSent_ = false;
};
