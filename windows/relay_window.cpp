#include "relay_window.h"

#include <QKeyEvent>
#include <QShowEvent>

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
  // A spontaneous show is the window system's: a minimised window restored ("show desktop"
  // undone, say). That is no new show: an upload goes on, typed values stay.
  if (!event->spontaneous()) FormShow();
}
