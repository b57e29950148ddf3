// Live values window (module Online). Its timer asks the worker for a snapshot of the relay's
// measurements every 200 ms while the window is shown.
#pragma once

#include <atomic>
#include <cstdint>

#include "relay_window.h"

class QTimer;

class TFormOnLine : public RelayWindow {
  Q_OBJECT
 public:
  explicit TFormOnLine(QWidget* parent = nullptr);

  std::atomic<int32_t> LiveRequest{0};

  QTimer* Timer1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
};
