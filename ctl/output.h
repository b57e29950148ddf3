// Where nx480ctl writes: data on standard output, messages and progress on standard error.
#pragma once

#include <string>

#include "atomic_file.h"

namespace nx480::ctl {

// A message on standard error: "nx480ctl: " + text + a line end.
void Say(const std::string& text);

// Data on standard output, as it is (flushed).
void Print(const std::string& text);

// What went wrong with a file, for a message: the problem in English and the system's text.
std::string FileErrorText(const FileError& error);

// Pads `text` with blanks to `width` characters (UTF-8 aware), for columns.
std::string Column(const std::string& text, size_t width);

}  // namespace nx480::ctl
