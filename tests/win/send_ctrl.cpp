// send_ctrl PID [c|break]: Ctrl-C (or Ctrl-Break) to the console of process PID, as a user's key
// press in it would give - for the tests under Wine of nx480ctl's interrupts (ctl/interrupt.h).
// It attaches to the target's console, ignores the event itself, sends it to every process of
// that console and detaches. Exit status: 0 sent, 2 bad command line, 3 no such console,
// 4 the event could not be sent.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[]) {
  char* end = nullptr;
  const unsigned long pid = argc >= 2 ? std::strtoul(argv[1], &end, 10) : 0;
  const bool breakKey = argc == 3 && std::strcmp(argv[2], "break") == 0;
  if (argc < 2 || argc > 3 || pid == 0 || *end != '\0' ||
      (argc == 3 && !breakKey && std::strcmp(argv[2], "c") != 0)) {
    std::fputs("usage: send_ctrl PID [c|break]\n", stderr);
    return 2;
  }
  // A process has one console at most: ours goes first (stdio is not used after it).
  FreeConsole();
  if (!AttachConsole(static_cast<DWORD>(pid))) return 3;
  SetConsoleCtrlHandler(nullptr, TRUE);
  // Group 0: every process attached to the console (Ctrl-C reaches no single group).
  const bool sent = GenerateConsoleCtrlEvent(breakKey ? CTRL_BREAK_EVENT : CTRL_C_EVENT, 0) != 0;
  // A moment for the console to deliver it before this process leaves.
  Sleep(500);
  FreeConsole();
  return sent ? 0 : 4;
}
