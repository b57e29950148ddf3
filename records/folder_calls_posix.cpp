// The folder calls on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "folder_calls.h"

namespace nx480 {

namespace {

// A folder opened without following a link at its last step; -1 for a link or no folder.
int OpenRealFolder(int at, const char* name) {
  return ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The names in the folder `fd` (which stays open; the listing has its own descriptor).
std::vector<std::string> Names(int fd) {
  std::vector<std::string> names;
  const int own = ::dup(fd);
  if (own < 0) return names;
  DIR* dir = ::fdopendir(own);
  if (!dir) {
    ::close(own);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

Node NodeAt(const std::string& path, bool followLinks) {
  struct stat st {};
  Node node;
  if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
    node.error = errno;
    return node;
  }
  node.kind = S_ISREG(st.st_mode)   ? NodeKind::File
              : S_ISDIR(st.st_mode) ? NodeKind::Folder
              : S_ISLNK(st.st_mode) ? NodeKind::Link
                                    : NodeKind::Other;
  node.size = static_cast<uint64_t>(st.st_size);
  return node;
}

bool MakeFolder(const std::string& path, int& error) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  error = errno;
  return false;
}

bool RemoveEmptyFolder(const std::string& path) {
  return ::rmdir(path.c_str()) == 0;
}

bool SyncFolder(const std::string& folder, int& error) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  error = ok ? 0 : errno;
  ::close(fd);
  return ok;
}

bool FolderNames(const std::string& path, std::vector<std::string>& names, int& error) {
  names.clear();
  DIR* dir = ::opendir(path.c_str());
  if (!dir) {
    error = errno;
    return false;
  }
  while (const dirent* item = ::readdir(dir)) {
    const std::string_view name = item->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return true;
}

std::vector<OwnFile> OwnFilesUnder(const std::string& root,
                                   const std::function<bool(const std::string&)>& folderWanted,
                                   const std::function<bool(const std::string&)>& fileWanted) {
  std::vector<OwnFile> files;
  const FdCloser rootFd{::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (rootFd.fd < 0) return files;
  for (const std::string& folder : Names(rootFd.fd)) {
    if (!folderWanted(folder)) continue;
    const FdCloser relay{OpenRealFolder(rootFd.fd, folder.c_str())};
    if (relay.fd < 0) continue;
    for (const std::string& name : Names(relay.fd)) {
      struct stat st {};
      if (!fileWanted(name) || ::fstatat(relay.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISREG(st.st_mode))
        continue;
      files.push_back({folder, name, static_cast<uint64_t>(st.st_size)});
    }
  }
  return files;
}

bool RemoveOwnFile(const std::string& root, const std::string& folder, const std::string& name) {
  const FdCloser rootFd{::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (rootFd.fd < 0) return false;
  const FdCloser relay{OpenRealFolder(rootFd.fd, folder.c_str())};
  struct stat st {};
  return relay.fd >= 0 && ::fstatat(relay.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(st.st_mode) && ::unlinkat(relay.fd, name.c_str(), 0) == 0;
}

bool OpenFile::OpenForAppend(const std::string& path, int& error) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    error = errno;
    return false;
  }
  handle_ = fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = errno;
    Close();
    return false;
  }
  regular_ = S_ISREG(st.st_mode);
  if (!regular_ && !S_ISCHR(st.st_mode)) {
    error = EINVAL;
    Close();
    return false;
  }
  return true;
}

bool OpenFile::OpenForRead(const std::string& path, int& error) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = errno;
    return false;
  }
  handle_ = fd;
  struct stat st {};
  regular_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!regular_) {
    error = EINVAL;
    Close();
    return false;
  }
  return true;
}

uint64_t OpenFile::Size() const {
  struct stat st {};
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

long OpenFile::Read(char* data, size_t size, int& error) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_), data, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    error = errno;
    return -1;
  }
}

bool OpenFile::ByteAt(uint64_t offset, char& byte) const {
  return ::pread(static_cast<int>(handle_), &byte, 1, static_cast<off_t>(offset)) == 1;
}

bool OpenFile::Append(const char* data, size_t size, int& error) {
  while (size > 0) {
    const ssize_t n = ::write(static_cast<int>(handle_), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void OpenFile::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  regular_ = false;
}

}  // namespace nx480
