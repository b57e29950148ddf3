// The atomic writer and the reader on POSIX systems.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "atomic_file.h"

namespace nx480 {

namespace {

namespace fs = std::filesystem;

bool Fail(FileError& error, FileProblem problem, int err) {
  error = {problem, err};
  return false;
}

// Writes all of `data`, resuming after interrupted or partial writes.
bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Creates a new file beside `target` that nobody else has open; returns its descriptor or -1.
int CreateTemporary(const fs::path& target, std::string& tmpPath) {
  static std::atomic<unsigned> counter{0};
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmpPath = (dir / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
                      std::to_string(counter.fetch_add(1))))
                  .string();
    // 0666 and the process's umask: the mode a newly created file would get.
    const int fd = ::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Writes `bytes` into a new file beside `target` and renames it into place. `existing` is the
// regular file there now (nullptr: none).
bool ReplaceFile(const fs::path& target, const struct stat* existing,
                 std::span<const uint8_t> bytes, FileError& error) {
  if (existing) {
    if ((existing->st_mode & 0222) == 0) return Fail(error, FileProblem::ReadOnly, EACCES);
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
      const int err = errno;
      return Fail(error, err == EROFS ? FileProblem::FolderNotWritable : FileProblem::ReadOnly,
                  err);
    }
  }

  std::string tmpPath;
  const int fd = CreateTemporary(target, tmpPath);
  if (fd < 0) {
    const int err = errno;
    return Fail(error, FileProblemOf(err, true), err);
  }
  if (existing) {
    // A replaced file keeps its rights, and its owner and group where we may give them.
    (void)::fchown(fd, existing->st_uid, existing->st_gid);
    (void)::fchmod(fd, existing->st_mode & 07777);
  }

  bool ok = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  int savedErrno = errno;
  FileProblem problem = FileProblem::None;
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  // Whatever took the target's place meanwhile, a rename goes only over a regular file.
  struct stat now {};
  if (ok && ::lstat(target.c_str(), &now) == 0 && !S_ISREG(now.st_mode)) {
    ok = false;
    savedErrno = 0;
    problem = S_ISDIR(now.st_mode) ? FileProblem::IsFolder : FileProblem::NotAFile;
  }
  if (ok && ::rename(tmpPath.c_str(), target.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(tmpPath.c_str());
    return Fail(error, problem != FileProblem::None ? problem : FileProblemOf(savedErrno, true),
                savedErrno);
  }
  // Make the rename itself durable. A folder that cannot be opened or synced leaves the new bytes
  // in place but not known to be on disk: that is told (a file system that cannot sync a folder,
  // EINVAL, is taken as it is).
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    const int err = errno;
    return Fail(error, FileProblemOf(err, true), err);
  }
  const bool synced = ::fsync(dirFd) == 0 || errno == EINVAL;
  const int syncErr = errno;
  ::close(dirFd);
  if (!synced) return Fail(error, FileProblemOf(syncErr, true), syncErr);
  error = {};
  return true;
}

// While it lives, a write to a pipe whose reader is gone fails with EPIPE in this thread instead
// of ending the program with SIGPIPE.
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    sigset_t pending;
    wasPending_ = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  }
  ~PipeSignalHeld() {
    // Take back the signal our own write raised, then let the others through again.
    if (raised_ && !wasPending_) {
      const timespec now{};
      while (::sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  PipeSignalHeld(const PipeSignalHeld&) = delete;
  PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;
  void Raised() { raised_ = true; }

 private:
  sigset_t pipe_{};
  sigset_t old_{};
  bool wasPending_ = false;
  bool raised_ = false;
};

// Writes `bytes` into the FIFO or character device `path` names, as a shell's redirection would,
// except that a FIFO nobody reads is refused instead of waited for.
bool WriteInPlace(const std::string& path, bool fifo, std::span<const uint8_t> bytes,
                  FileError& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (fifo && err == ENXIO) return Fail(error, FileProblem::NoReader, err);
    return Fail(error,
                err == EACCES || err == EPERM ? FileProblem::ReadOnly : FileProblemOf(err, false),
                err);
  }
  struct stat opened {};
  int err = 0;
  FileProblem problem = FileProblem::None;
  if (::fstat(fd, &opened) != 0) {
    err = errno;
    problem = FileProblem::Other;
  } else if (!S_ISFIFO(opened.st_mode) && !S_ISCHR(opened.st_mode)) {
    problem = FileProblem::NotAFile;  // changed since it was looked at; nothing written
  } else {
    // The reader is there (or the device open): from now on writes wait for it as usual.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      err = errno;
      problem = FileProblem::Other;
    } else {
      PipeSignalHeld held;
      if (!WriteAll(fd, bytes.data(), bytes.size())) {
        err = errno;
        problem = err == EPIPE ? FileProblem::NoReader : FileProblemOf(err, false);
        if (err == EPIPE) held.Raised();
      }
    }
  }
  if (::close(fd) != 0 && problem == FileProblem::None && errno != EINTR) {
    err = errno;
    problem = FileProblemOf(err, false);
  }
  if (problem != FileProblem::None) return Fail(error, problem, err);
  error = {};
  return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         FileError& error) {
  struct stat node {};
  if (::lstat(path.c_str(), &node) != 0) {
    const int err = errno;
    if (err != ENOENT) return Fail(error, FileProblemOf(err, false), err);
    return ReplaceFile(path, nullptr, bytes, error);  // a new file (or no such folder)
  }
  fs::path target(path);
  if (S_ISLNK(node.st_mode)) {
    if (::stat(path.c_str(), &node) != 0) {
      const int err = errno;
      return Fail(error,
                  err == ENOENT || err == ENOTDIR || err == ELOOP ? FileProblem::BrokenLink
                                                                  : FileProblemOf(err, false),
                  err);
    }
    if (S_ISREG(node.st_mode)) {
      // The file the link names is replaced; the link stays as it is.
      std::error_code ec;
      target = fs::canonical(path, ec);
      if (ec) return Fail(error, FileProblem::BrokenLink, ec.value());
    }
  }
  if (S_ISREG(node.st_mode)) return ReplaceFile(target, &node, bytes, error);
  if (S_ISDIR(node.st_mode)) return Fail(error, FileProblem::IsFolder, EISDIR);
  if (S_ISFIFO(node.st_mode) || S_ISCHR(node.st_mode)) {
    if ((node.st_mode & 0222) == 0) return Fail(error, FileProblem::ReadOnly, EACCES);
    return WriteInPlace(path, S_ISFIFO(node.st_mode), bytes, error);
  }
  return Fail(error, FileProblem::NotAFile, 0);  // a block device, a socket
}

bool ReadFileStart(const std::string& path, std::span<uint8_t> buffer, size_t& got,
                   FileError& error) {
  got = 0;
  // Only a regular file is opened: opening a device may do something (a serial port's control
  // lines), and a FIFO or a terminal may never give its bytes.
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) {
    const int err = errno;
    return Fail(error, err == ELOOP ? FileProblem::BrokenLink : FileProblemOf(err, false), err);
  }
  if (S_ISDIR(node.st_mode)) return Fail(error, FileProblem::IsFolder, EISDIR);
  if (!S_ISREG(node.st_mode)) return Fail(error, FileProblem::NotAFile, 0);
  // Without waiting, should it have become a FIFO since; what is open is looked at again.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return Fail(error, FileProblemOf(err, false), err);
  }
  if (::fstat(fd, &node) != 0 || !S_ISREG(node.st_mode)) {
    ::close(fd);
    return Fail(error, FileProblem::NotAFile, 0);
  }
  while (got < buffer.size()) {
    const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      got = 0;
      return Fail(error, FileProblemOf(err, false), err);
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  error = {};
  return true;
}

}  // namespace nx480
