#include "image_file.h"

#ifdef _WIN32
#include "win32_text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>

#include "frames.h"

namespace nx480 {

namespace {

// A text field: its bytes up to the first zero byte or the end of the field.
std::string Field(std::span<const uint8_t> image, size_t offset, size_t size) {
  std::string text;
  for (size_t i = offset; i < offset + size && i < image.size() && image[i] != 0; ++i)
    text.push_back(static_cast<char>(image[i]));
  return text;
}

}  // namespace

uint16_t BlockAddress(std::span<const uint8_t> image, size_t block) {
  const uint8_t* b = image.data() + block * kImageBlockBytes;
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

ImageCheck CheckImage(std::span<const uint8_t> image) {
  ImageCheck check;
  if (image.empty() || image.size() % kImageBlockBytes != 0 || image.size() > kImageBufferBytes) {
    check.fault = ImageFault::Length;
    return check;
  }
  check.blocks = image.size() / kImageBlockBytes;
  for (size_t b = 0; b < check.blocks; ++b) {
    const uint8_t* block = image.data() + b * kImageBlockBytes;
    if (block[2] != 0 || block[3] != 0) {
      check.fault = ImageFault::HighHalf;
    } else if (ModbusCrc(block, kImageBlockBytes) != 0) {
      check.fault = ImageFault::BadCrc;
    } else {
      continue;
    }
    check.badBlock = b;
    return check;
  }
  check.name = Field(image, kImageNameOffset, kImageNameBytes);
  check.version = Field(image, kImageVersionOffset, kImageVersionBytes);
  return check;
}

#ifdef _WIN32

long ReadImageFile(const std::string& path, ImageBuffer& buffer, uint64_t* fileSize) {
  const std::wstring wide = Utf16(path);
  // A folder, a pipe or a device is no image file (and a read of one might never end): only
  // what the file system calls a file is opened.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_DEVICE))
    return -1;
  const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER size{};
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &size)) {
    ::CloseHandle(h);
    return -1;
  }
  if (fileSize) *fileSize = static_cast<uint64_t>(size.QuadPart);
  size_t got = 0;
  while (got < buffer.size()) {
    DWORD n = 0;
    if (!::ReadFile(h, buffer.data() + got, static_cast<DWORD>(buffer.size() - got), &n, nullptr)) {
      ::CloseHandle(h);
      return -1;
    }
    if (n == 0) break;
    got += n;
  }
  ::CloseHandle(h);
  return static_cast<long>(got);
}

#else

long ReadImageFile(const std::string& path, ImageBuffer& buffer, uint64_t* fileSize) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  // A directory, a pipe or a device is no image file (and a read of one might never end).
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  if (fileSize) *fileSize = static_cast<uint64_t>(info.st_size);
  size_t got = 0;
  while (got < buffer.size()) {
    const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ::close(fd);
      return -1;
    }
  }
  ::close(fd);
  return static_cast<long>(got);
}

#endif

}  // namespace nx480
