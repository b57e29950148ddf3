// The settings window's "Upload FW" page: a firmware image loaded from a file, checked and
// uploaded into the relay, with a log of what happened and a progress bar.
//
// The image file and its checks are plain functions (firmware/image_file.h), the transfer a
// transaction (firmware/upload_transaction.h); this page holds the controls, posts the request
// and shows what comes back. Hand-over of the image with the worker: the page reads a file into
// UploadImage only while no upload is requested; the worker reads it while UploadLength is set.
//
// Stopping a running upload: the Stop button and the main window's connect button (result
// "...Přerušeno"), changing the tab or closing the window (the result stays "...Nedokončeno -
// chyba komuniíkace"). The transfer ends after its current block and the relay is told to
// cancel. Once Run has gone out the worker waits for the restarting relay ("...Čekám na restart
// přístroje"); Stop and the connect button end that waiting, a tab change or closing does not.
//
// The change journal: before Start the page keeps what the relay holds (identification,
// settings, in service mode the calibration) in an entry, or asks whether to upload without
// one; the entry is closed with the upload's outcome and what the new firmware changed in the
// settings. When it changed them, the log names the rows and the page asks whether to write the
// saved settings back: "Ano" opens them on "Parametry" and writes them as its "Zapiš" does.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image_file.h"
#include "journal_entry_keeper.h"
#include "setup_page.h"
#include "upload_transaction.h"

class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class PageUpload : public SetupPage, public nx480::UploadWindow {
  Q_OBJECT
 public:
  explicit PageUpload(SetupFrame& frame);

  // The image read from the file; the image starts at offset 0.
  nx480::ImageBuffer UploadImage{};
  // Non-zero while an upload is requested or runs: the image length in bytes.
  nx480::Request UploadLength;
  // Raised to stop a running upload; the transfer ends at its next block.
  std::atomic<bool> UploadAbort{false};
  // The log's line when the upload ends without success.
  QString UploadResultText;
  std::vector<nx480::RequestDecl> Requests() override;

  // After a successful upload, inside its completion: the restarted relay (identified by the
  // worker), or nothing when it did not answer or the waiting was stopped. The main window takes
  // it into the session and shows the version; unset, the session stays as it is.
  std::function<void(const std::optional<nx480::RestartedRelay>& relay)> NewIdentification;
  // Writes the settings backup `bytes` into the relay as the parameters page's "Zapiš" does,
  // that page brought to view (the write back offered after an upload); set by the frame.
  std::function<void(std::span<const uint8_t> bytes, nx480::JournalText description)>
      WriteBackSettings;

  bool Uploading() const { return UploadLength.Pending(); }
  // Loads, checks and uploads an image or, while an upload runs, stops it (StopUpload).
  void ButtonUploadClick();
  // Stops a running upload as Stop does ("...Přerušeno"), its journal entry saying who stopped
  // it: the transfer ends after its current block with a Cancel, or the waiting for the
  // restarting relay ends. Nothing while none runs.
  void StopUpload(nx480::StopCause cause);

  void TabChanging() override;
  void WindowClosing() override;

  QPlainTextEdit* MemoLog = nullptr;
  QProgressBar* ProgressBarUpload = nullptr;
  QFrame* PanelNX480F = nullptr;
  QLabel* LabelNX480F = nullptr;
  QPushButton* ButtonUpload = nullptr;

 private:
  // nx480::UploadWindow
  std::span<const uint8_t> ImageToSend() const override;
  bool AbortRaised() const override { return UploadAbort.load(std::memory_order_acquire); }
  void ShowUploadProgress(uint32_t bytes) override;
  void UploadFailed(nx480::LinkError error) override;
  void UploadRestarting() override;
  void UploadSucceeded(const std::optional<nx480::RestartedRelay>& relay) override;
  bool JournalBefore(const nx480::UploadBackup& backup) override;
  void JournalAfter(const nx480::UploadEnd& end,
                    const std::optional<nx480::RestartedRelay>& relay) override;

  void Build();
  void Log(const QString& line);
  void Abort(nx480::StopCause cause);
  // Loads the file at `path` into UploadImage and checks it, logging what it finds: the image
  // length, or 0 when it may not be sent.
  size_t LoadImage(const QString& path);
  // After the upload's request has ended: asks whether to write `saved` back, and does so.
  void OfferWriteBack(const nx480::SettingsWords& saved, const QString& names);

  QString lastOpenName_;  // the open dialog starts with the file chosen last
  int logLines_ = 0;
  bool restarting_ = false;         // Run has gone out; the worker waits for the relay
  nx480::JournalText imageDetail_;  // the journal's line of the image being uploaded
  // Who raised the abort flag last, for the journal entry.
  nx480::StopCause stopCause_ = nx480::StopCause::ConnectionEnded;
  // From JournalBefore to the upload's end: what it replaces, the firmware it was read under,
  // the entry (none open when uploaded without a backup) and its name (empty: none).
  nx480::UploadBackup backup_;
  nx480::FirmwareFeatures backupFirmware_;
  JournalEntryKeeper journal_;
  std::string entryName_;
};
