#include "form_history.h"

TFormHistory::TFormHistory(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormHistory");
  setWindowTitle("Historie");
}

void TFormHistory::showEvent(QShowEvent* event) {
  RelayWindow::showEvent(event);
  HistoryRequest.store(1, std::memory_order_release);
}

void TFormHistory::hideEvent(QHideEvent* event) {
  HistoryRequest.store(0, std::memory_order_release);
  RelayWindow::hideEvent(event);
}
