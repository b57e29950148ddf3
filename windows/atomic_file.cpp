#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace nx480 {

namespace {

namespace fs = std::filesystem;

FileProblem ProblemOf(int err, bool creating) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return FileProblem::NotFound;
    case EACCES:
    case EPERM:
      return creating ? FileProblem::FolderNotWritable : FileProblem::AccessDenied;
    case EROFS:
      return FileProblem::FolderNotWritable;
    case EISDIR:
      return FileProblem::IsFolder;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return FileProblem::NoSpace;
    default:
      return FileProblem::Other;
  }
}

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

}  // namespace

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         FileError& error) {
  fs::path target(path);
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    const fs::path real = fs::canonical(target, ec);
    if (!ec) target = real;  // a dangling link is replaced like a file
  }
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists) {
    if (S_ISDIR(existing.st_mode)) return Fail(error, FileProblem::IsFolder, EISDIR);
    if ((existing.st_mode & 0222) == 0) return Fail(error, FileProblem::ReadOnly, EACCES);
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
    return Fail(error, ProblemOf(err, true), err);
  }
  if (exists) {
    // A replaced file keeps its rights, and its owner and group where we may give them.
    (void)::fchown(fd, existing.st_uid, existing.st_gid);
    (void)::fchmod(fd, existing.st_mode & 07777);
  }

  bool ok = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  int savedErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(tmpPath.c_str(), target.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(tmpPath.c_str());
    return Fail(error, ProblemOf(savedErrno, true), savedErrno);
  }
  // Make the rename itself durable; a failure here does not undo the save.
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)::fsync(dirFd);
    ::close(dirFd);
  }
  error = {};
  return true;
}

bool ReadFileStart(const std::string& path, std::span<uint8_t> buffer, size_t& got,
                   FileError& error) {
  got = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return Fail(error, ProblemOf(err, false), err);
  }
  while (got < buffer.size()) {
    const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      got = 0;
      return Fail(error, ProblemOf(err, false), err);
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  error = {};
  return true;
}

std::string FileProblemText(FileProblem problem) {
  switch (problem) {
    case FileProblem::None:
      return "";
    case FileProblem::NotFound:
      return "Soubor nebo složka neexistuje.";
    case FileProblem::ReadOnly:
      return "Soubor je chráněn proti zápisu (jen pro čtení).";
    case FileProblem::FolderNotWritable:
      return "Do složky nelze zapisovat (chybí oprávnění nebo je disk jen pro čtení).";
    case FileProblem::AccessDenied:
      return "Přístup k souboru byl odepřen.";
    case FileProblem::IsFolder:
      return "Zadaná cesta je složka, ne soubor.";
    case FileProblem::NoSpace:
      return "Na disku není dost místa.";
    case FileProblem::Other:
      return "Chyba při práci se souborem.";
  }
  return "";
}

std::string SystemErrorText(const FileError& error) {
  return error.systemError != 0 ? std::generic_category().message(error.systemError) : "";
}

}  // namespace nx480
