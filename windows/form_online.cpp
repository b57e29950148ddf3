#include "form_online.h"

#include <QTimer>

TFormOnLine::TFormOnLine(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormOnLine");
  setWindowTitle("Aktuální hodnoty");
  // Fixed border without border icons: the window comes and goes with the connection.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(560, 401);
  move(426, 104);
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
