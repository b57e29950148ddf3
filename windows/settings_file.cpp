#include "settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace nx480 {

namespace {

std::string ErrnoText(int error) {
  return std::generic_category().message(error);
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
int CreateTemporary(const std::filesystem::path& target, std::string& tmpPath) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path dir =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
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

SettingsFileImage SettingsFileBytes(const SettingsWords& record) {
  SettingsFileImage bytes{};
  for (size_t i = 0; i < kSettingsWords; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(record[i] & 0xFFu);
    bytes[2 * i + 1] = static_cast<uint8_t>(record[i] >> 8);
  }
  return bytes;
}

size_t ApplySettingsFileBytes(std::span<const uint8_t> bytes, SettingsWords& record) {
  const size_t count = bytes.size() < kSettingsFileSize ? bytes.size() : kSettingsFileSize;
  for (size_t k = 0; k < count; ++k) {
    uint16_t& word = record[k / 2];
    if (k % 2 == 0) {
      word = static_cast<uint16_t>((word & 0xFF00u) | bytes[k]);
    } else {
      word = static_cast<uint16_t>((word & 0x00FFu) | (bytes[k] << 8));
    }
  }
  return count;
}

bool SaveSettingsFile(const std::string& path, const SettingsWords& record, std::string& error) {
  namespace fs = std::filesystem;
  fs::path target(path);
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    const fs::path real = fs::canonical(target, ec);
    if (!ec) target = real;  // a dangling link is replaced like a file
  }
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    error = ErrnoText(EISDIR);
    return false;
  }

  std::string tmpPath;
  const int fd = CreateTemporary(target, tmpPath);
  if (fd < 0) {
    error = ErrnoText(errno);
    return false;
  }
  // A replaced file keeps its permissions.
  if (exists) (void)::fchmod(fd, existing.st_mode & 07777);

  const SettingsFileImage bytes = SettingsFileBytes(record);
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
    error = ErrnoText(savedErrno);
    return false;
  }
  // Make the rename itself durable; a failure here does not undo the save.
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

bool LoadSettingsFile(const std::string& path, SettingsWords& record, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoText(errno);
    return false;
  }
  SettingsFileImage bytes{};
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = ErrnoText(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  ApplySettingsFileBytes(std::span<const uint8_t>(bytes.data(), got), record);
  return true;
}

}  // namespace nx480
