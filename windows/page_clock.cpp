#include "page_clock.h"

using namespace nx480;

PageClock::PageClock(TFormSetup& frame) : SetupPage(frame, "TabDatumCas") {}

std::vector<RequestDecl> PageClock::Requests() {
  return {{.slot = kReadClockRequest, .request = &ReadClockRequest, .clearedOnConnect = true},
          {.slot = kWriteClockRequest, .request = &WriteClockRequest, .clearedOnConnect = true},
          {.slot = kRelayCommand, .request = &RelayCommand, .clearedOnConnect = false}};
}

void PageClock::Activated() {
  ReadClockRequest.Set(1);
}
