// send_ctrl PROCESS [c|break] [--group]: Ctrl-C (or Ctrl-Break) to the console of PROCESS, as a
// key press in it would give - for the tests under Wine of nx480ctl's interrupts
// (ctl/interrupt.h). PROCESS is a process id or an image name (nx480ctl.exe: the one running
// process of that name, found in the system's process list - Wine has no wmic query for it).
// It attaches to the target's console, ignores the event itself and sends it to every process of
// that console (Windows' group 0); with --group to the process group of the target instead,
// which is what reaches the target under Wine 8 (its group 0 is the sender's own group, and it
// sends no Ctrl-Break). Exit status: 0 sent, 2 bad command line, 3 no such console, 4 the event
// could not be sent, 5 no process or more than one of that name.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "find_process.h"

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fputs("usage: send_ctrl PID|IMAGE_NAME [c|break] [--group]\n", stderr);
    return 2;
  }
  char* end = nullptr;
  unsigned long pid = std::strtoul(argv[1], &end, 10);
  if (*end != '\0') {
    pid = FindProcess(argv[1]);
    if (pid == 0) {
      std::fprintf(stderr, "send_ctrl: no single running process named %s\n", argv[1]);
      return 5;
    }
  }
  bool breakKey = false;
  bool toGroup = false;
  bool good = pid != 0;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "break") == 0) {
      breakKey = true;
    } else if (std::strcmp(argv[i], "--group") == 0) {
      toGroup = true;
    } else if (std::strcmp(argv[i], "c") != 0) {
      good = false;
    }
  }
  if (!good) {
    std::fputs("usage: send_ctrl PID|IMAGE_NAME [c|break] [--group]\n", stderr);
    return 2;
  }
  // A process has one console at most: ours goes first (stdio is not used after it).
  FreeConsole();
  if (!AttachConsole(static_cast<DWORD>(pid))) return 3;
  SetConsoleCtrlHandler(nullptr, TRUE);
  const bool sent = GenerateConsoleCtrlEvent(breakKey ? CTRL_BREAK_EVENT : CTRL_C_EVENT,
                                             toGroup ? static_cast<DWORD>(pid) : 0) != 0;
  // A moment for the console to deliver it before this process leaves.
  Sleep(500);
  FreeConsole();
  return sent ? 0 : 4;
}
