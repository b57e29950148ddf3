// SIGTERM, SIGHUP and SIGINT (a logout, `kill`, a closed terminal, Ctrl-C in the terminal that
// started the tool) end the tool the way closing its main window does: a forced output back to
// "Auto", an upload stopped with Cancel to the relay, the port closed. The handler only writes
// the signal's number into a pipe; the window is closed from the event loop.
//
// Windows (signal_close_win32.cpp): a logoff or shutdown does the same before the session ends
// (Qt's commitDataRequest from WM_QUERYENDSESSION, else WM_ENDSESSION); so do the console's
// control events where the program has a console (Ctrl-C, Ctrl-Break, the console closed),
// the handler holding the process until the window has closed.
#pragma once

#include <QObject>
#include <array>

class QAbstractNativeEventFilter;
class QSocketNotifier;
class QWidget;

class CloseOnSignals : public QObject {
  Q_OBJECT
 public:
  // One at a time; the signals' earlier handlers come back when it goes.
  explicit CloseOnSignals(QWidget& window);
  ~CloseOnSignals() override;
  CloseOnSignals(const CloseOnSignals&) = delete;
  CloseOnSignals& operator=(const CloseOnSignals&) = delete;

  static constexpr std::array<int, 3> kSignals = {15, 1, 2};  // SIGTERM, SIGHUP, SIGINT

#ifdef _WIN32
  // Closes the main window (from the event loop); closing again does nothing more.
  void CloseWindow();
#endif

 private:
  void Take();

  QWidget& window_;
  QSocketNotifier* notifier_ = nullptr;
#ifdef _WIN32
  QAbstractNativeEventFilter* sessionFilter_ = nullptr;
#endif
};
