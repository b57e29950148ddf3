#include "form_history.h"

TFormHistory::TFormHistory(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormHistory");
  setWindowTitle("Historie");
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  resize(455, 654);
  move(796, 12);
}

void TFormHistory::showEvent(QShowEvent* event) {
  RelayWindow::showEvent(event);
  HistoryRequest.store(1, std::memory_order_release);
}

void TFormHistory::hideEvent(QHideEvent* event) {
  HistoryRequest.store(0, std::memory_order_release);
  RelayWindow::hideEvent(event);
}
