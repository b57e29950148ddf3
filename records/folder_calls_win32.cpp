// The folder calls on Windows: the wide API, UTF-8 paths converted at the call. A reparse point
// (a symbolic link, a junction) counts as a link, and the walk of the tool's own files passes
// it over as the POSIX walk passes over a link.
#include <cerrno>

#include "folder_calls.h"
#include "win32_text.h"

namespace nx480 {

namespace {

int LastErrno() {
  return ErrnoOfWindowsError(::GetLastError());
}

bool IsDotName(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == 0) || (name[0] == L'.' && name[1] == L'.' && name[2] == 0);
}

// Each entry of the folder `path`, "." and ".." left out; false when it cannot be listed.
template <typename Each>
bool EachEntry(const std::string& path, Each each, int& error) {
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = Utf16(path.empty() ? std::string(".") : path) + L"\\*";
  const HANDLE h = ::FindFirstFileW(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    error = LastErrno();
    return false;
  }
  do {
    if (!IsDotName(found.cFileName)) each(found);
  } while (::FindNextFileW(h, &found));
  ::FindClose(h);
  return true;
}

bool IsRealFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsPlainFile(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes &
           (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

}  // namespace

Node NodeAt(const std::string& path, bool followLinks) {
  Node node;
  const std::wstring wide = Utf16(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    node.error = LastErrno();
    return node;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && followLinks) {
    // Looked through: what a handle opened by the path names.
    const HANDLE h =
        ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = h != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(h, &info);
    node.error = ok ? 0 : LastErrno();
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    if (!ok) return node;
    data.dwFileAttributes = info.dwFileAttributes;
    data.nFileSizeHigh = info.nFileSizeHigh;
    data.nFileSizeLow = info.nFileSizeLow;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    node.kind = NodeKind::Link;
    return node;
  }
  const DWORD a = data.dwFileAttributes;
  node.kind = (a & FILE_ATTRIBUTE_DIRECTORY) ? NodeKind::Folder
              : (a & FILE_ATTRIBUTE_DEVICE)  ? NodeKind::Other
                                             : NodeKind::File;
  node.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  return node;
}

bool MakeFolder(const std::string& path, int& error) {
  if (::CreateDirectoryW(Utf16(path).c_str(), nullptr)) return true;
  error = LastErrno();
  return false;
}

bool RemoveEmptyFolder(const std::string& path) {
  return ::RemoveDirectoryW(Utf16(path).c_str());
}

bool SyncFolder(const std::string&, int& error) {
  // No folder sync on Windows (folder_calls.h): nothing to do.
  error = 0;
  return true;
}

bool FolderNames(const std::string& path, std::vector<std::string>& names, int& error) {
  names.clear();
  return EachEntry(
      path, [&](const WIN32_FIND_DATAW& found) { names.push_back(Utf8(found.cFileName)); }, error);
}

std::vector<OwnFile> OwnFilesUnder(const std::string& root,
                                   const std::function<bool(const std::string&)>& folderWanted,
                                   const std::function<bool(const std::string&)>& fileWanted) {
  std::vector<OwnFile> files;
  int error = 0;
  std::vector<std::string> folders;
  EachEntry(
      root,
      [&](const WIN32_FIND_DATAW& found) {
        const std::string name = Utf8(found.cFileName);
        if (IsRealFolder(found.dwFileAttributes) && folderWanted(name)) folders.push_back(name);
      },
      error);
  for (const std::string& folder : folders) {
    EachEntry(
        root + "\\" + folder,
        [&](const WIN32_FIND_DATAW& found) {
          const std::string name = Utf8(found.cFileName);
          if (!IsPlainFile(found.dwFileAttributes) || !fileWanted(name)) return;
          files.push_back(
              {folder, name, (uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow});
        },
        error);
  }
  return files;
}

bool RemoveOwnFile(const std::string& root, const std::string& folder, const std::string& name) {
  const std::wstring relay = Utf16(root + "\\" + folder);
  const std::wstring file = relay + L"\\" + Utf16(name);
  // Looked at again just before, without following a link at either step.
  if (!IsRealFolder(::GetFileAttributesW(relay.c_str())) ||
      !IsPlainFile(::GetFileAttributesW(file.c_str())))
    return false;
  return ::DeleteFileW(file.c_str());
}

namespace {

HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

bool OpenFile::OpenForAppend(const std::string& path, int& error) {
  Close();
  const std::wstring wide = Utf16(path);
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end, as O_APPEND.
  const HANDLE h = ::CreateFileW(wide.c_str(), FILE_APPEND_DATA | GENERIC_READ | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = LastErrno();
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  const DWORD type = ::GetFileType(h);
  regular_ = type == FILE_TYPE_DISK;
  if (!regular_ && type != FILE_TYPE_CHAR) {
    error = EINVAL;
    Close();
    return false;
  }
  return true;
}

bool OpenFile::OpenForRead(const std::string& path, int& error) {
  Close();
  const HANDLE h = ::CreateFileW(Utf16(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = LastErrno();
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  regular_ = ::GetFileType(h) == FILE_TYPE_DISK;
  if (!regular_) {
    error = EINVAL;
    Close();
    return false;
  }
  return true;
}

uint64_t OpenFile::Size() const {
  LARGE_INTEGER size{};
  if (handle_ == -1 || !::GetFileSizeEx(AsHandle(handle_), &size)) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

long OpenFile::Read(char* data, size_t size, int& error) {
  DWORD n = 0;
  const DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!::ReadFile(AsHandle(handle_), data, piece, &n, nullptr)) {
    error = LastErrno();
    return -1;
  }
  return static_cast<long>(n);
}

bool OpenFile::ByteAt(uint64_t offset, char& byte) const {
  // The offset in an OVERLAPPED: read there without moving the handle's position.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  return ::ReadFile(AsHandle(handle_), &byte, 1, &n, &at) && n == 1;
}

bool OpenFile::Append(const char* data, size_t size, int& error) {
  while (size > 0) {
    const DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD n = 0;
    if (!::WriteFile(AsHandle(handle_), data, piece, &n, nullptr)) {
      error = LastErrno();
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

void OpenFile::Close() {
  if (handle_ != -1) ::CloseHandle(AsHandle(handle_));
  handle_ = -1;
  regular_ = false;
}

}  // namespace nx480
