// The settings window's "Kalibrace" page (service mode only): the calibration factors, the
// serial number and the clearing of the relay's event history. Its calibration is read each
// time the page becomes the active one.
#pragma once

#include "setup_page.h"

class PageCalibration : public SetupPage {
  Q_OBJECT
 public:
  explicit PageCalibration(TFormSetup& frame);

  nx480::Request ReadCalibrationRequest;
  nx480::Request WriteCalibrationRequest;
  nx480::Request ClearHistoryRequest;
  std::vector<nx480::RequestDecl> Requests() override;

  void Activated() override;
};
