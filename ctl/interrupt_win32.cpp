// The console's control events (and a session's end) as interrupts: interrupt.h.
#include <windows.h>

#include <thread>

#include "console_interrupts.h"
#include "interrupt.h"

namespace nx480::ctl {

namespace {

// Never destroyed: a handler may still wait on it while the program ends.
ConsoleInterrupts& Record() {
  static ConsoleInterrupts* const record = new ConsoleInterrupts;
  return *record;
}

// Windows' own thread. Ctrl-C and Ctrl-Break return at once; a close, logoff or shutdown is held
// until the command has ended, then given a moment for the program's own end (its exit code)
// before Windows ends it.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (!Record().Take(event)) return FALSE;
  if (MeaningOfConsoleEvent(event)->holdsProcess) Sleep(1000);
  return TRUE;
}

// A program that has loaded user32 (Qt does) is told of a logoff or shutdown only through its
// top-level windows: a hidden one, on a thread of its own, takes WM_ENDSESSION as the console
// handler takes CTRL_LOGOFF_EVENT / CTRL_SHUTDOWN_EVENT.
LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) {
        // The session ends once this returns: held as the console handler holds.
        (void)Record().Take((lParam & ENDSESSION_LOGOFF) ? CTRL_LOGOFF_EVENT : CTRL_SHUTDOWN_EVENT);
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void WatchSession() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = SessionWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"nx480ctl-session";
  if (!RegisterClassW(&windowClass)) return;
  // Top-level and never shown: a message-only window is not told of the session's end.
  if (!CreateWindowExW(0, windowClass.lpszClassName, L"nx480ctl", WS_OVERLAPPED, 0, 0, 0, 0,
                       nullptr, nullptr, windowClass.hInstance, nullptr))
    return;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
}

}  // namespace

void BlockInterrupts() {
  (void)Record();
  // A parent that started the program with Ctrl-C ignored (a new process group) passes that on.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  std::thread(WatchSession).detach();
}

int WaitInterrupt(std::chrono::milliseconds timeout) {
  return Record().Wait(timeout);
}

int Interrupts() {
  return Record().Count();
}

void CommandEnded() {
  Record().Ended();
}

}  // namespace nx480::ctl
