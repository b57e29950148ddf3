// send_ctrl PID [c|break] [--group]: Ctrl-C (or Ctrl-Break) to the console of process PID, as a
// key press in it would give - for the tests under Wine of nx480ctl's interrupts
// (ctl/interrupt.h). It attaches to the target's console, ignores the event itself and sends it
// to every process of that console (Windows' group 0); with --group to the process group PID
// instead, which is what reaches the target under Wine 8 (its group 0 is the sender's own group,
// and it sends no Ctrl-Break). Exit status: 0 sent, 2 bad command line, 3 no such console, 4 the
// event could not be sent.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[]) {
  char* end = nullptr;
  const unsigned long pid = argc >= 2 ? std::strtoul(argv[1], &end, 10) : 0;
  bool breakKey = false;
  bool toGroup = false;
  bool good = argc >= 2 && pid != 0 && *end == '\0';
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
    std::fputs("usage: send_ctrl PID [c|break] [--group]\n", stderr);
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
