// Files the tool writes and reads whole: written to a temporary file beside the target and
// renamed into place, so that a target is either replaced whole or left exactly as it was.
// Plain C++ (POSIX); the windows turn a FileError into their message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace nx480 {

enum class FileProblem {
  None,
  NotFound,           // no such file, or no such folder on the way
  ReadOnly,           // the file exists and may not be written
  FolderNotWritable,  // no new file may be made in the folder (rights, read-only disk)
  AccessDenied,       // the file may not be read
  IsFolder,           // the path names a folder
  NoSpace,            // the disk (or the user's quota) is full
  Other,
};

struct FileError {
  FileProblem problem = FileProblem::None;
  int systemError = 0;  // errno behind it, 0 when there is none
};

// Writes `bytes` as `path`. A symbolic link is followed and stays a link. An existing target
// that cannot be written - no write right for this user, or no write bit at all (a file
// protected with mode 0444 is refused even where the superuser could write it) - is refused
// and left alone: replacing it by a rename would break its links and change its owner behind
// the user's back. A writable target keeps its mode (and, where the system allows it, its
// owner and group). The bytes are flushed to disk before the rename. On failure no file is
// left behind and `error` says why.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes, FileError& error);

// Reads up to buffer.size() bytes from the start of `path`; `got` is how many there were.
bool ReadFileStart(const std::string& path, std::span<uint8_t> buffer, size_t& got,
                   FileError& error);

// The reason in the user's words (Czech), without the system's text.
std::string FileProblemText(FileProblem problem);
// The system's own text for the error behind it ("" when there is none).
std::string SystemErrorText(const FileError& error);

}  // namespace nx480
