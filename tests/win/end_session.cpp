// end_session IMAGE_NAME: a logoff as Windows tells a GUI program of it, for the tests under Wine
// of how the windows end with the session. Every top-level window of the one running process of
// that name gets WM_QUERYENDSESSION, then WM_ENDSESSION (TRUE, ENDSESSION_LOGOFF); then the
// process is ended at once, as Windows may end it as soon as WM_ENDSESSION has returned. So what
// the program has not done by then is not done. Exit status: 0 the session ended, 2 bad command
// line, 5 no process or more than one of that name, 6 no window, 7 a window refused or did not
// answer within 30 s, 8 the process could not be ended.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "find_process.h"

namespace {

struct Search {
  DWORD process = 0;
  std::vector<HWND> windows;
};

BOOL CALLBACK Collect(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process) search->windows.push_back(window);
  return TRUE;
}

// The message to WINDOW and its answer; false when the window did not answer in time.
bool Tell(HWND window, UINT message, WPARAM w, LPARAM l, DWORD_PTR& answer) {
  return SendMessageTimeoutW(window, message, w, l, SMTO_NORMAL, 30000, &answer) != 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fputs("usage: end_session IMAGE_NAME\n", stderr);
    return 2;
  }
  Search search;
  search.process = FindProcess(argv[1]);
  if (search.process == 0) {
    std::fprintf(stderr, "end_session: no single running process named %s\n", argv[1]);
    return 5;
  }
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
  if (search.windows.empty()) {
    std::fprintf(stderr, "end_session: %s has no top-level window\n", argv[1]);
    return 6;
  }
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, search.process);
  if (!process) return 8;
  // A window the program closed meanwhile (its other windows go with the main one) is not
  // asked: Windows asks the windows there are.
  for (HWND window : search.windows) {
    DWORD_PTR answer = 0;
    if (!IsWindow(window)) continue;
    if (!Tell(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, answer)) {
      if (!IsWindow(window)) continue;
      std::fprintf(stderr, "end_session: a window of %s did not answer (error %lu)\n", argv[1],
                   GetLastError());
      return 7;
    }
    if (answer == 0) {
      std::fprintf(stderr, "end_session: a window of %s refused the logoff\n", argv[1]);
      return 7;
    }
  }
  for (HWND window : search.windows) {
    DWORD_PTR answer = 0;
    if (IsWindow(window)) Tell(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, answer);
  }
  // Windows' part after the last WM_ENDSESSION: the process ends whatever it was doing.
  const bool ended = TerminateProcess(process, 0) != 0 && WaitForSingleObject(process, 30000) == 0;
  CloseHandle(process);
  std::printf("end_session: %zu window(s) of %s told, the process ended\n", search.windows.size(),
              argv[1]);
  return ended ? 0 : 8;
}
