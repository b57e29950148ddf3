#include "page_calibration.h"

using namespace nx480;

PageCalibration::PageCalibration(TFormSetup& frame) : SetupPage(frame, "TabKalibrace") {}

std::vector<RequestDecl> PageCalibration::Requests() {
  return {
      {.slot = kReadCalibrationRequest,
       .request = &ReadCalibrationRequest,
       .clearedOnConnect = true},
      {.slot = kWriteCalibrationRequest,
       .request = &WriteCalibrationRequest,
       .clearedOnConnect = true},
      {.slot = kClearHistoryRequest, .request = &ClearHistoryRequest, .clearedOnConnect = false}};
}

void PageCalibration::Activated() {
  ReadCalibrationRequest.Set(1);
}
