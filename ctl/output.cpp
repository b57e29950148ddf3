#include "output.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <system_error>

namespace nx480::ctl {

namespace {

// The error of the first failed write to standard output; 0 while none failed. The live
// stream prints from the worker.
std::atomic<int> outputError{0};

// The progress line: its width on the terminal while one is shown (0: none). A write that fails
// there is not looked at (a closed terminal ends no command).
std::mutex progressMutex;
size_t progressWidth = 0;

bool ProgressShown() {
  static const bool terminal = StandardErrorIsTerminal();
  return terminal;
}

size_t Characters(const std::string& text) {
  size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return characters;
}

// progressMutex held.
void EraseProgress() {
  if (progressWidth == 0) return;
  (void)std::fprintf(stderr, "\r%s\r", std::string(progressWidth, ' ').c_str());
  progressWidth = 0;
}

}  // namespace

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  // A console (a file or a pipe has no console mode).
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
  return ::isatty(STDERR_FILENO) == 1;
#endif
}

void Say(const std::string& text) {
  const std::lock_guard lock(progressMutex);
  EraseProgress();
  std::fprintf(stderr, "nx480ctl: %s\n", text.c_str());
  std::fflush(stderr);
}

void ShowProgress(const std::string& text) {
  if (!ProgressShown()) return;
  const std::lock_guard lock(progressMutex);
  const size_t width = Characters(text);
  // Blanks over what a longer line before left.
  (void)std::fprintf(stderr, "\r%s%s", text.c_str(),
                     std::string(progressWidth > width ? progressWidth - width : 0, ' ').c_str());
  (void)std::fflush(stderr);
  progressWidth = std::max(width, progressWidth);
}

void EndProgress() {
  const std::lock_guard lock(progressMutex);
  EraseProgress();
  (void)std::fflush(stderr);
}

bool Print(const std::string& text) {
  if (OutputFailed()) return false;
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
    return true;
  const int err = errno;
  int none = 0;
  outputError.compare_exchange_strong(none, err != 0 ? err : EIO);
  return false;
}

bool OutputFailed() {
  return outputError.load() != 0;
}

bool CloseOutput() {
  // The close too: a file system may report a failed write only there.
  if (std::fflush(stdout) != 0 || std::fclose(stdout) != 0) {
    const int err = errno;
    int none = 0;
    outputError.compare_exchange_strong(none, err != 0 ? err : EIO);
  }
  if (!OutputFailed()) return true;
  Say("standard output: " + std::generic_category().message(outputError.load()) +
      "; the output is incomplete");
  return false;
}

std::string FileErrorText(const FileError& error) {
  std::string text;
  switch (error.problem) {
    case FileProblem::None:
      text = "no error";
      break;
    case FileProblem::NotFound:
      text = "no such file or folder";
      break;
    case FileProblem::ReadOnly:
      text = "the file is write-protected";
      break;
    case FileProblem::FolderNotWritable:
      text = "no file may be made in that folder";
      break;
    case FileProblem::AccessDenied:
      text = "the file may not be read";
      break;
    case FileProblem::IsFolder:
      text = "it is a folder";
      break;
    case FileProblem::NoSpace:
      text = "the disk is full";
      break;
    case FileProblem::NoReader:
      text = "it is a pipe that nobody reads";
      break;
    case FileProblem::NotAFile:
      text = "it is not a regular file";
      break;
    case FileProblem::BrokenLink:
      text = "the symbolic link leads to no file";
      break;
    case FileProblem::NotAFolder:
      text = "not a folder: a file stands where the path needs a folder";
      break;
    case FileProblem::Other:
      text = "it cannot be read or written";
      break;
  }
  const std::string system = SystemErrorText(error);
  if (!system.empty()) text += " (" + system + ")";
  return text;
}

std::string Counted(size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Column(const std::string& text, size_t width) {
  const size_t characters = Characters(text);
  return characters >= width ? text + " " : text + std::string(width - characters, ' ');
}

}  // namespace nx480::ctl
