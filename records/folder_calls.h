// The few calls on folders and the nodes in them that the journal and the recordings make, one
// header with a POSIX and a Windows implementation (folder_calls_posix.cpp,
// folder_calls_win32.cpp, chosen by the build). Paths are UTF-8; a failure gives the errno value
// behind it (on Windows the one closest to the Windows error). Plain C++, no Qt.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace nx480 {

// A UTF-8 path as std::filesystem takes it on every platform (on Windows a narrow path would be
// read in the ANSI code page).
inline std::filesystem::path Utf8Path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// `folder` and `name` joined by "/", without doubling a separator `folder` ends with.
inline std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

enum class NodeKind { Missing, File, Folder, Link, Other };

struct Node {
  NodeKind kind = NodeKind::Missing;
  uint64_t size = 0;  // a file's
  int error = 0;      // Missing: why (ENOENT when there is nothing; ELOOP a link into a loop)
};

// What `path` names. `followLinks`: a link is looked through (a link that leads nowhere is
// Missing); else a link is Link (on Windows: any reparse point, a junction too).
Node NodeAt(const std::string& path, bool followLinks);

// Makes the one folder `path` (POSIX mode 0700; Windows: the parent's rights). False with the
// errno value (EEXIST when something is there).
bool MakeFolder(const std::string& path, int& error);
// Removes the empty folder `path`.
bool RemoveEmptyFolder(const std::string& path);

// Makes the folders made and the renames done in `folder` durable (POSIX: fsync of the folder;
// a file system that cannot sync a folder, EINVAL, is taken as it is). Windows has no such call:
// a folder made there is on disk when the call returns (NTFS journals its metadata), and the
// atomic writer's move is written through; true without doing anything.
bool SyncFolder(const std::string& folder, int& error);

// The names in the folder `path`, without "." and "..". False with the errno value when it
// cannot be read (ENOENT: there is none).
bool FolderNames(const std::string& path, std::vector<std::string>& names, int& error);

// The tool's own files under `root` two levels deep: each real folder (never a link) in `root`
// whose name `folderWanted` takes, and in it each regular file (never a link) whose name
// `fileWanted` takes, with its size. Links are not followed at either step.
struct OwnFile {
  std::string folder, name;
  uint64_t size = 0;
};
std::vector<OwnFile> OwnFilesUnder(const std::string& root,
                                   const std::function<bool(const std::string&)>& folderWanted,
                                   const std::function<bool(const std::string&)>& fileWanted);
// Removes root/folder/name when the folder is still a real folder and the file a regular file
// in it (looked at again just before, without following a link).
bool RemoveOwnFile(const std::string& root, const std::string& folder, const std::string& name);

// A file held open: POSIX a descriptor, Windows a handle. Not copied; closed when it goes.
class OpenFile {
 public:
  OpenFile() = default;
  ~OpenFile() { Close(); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  // `path` for appending, made when missing (POSIX mode 0644 and the umask). What is there must
  // be a regular file or a character device (written in place: a day file linked to /dev/null);
  // else EINVAL. POSIX opens it without waiting (O_NONBLOCK).
  bool OpenForAppend(const std::string& path, int& error);
  // `path` for reading, without waiting; only a regular file (else EINVAL, the file closed).
  bool OpenForRead(const std::string& path, int& error);
  bool IsOpen() const { return handle_ != -1; }
  bool IsRegular() const { return regular_; }
  // The size now; 0 when it cannot be had.
  uint64_t Size() const;
  // Up to `size` bytes at the current position (0 at the end); -1 with `error`.
  long Read(char* data, size_t size, int& error);
  // The byte at `offset` without moving the position; false when there is none.
  bool ByteAt(uint64_t offset, char& byte) const;
  // All of `data` at the end; false with `error`.
  bool Append(const char* data, size_t size, int& error);
  void Close();

 private:
  intptr_t handle_ = -1;
  bool regular_ = false;
};

}  // namespace nx480
