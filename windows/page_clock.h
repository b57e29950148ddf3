// The settings window's "Datum, čas" page: the relay's clock beside the PC's, and the relay
// mode. Its clock is read each time the page becomes the active one.
#pragma once

#include "setup_page.h"

class PageClock : public SetupPage {
  Q_OBJECT
 public:
  explicit PageClock(TFormSetup& frame);

  nx480::Request ReadClockRequest;
  nx480::Request WriteClockRequest;
  // The relay mode to send: the RadioGroupRele item + 1 (1 auto, 2 on, 3 off).
  nx480::Request RelayCommand;
  std::vector<nx480::RequestDecl> Requests() override;

  void Activated() override;
};
