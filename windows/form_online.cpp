#include "form_online.h"

#include <QTimer>

TFormOnLine::TFormOnLine(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormOnLine");
  setWindowTitle("NX480 - On-line");
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(200);
  connect(Timer1, &QTimer::timeout, this,
          [this] { LiveRequest.store(1, std::memory_order_release); });
}

void TFormOnLine::showEvent(QShowEvent* event) {
  RelayWindow::showEvent(event);
  Timer1->start();
}

void TFormOnLine::hideEvent(QHideEvent* event) {
  Timer1->stop();
  RelayWindow::hideEvent(event);
}
