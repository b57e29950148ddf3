// Settings window (module Setup): protection settings, clock, relay mode, calibration and the
// firmware upload. Each tab asks the worker for work through the request flags below.
//
// The "Parametry" page edits the protection settings record. The conversions between record and
// boxes, the settings file and the caption are plain functions (settings_record.h,
// settings_file.h); this window holds the controls, sets the request flags and shows results.
// Record hand-over with the worker: see settings_transactions.h.
#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "atomic_file.h"
#include "relay_window.h"
#include "settings_record.h"
#include "settings_transactions.h"

class QButtonGroup;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimer;

class TFormSetup : public RelayWindow, public nx480::ParameterWindow {
  Q_OBJECT
 public:
  explicit TFormSetup(QWidget* parent = nullptr);

  std::atomic<int32_t> ReadParamsRequest{0};
  std::atomic<int32_t> WriteParamsRequest{0};
  std::atomic<int32_t> ReadClockRequest{0};
  std::atomic<int32_t> WriteClockRequest{0};
  std::atomic<int32_t> ReadCalibrationRequest{0};
  std::atomic<int32_t> WriteCalibrationRequest{0};
  std::atomic<int32_t> ClearHistoryRequest{0};
  std::atomic<int32_t> UploadLength{0};  // non-zero while an upload runs: the image length
  std::atomic<int32_t> RelayCommand{0};

  // Raised to stop a running upload; the transfer ends at its next block.
  std::atomic<bool> UploadAbort{false};
  QString UploadResultText;

  // Starts an upload or, while one runs, stops it.
  void ButtonUploadClick();

  // The main window's FirmwareMinor and ServiceMode, and whether a relay is connected; read on
  // the user-interface thread.
  void SetRelayState(std::function<int()> firmwareMinor, std::function<int()> serviceMode,
                     std::function<bool()> connected);
  int FirmwareMinor() const { return firmwareMinor_ ? firmwareMinor_() : 0; }
  int ServiceMode() const { return serviceMode_ ? serviceMode_() : 0; }
  bool Connected() const { return connected_ && connected_(); }

  // ---- Protection settings ("Parametry") ----
  // The record behind the boxes; user-interface thread only.
  nx480::SettingsWords SettingsRecord{};
  QString SettingsFileName;  // the settings file last opened or saved
  bool Modified = false;

  void SettingsToBoxes() override;
  // Rebuilds SettingsRecord from the boxes; on a box without a valid number shows the
  // conversion message and returns false, the record unchanged.
  bool BoxesToSettings();
  void ShowStatus(const std::string& text) override;
  void UpdateCaption();

  // Event handlers.
  void FormShow() override;
  void PageChange();      // tab changed (and on every show)
  void BoxExit(int box);  // a voltage or percent box was left
  void ButtonReadPClick();
  void ButtonWritePClick();
  void ButtonOpenClick();
  void ButtonSaveClick();
  void TimerMsgTimer();

  // Dialogs and messages, replaceable so that tests need no modal windows.
  // The chosen path, or empty when the user cancels; `preset` is the name shown first.
  std::function<QString(const QString& preset)> ChooseOpenFile;
  std::function<QString(const QString& preset)> ChooseSaveFile;
  std::function<void(const QString& title, const QString& text)> ShowError;
  std::function<void()> Beep;

  // Frame.
  QTabWidget* Page1 = nullptr;
  QWidget* TabOchrana = nullptr;
  QWidget* TabDatumCas = nullptr;
  QWidget* TabKalibrace = nullptr;
  QWidget* TabFirmware = nullptr;
  QLabel* LabelMsg = nullptr;
  QPushButton* ButtonKonec = nullptr;
  QTimer* TimerMsg = nullptr;

  // "Parametry": the boxes by nx480::Box, and the label in front of each (the row caption, or
  // "[%]" / "t[s]").
  std::array<QLineEdit*, nx480::kBoxCount> Edit{};
  std::array<QLabel*, nx480::kBoxCount> Label{};
  QGroupBox* RadioGroupFaze = nullptr;
  QButtonGroup* FazeButtons = nullptr;
  QLabel* LabelLog = nullptr;
  QComboBox* ComboBoxLog = nullptr;
  QFrame* PanelNX480P = nullptr;
  QPushButton* ButtonReadP = nullptr;
  QPushButton* ButtonWriteP = nullptr;
  QLabel* LabelNX480P = nullptr;
  QFrame* PanelDisk = nullptr;
  QPushButton* ButtonOpen = nullptr;
  QPushButton* ButtonSave = nullptr;
  QLabel* LabelFile = nullptr;

  int FazeIndex() const;  // -1 while no item is selected
  void SetFazeIndex(int index);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // nx480::ParameterWindow
  void StoreParameterWords(size_t first, const uint16_t* words, size_t count) override;
  const nx480::SettingsWords& WriteHandOver() const override { return writeHandOver_; }

  void BuildFrame();
  void BuildParametry();
  nx480::ParameterBoxes CollectBoxes() const;
  void ApplyBoxes(const nx480::ParameterBoxes& boxes);
  bool BuildRecord(nx480::SettingsWords& record);
  void MarkModified();
  bool ParametryActive() const;

  // Refuses a request to the relay while none is connected (a paused worker would never serve
  // it): shows why and returns false.
  bool CheckConnected();
  void ShowFileError(const QString& what, const QString& path, const nx480::FileError& error);

  std::function<int()> firmwareMinor_;
  std::function<int()> serviceMode_;
  std::function<bool()> connected_;
  // What SettingsToBoxes showed of the rounded reconnection time, and whether the user picked
  // a recording interval since (see nx480::ParameterBoxes).
  nx480::ShownWord tRelShown_;
  bool logChosen_ = false;
  // The record of the write in progress: written here only while WriteParamsRequest is 0, read
  // by the worker while it is set.
  nx480::SettingsWords writeHandOver_{};
  QString lastOpenName_;  // the open dialog starts with the name last chosen in it
};
