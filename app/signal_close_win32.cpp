// Windows: the session's end (a logoff, a shutdown) and, where the program has a console, the
// console's control events end the tool the way closing its main window does (signal_close.h).
#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "signal_close.h"

namespace {

using namespace std::chrono_literals;

// The one CloseOnSignals, and whether its window has been closed (for a console handler that
// holds the process until then). Under `mutex`. Never destroyed: a handler may still wait on it
// while the program ends.
struct Shared {
  std::mutex mutex;
  std::condition_variable closedChanged;
  CloseOnSignals* current = nullptr;
  bool windowClosed = false;
};
Shared& shared = *new Shared;

// Windows' own thread. Every event closes the window from the event loop; a close, logoff or
// shutdown ends the process once this returns, so it waits for the window to have closed - at
// most 4 s, inside Windows' 5.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  std::unique_lock lock(shared.mutex);
  if (!shared.current) return FALSE;
  QMetaObject::invokeMethod(shared.current, &CloseOnSignals::CloseWindow, Qt::QueuedConnection);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    shared.closedChanged.wait_for(lock, 4s, [] { return shared.windowClosed; });
  return TRUE;
}

}  // namespace

// The session's end as Windows tells the top-level windows: the window is closed before the
// answer to WM_QUERYENDSESSION (Qt's commitDataRequest comes from it) and, should that not have
// come, before WM_ENDSESSION returns - Windows may end the process right after it.
class SessionEndFilter : public QAbstractNativeEventFilter {
 public:
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "windows_generic_MSG") return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_ENDSESSION && msg->wParam && shared.current)
      shared.current->CloseWindow();
    return false;  // Qt's own handling goes on
  }
};

CloseOnSignals::CloseOnSignals(QWidget& window) : window_(window) {
  {
    const std::lock_guard lock(shared.mutex);
    if (shared.current) throw std::logic_error("CloseOnSignals: one at a time");
    shared.current = this;
    shared.windowClosed = false;
  }
  connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
          [this](QSessionManager&) { CloseWindow(); });
  sessionFilter_ = new SessionEndFilter;
  QCoreApplication::instance()->installNativeEventFilter(sessionFilter_);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

CloseOnSignals::~CloseOnSignals() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  QCoreApplication::instance()->removeNativeEventFilter(sessionFilter_);
  delete sessionFilter_;
  const std::lock_guard lock(shared.mutex);
  shared.current = nullptr;
}

void CloseOnSignals::CloseWindow() {
  // Closing again does nothing more (TFormMain::FormClose).
  window_.close();
  const std::lock_guard lock(shared.mutex);
  shared.windowClosed = true;
  shared.closedChanged.notify_all();
}
