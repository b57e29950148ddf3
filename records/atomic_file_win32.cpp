// The atomic writer and the reader on Windows: the wide API, paths UTF-8 in the tool and UTF-16
// at the call. What the POSIX one refuses is refused here too, with the same FileProblem and the
// errno value closest to the Windows error (ErrnoOfWindowsError).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "atomic_file.h"
#include "win32_text.h"

namespace nx480 {

namespace {

bool Fail(FileError& error, FileProblem problem, int err) {
  error = {problem, err};
  return false;
}

int LastErrno() {
  return ErrnoOfWindowsError(::GetLastError());
}

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() { Close(); }
  bool Close() {
    const bool ok = h == INVALID_HANDLE_VALUE || ::CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
    return ok;
  }
  explicit operator bool() const { return h != INVALID_HANDLE_VALUE; }
};

bool WriteAll(HANDLE h, const uint8_t* data, size_t size) {
  while (size > 0) {
    const DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(h, data, piece, &written, nullptr)) return false;
    data += written;
    size -= written;
  }
  return true;
}

// The folder part of `path` with its separator ("" for a bare name).
std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring NameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A new file beside `target` that nobody else has open (no sharing).
HANDLE CreateTemporary(const std::wstring& target, std::wstring& tmpPath) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmpPath = FolderOf(target) + L"." + NameOf(target) + L".tmp" +
              std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(counter.fetch_add(1));
    const HANDLE h = ::CreateFileW(tmpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return h;
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

// Writes `bytes` into a new file beside `target` and moves it into place. `existing`: a regular
// file is there now.
bool ReplaceFile(const std::wstring& target, bool existing, std::span<const uint8_t> bytes,
                 FileError& error) {
  if (existing) {
    // A read-only file is refused, as a file without a write bit is on POSIX; so is one this
    // user may not write or another program holds locked (it would refuse the move anyway, and
    // the new bytes would be left beside it).
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      return Fail(error, FileProblem::ReadOnly, EACCES);
    Handle probe{::CreateFileW(target.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!probe) {
      const DWORD why = ::GetLastError();
      const int err = ErrnoOfWindowsError(why);
      if (why == ERROR_ACCESS_DENIED) return Fail(error, FileProblem::ReadOnly, err);
      if (why == ERROR_WRITE_PROTECT) return Fail(error, FileProblem::FolderNotWritable, err);
      if (why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION)
        return Fail(error, FileProblem::AccessDenied, err);
      return Fail(error, FileProblemOf(err, false), err);
    }
  }

  std::wstring tmpPath;
  Handle file{CreateTemporary(target, tmpPath)};
  if (!file) {
    const int err = LastErrno();
    return Fail(error, FileProblemOf(err, true), err);
  }
  // A new file takes the folder's rights (its ACL), as a replaced one had them from there too;
  // Windows has no owner or mode to hand over here.
  bool ok = WriteAll(file.h, bytes.data(), bytes.size()) && ::FlushFileBuffers(file.h);
  int savedErrno = ok ? 0 : LastErrno();
  if (!file.Close() && ok) {
    ok = false;
    savedErrno = LastErrno();
  }
  // Whatever took the target's place meanwhile, the move goes only over a regular file.
  FileProblem problem = FileProblem::None;
  if (ok) {
    const DWORD now = ::GetFileAttributesW(target.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY)) {
      ok = false;
      savedErrno = 0;
      problem = FileProblem::IsFolder;
    }
  }
  // MOVEFILE_WRITE_THROUGH returns once the move is on the disk. There is no equivalent of the
  // POSIX folder sync on Windows, and none is needed: the move is the file system's own
  // journaled metadata change, flushed by the write-through.
  if (ok && !::MoveFileExW(tmpPath.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    const DWORD why = ::GetLastError();
    savedErrno = ErrnoOfWindowsError(why);
    if (why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION)
      problem = FileProblem::AccessDenied;  // held open by another program meanwhile
  }
  if (!ok) {
    ::DeleteFileW(tmpPath.c_str());
    return Fail(error, problem != FileProblem::None ? problem : FileProblemOf(savedErrno, true),
                savedErrno);
  }
  error = {};
  return true;
}

// Writes `bytes` into the device or pipe `h` names, as a shell's redirection would.
bool WriteInPlace(const std::wstring& path, std::span<const uint8_t> bytes, FileError& error) {
  Handle h{::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (!h) {
    const DWORD why = ::GetLastError();
    const int err = ErrnoOfWindowsError(why);
    if (why == ERROR_PIPE_BUSY || why == ERROR_PIPE_NOT_CONNECTED)
      return Fail(error, FileProblem::NoReader, EPIPE);
    return Fail(
        error, why == ERROR_ACCESS_DENIED ? FileProblem::ReadOnly : FileProblemOf(err, false), err);
  }
  if (!WriteAll(h.h, bytes.data(), bytes.size())) {
    const int err = LastErrno();
    return Fail(error, err == EPIPE ? FileProblem::NoReader : FileProblemOf(err, false), err);
  }
  error = {};
  return true;
}

// The path that `path` leads to, links followed: what a handle opened through it names.
bool FinalPath(const std::wstring& path, std::wstring& final, DWORD& type, DWORD& attributes) {
  Handle h{::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  if (!h) return false;
  type = ::GetFileType(h.h);
  BY_HANDLE_FILE_INFORMATION info{};
  attributes = ::GetFileInformationByHandle(h.h, &info) ? info.dwFileAttributes : 0;
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = ::GetFinalPathNameByHandleW(h.h, buffer, MAX_PATH * 4, FILE_NAME_NORMALIZED);
  final = length > 0 && length < MAX_PATH * 4 ? std::wstring(buffer, length) : path;
  return true;
}

// A device path ("\\.\COM5", "NUL"): opened, it would be a device, and reading one could wait or
// do something.
bool IsDevicePath(const std::wstring& path) {
  if (path.rfind(L"\\\\.\\", 0) == 0 || path.rfind(L"//./", 0) == 0) return true;
  std::wstring name = NameOf(path);
  if (const size_t dot = name.find(L'.'); dot != std::wstring::npos) name.resize(dot);
  for (wchar_t& c : name) c = static_cast<wchar_t>(::towupper(c));
  if (name == L"NUL" || name == L"CON" || name == L"PRN" || name == L"AUX" || name == L"CONIN$" ||
      name == L"CONOUT$")
    return true;
  return name.size() == 4 && (name.rfind(L"COM", 0) == 0 || name.rfind(L"LPT", 0) == 0) &&
         name[3] >= L'1' && name[3] <= L'9';
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         FileError& error) {
  const std::wstring wide = Utf16(path);
  if (IsDevicePath(wide)) return WriteInPlace(wide, bytes, error);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD why = ::GetLastError();
    if (why != ERROR_FILE_NOT_FOUND && why != ERROR_PATH_NOT_FOUND) {
      const int err = ErrnoOfWindowsError(why);
      return Fail(error, FileProblemOf(err, false), err);
    }
    return ReplaceFile(wide, false, bytes, error);  // a new file (or no such folder)
  }
  std::wstring target = wide;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link: the file it names is replaced, the link stays as it is.
    DWORD type = 0, finalAttributes = 0;
    if (!FinalPath(wide, target, type, finalAttributes)) {
      const DWORD why = ::GetLastError();
      return Fail(error,
                  why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND ||
                          why == ERROR_CANT_RESOLVE_FILENAME
                      ? FileProblem::BrokenLink
                      : FileProblemOf(ErrnoOfWindowsError(why), false),
                  ErrnoOfWindowsError(why));
    }
    if (finalAttributes & FILE_ATTRIBUTE_DIRECTORY)
      return Fail(error, FileProblem::IsFolder, EISDIR);
    if (type != FILE_TYPE_DISK) return Fail(error, FileProblem::NotAFile, 0);
    return ReplaceFile(target, true, bytes, error);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(error, FileProblem::IsFolder, EISDIR);
  return ReplaceFile(target, true, bytes, error);
}

bool ReadFileStart(const std::string& path, std::span<uint8_t> buffer, size_t& got,
                   FileError& error) {
  got = 0;
  const std::wstring wide = Utf16(path);
  // Only a regular file is opened: opening a device may do something (a serial port's control
  // lines), and a pipe or a console may never give its bytes.
  if (IsDevicePath(wide)) return Fail(error, FileProblem::NotAFile, 0);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const int err = LastErrno();
    return Fail(error, FileProblemOf(err, false), err);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(error, FileProblem::IsFolder, EISDIR);
  Handle h{::CreateFileW(wide.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (!h) {
    const DWORD why = ::GetLastError();
    const int err = ErrnoOfWindowsError(why);
    return Fail(
        error,
        why == ERROR_CANT_RESOLVE_FILENAME ? FileProblem::BrokenLink : FileProblemOf(err, false),
        err);
  }
  if (::GetFileType(h.h) != FILE_TYPE_DISK) return Fail(error, FileProblem::NotAFile, 0);
  while (got < buffer.size()) {
    const size_t left = buffer.size() - got;
    const DWORD piece = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD n = 0;
    if (!::ReadFile(h.h, buffer.data() + got, piece, &n, nullptr)) {
      const int err = LastErrno();
      got = 0;
      return Fail(error, FileProblemOf(err, false), err);
    }
    if (n == 0) break;
    got += n;
  }
  error = {};
  return true;
}

}  // namespace nx480
