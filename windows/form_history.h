// Event history window (module History). While shown it asks the worker to read the relay's
// event ring; closing it clears the request, which stops the reading.
#pragma once

#include "relay_window.h"

class TFormHistory : public RelayWindow {
  Q_OBJECT
 public:
  explicit TFormHistory(QWidget* parent = nullptr);

  nx480::Request HistoryRequest;
  std::vector<nx480::RequestDecl> Requests() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
};
