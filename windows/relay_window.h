// Common ground of the tool's secondary windows: F1 from any of them toggles the connection,
// and each has on-show logic that the main window re-runs when the relay's firmware changes.
#pragma once

#include <QWidget>
#include <functional>

class QKeyEvent;

class RelayWindow : public QWidget {
  Q_OBJECT
 public:
  using KeyHandler = std::function<void(int key, Qt::KeyboardModifiers modifiers)>;

  explicit RelayWindow(QWidget* parent = nullptr);
  // The main window's key handler; every key pressed in this window goes there.
  void SetKeyForward(KeyHandler handler) { keyForward_ = std::move(handler); }
  // The on-show logic (layout by firmware version and service mode).
  virtual void FormShow() {}

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  KeyHandler keyForward_;
};
