// Common ground of the tool's secondary windows: F1 from any of them toggles the connection,
// each knows the relay session (handed over by the main window in one call when it changes),
// declares the requests it makes to the worker, and has on-show logic that the main window
// re-runs when the relay's version changes.
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "relay_session.h"
#include "request.h"

class QKeyEvent;

class RelayWindow : public QWidget {
  Q_OBJECT
 public:
  using KeyHandler = std::function<void(int key, Qt::KeyboardModifiers modifiers)>;

  explicit RelayWindow(QWidget* parent = nullptr);
  // The main window's key handler; every key pressed in this window goes there.
  void SetKeyForward(KeyHandler handler) { keyForward_ = std::move(handler); }

  // The relay this window works with (user-interface thread).
  void SetSession(const nx480::RelaySession& session);
  const nx480::RelaySession& Session() const { return session_; }

  // The requests this window makes, each with its transaction; bound once by the main window.
  virtual std::vector<nx480::RequestDecl> Requests() { return {}; }

  // The on-show logic (layout by firmware version and service mode). Runs on the program's own
  // show, not when the window system restores a minimised window.
  virtual void FormShow() {}

 protected:
  // After the session changed; the window re-lays itself out only when FormShow() runs (from
  // its show event, or called by the main window for a window already shown).
  virtual void SessionChanged() {}
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  KeyHandler keyForward_;
  nx480::RelaySession session_;
};
