#include "form_history.h"

TFormHistory::TFormHistory(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormHistory");
  setWindowTitle("Historie");
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  resize(455, 654);
  move(796, 12);
}

std::vector<nx480::RequestDecl> TFormHistory::Requests() {
  return {{.slot = nx480::kHistoryRequest, .request = &HistoryRequest, .clearedOnConnect = true}};
}

void TFormHistory::showEvent(QShowEvent* event) {
  RelayWindow::showEvent(event);
  HistoryRequest.Set(1);
}

void TFormHistory::hideEvent(QHideEvent* event) {
  HistoryRequest.Clear();
  RelayWindow::hideEvent(event);
}
