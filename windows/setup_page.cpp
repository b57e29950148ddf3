#include "setup_page.h"

#include "modbus.h"

SetupPage::SetupPage(SetupFrame& frame, const char* objectName) : frame_(frame) {
  setObjectName(objectName);
}

std::function<void(nx480::TModbus&)> SetupPage::ReportFailure() {
  return [this](nx480::TModbus& link) {
    link.Synchronize([this] { frame_.ShowStatus(*this, nx480::Outcome::CommunicationError); });
  };
}
