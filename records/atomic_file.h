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
  NoReader,           // a pipe (FIFO) that no program reads, or whose reader went away
  NotAFile,           // something other than a file: a device, a socket, a pipe where a file
                      // must be read
  BrokenLink,         // a symbolic link that leads to nothing, or into a loop
  NotAFolder,         // something other than a folder (a file) stands where the path needs one
  Other,
};

struct FileError {
  FileProblem problem = FileProblem::None;
  int systemError = 0;  // errno behind it, 0 when there is none
};

// Writes `bytes` as `path`. Only a regular file is ever replaced by a rename; what else the
// path may name:
//  * a symbolic link is followed: a link to a regular file replaces that file and stays a link;
//    a link that leads nowhere or into a loop is refused (BrokenLink);
//  * a FIFO or a character device (/dev/null, a terminal) is written in place, as a shell's
//    redirection would. A FIFO that no program has open for reading is refused at once
//    (NoReader) rather than waited for; once open, a write waits for a slow reader, and a
//    reader that goes away ends it with NoReader (the program gets no SIGPIPE from it);
//  * a folder is refused (IsFolder), anything else (a block device, a socket) too (NotAFile).
// An existing target that cannot be written - no write right for this user, or no write bit at
// all (a file protected with mode 0444 is refused even where the superuser could write it) - is
// refused and left alone: replacing it by a rename would break its links and change its owner
// behind the user's back. A writable file keeps its mode (and, where the system allows it, its
// owner and group). The bytes are flushed to disk before the rename, and the folder after it: only
// then is it true. On failure `error` says why and no file is left behind - except when the
// folder's sync after the rename fails (an I/O error of the disk): the target then holds the new
// bytes, not known to be on disk.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes, FileError& error);

// Reads up to buffer.size() bytes from the start of `path`; `got` is how many there were. Only
// a regular file (or a link to one) is read; anything else is refused without waiting
// (NotAFile; IsFolder for a folder): a FIFO or a terminal could hold the caller forever, and a
// device is not even opened.
bool ReadFileStart(const std::string& path, std::span<uint8_t> buffer, size_t& got,
                   FileError& error);

// What errno `err` means for a file: `creating` a new one in its folder (EACCES: the folder is
// not writable) or opening an existing one (EACCES: access denied).
FileProblem FileProblemOf(int err, bool creating);

// The reason in the user's words (the windows' language), without the system's text.
std::string FileProblemText(FileProblem problem);
// The system's own text for the error behind it ("" when there is none).
std::string SystemErrorText(const FileError& error);

}  // namespace nx480
