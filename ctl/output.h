// Where nx480ctl writes: data on standard output, messages and progress on standard error.
#pragma once

#include <string>

#include "atomic_file.h"

namespace nx480::ctl {

// A message on standard error: "nx480ctl: " + text + a line end (a progress line shown is
// erased first).
void Say(const std::string& text);

// The progress of a command that takes seconds, on standard error while it is a terminal, as the
// upload's bar: `text` replaces the line shown before, in place. Nothing otherwise, so that a log
// or a pipe gets the messages only. Any thread.
void ShowProgress(const std::string& text);
// Erases the progress line, if one is shown.
void EndProgress();

// Whether standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();

// Data on standard output, as it is (flushed). A write that fails (a full disk, a pipe whose
// reader has gone where SIGPIPE is ignored) is remembered; false from then on.
bool Print(const std::string& text);

// Whether a write to standard output has failed.
bool OutputFailed();

// Flushes and closes standard output at the end of the program. False, with a message, when
// anything written to it was lost: the command's result must then not be a success.
bool CloseOutput();

// What went wrong with a file, for a message: the problem in English and the system's text.
std::string FileErrorText(const FileError& error);

// "1 record", "37 records": `count` and `noun`, plural with an "s".
std::string Counted(size_t count, const std::string& noun);

// Pads `text` with blanks to `width` characters (UTF-8 aware), for columns.
std::string Column(const std::string& text, size_t width);

}  // namespace nx480::ctl
