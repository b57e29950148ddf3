#include "relay_window.h"

#include <QKeyEvent>

RelayWindow::RelayWindow(QWidget* parent) : QWidget(parent, Qt::Window) {}

void RelayWindow::SetSession(const nx480::RelaySession& session) {
  session_ = session;
  SessionChanged();
}

void RelayWindow::keyPressEvent(QKeyEvent* event) {
  if (keyForward_) keyForward_(event->key(), event->modifiers());
  QWidget::keyPressEvent(event);
}

void RelayWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormShow();
}
