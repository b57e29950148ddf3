// nx480ctl: the command-line companion of nx480-pc.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// windows.h first
#include <shellapi.h>

#include <cstdio>
#endif
#include <string>
#include <utility>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "interrupt.h"
#include "journal_entry.h"
#include "output.h"

using namespace nx480::ctl;

namespace {

// The arguments in UTF-8. Windows hands main() the ANSI code page's bytes ("Novák" in
// Windows-1250 or lost): they come from the wide command line instead.
std::vector<std::string> Arguments(int argc, char* argv[]) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  std::vector<std::string> out;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return out;
  for (int i = 1; i < count; ++i) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), n, nullptr, nullptr);
    out.push_back(std::move(text));
  }
  ::LocalFree(wide);
  return out;
#else
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
#ifdef _WIN32
  // The bytes as written: LF line ends as on Linux (a script compares or pipes them on).
  (void)_setmode(_fileno(stdout), _O_BINARY);
  (void)_setmode(_fileno(stderr), _O_BINARY);
#endif
  // Before the worker thread exists, so that it inherits the mask (interrupt.h).
  BlockInterrupts();
  const ParsedLine parsed = ParseCommandLine(Arguments(argc, argv));
  if (!parsed.Ok()) {
    Say(parsed.error + " (nx480ctl --help tells more)");
    return Code(Exit::Usage);
  }
  const Invocation& invocation = parsed.invocation;
  Exit result = Exit::Ok;
  if (invocation.command == Command::Help) {
    Print(HelpText(invocation.helpTopic));
  } else if (invocation.command == Command::Version) {
    Print("nx480ctl " NX480_VERSION_TEXT "\n");
  } else {
    // Ctrl-C (SIGTERM, SIGHUP) ends a live stream, a held relay mode, a history reading and an
    // upload; the other commands are over within a second and finish their exchange. Nothing
    // more is sent after it; a second one ends the program at once (relay_link.h).
    result = RunCommand(invocation);
  }
  // A change whose entry stays pending: the journal no longer says what happened. The message of
  // the change's own end came before; this code tells a script apart from every other end.
  if (JournalLeftIncomplete()) {
    Say("the change journal is incomplete: the entry of this change stays pending (see above)");
    result = Exit::JournalIncomplete;
  }
  // Output that did not arrive whole is no success (nor a verdict of settings diff).
  if (!CloseOutput() && (result == Exit::Ok || result == Exit::Differs)) result = Exit::BadFile;
  // The relay is in a known state: a closed console or a logoff may end the program (Windows).
  CommandEnded();
  return Code(result);
}
