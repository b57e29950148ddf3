// Settings window (module Setup): protection settings, clock, relay mode, calibration and the
// firmware upload. Each tab asks the worker for work through the request flags below.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>

#include "relay_window.h"

class TFormSetup : public RelayWindow {
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
};
