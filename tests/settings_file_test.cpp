// The 48-byte settings file: byte image, short and long files, saving by replacement, and
// paths that name something other than a file.
#include "settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#else
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "portable.h"

using namespace nx480;
namespace fs = std::filesystem;

namespace {

// The names a file has (std::filesystem's count is always 1 on Windows: the C runtime's stat
// does not know it).
uint64_t LinkCount(const std::string& path) {
#ifdef _WIN32
  const HANDLE h = ::CreateFileW(fs::path(path).wstring().c_str(), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = ::GetFileInformationByHandle(h, &info);
  ::CloseHandle(h);
  return ok ? info.nNumberOfLinks : 0;
#else
  return fs::hard_link_count(path);
#endif
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::NewTemporaryFolder("nx480-settings"); }
  void TearDown() override {
    // Windows removes no read-only file.
    std::error_code error;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir_, error))
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, error);
    fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::vector<uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

SettingsWords Sample() {
  SettingsWords r{};
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint16_t>(0x0101 * (i + 1));
  r[0] = 0x0603;  // tUu1 3 steps, tUu2 6 steps
  r[8] = 196;     // Uu1
  return r;
}

}  // namespace

TEST(SettingsFileImageTest, WordsLowByteFirst) {
  const SettingsFileImage bytes = SettingsFileBytes(Sample());
  EXPECT_EQ(bytes[0], 0x03);
  EXPECT_EQ(bytes[1], 0x06);
  EXPECT_EQ(bytes[16], 0xC4);
  EXPECT_EQ(bytes[17], 0x00);
  EXPECT_EQ(bytes[46], 0x18);  // word 23 = 0x1818
  EXPECT_EQ(bytes[47], 0x18);

  // Applying the image gives the record back.
  SettingsWords r{};
  EXPECT_EQ(ApplySettingsFileBytes(bytes, r), 48u);
  EXPECT_EQ(r, Sample());
}

TEST(SettingsFileImageTest, ShortAndLongImages) {
  const SettingsWords before = Sample();
  std::vector<uint8_t> data(60);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);

  struct Case {
    size_t size;
    size_t taken;
  } cases[] = {{0, 0}, {1, 1}, {10, 10}, {11, 11}, {47, 47}, {48, 48}, {60, 48}};
  for (const Case& c : cases) {
    SettingsWords r = before;
    EXPECT_EQ(ApplySettingsFileBytes(std::span<const uint8_t>(data.data(), c.size), r), c.taken);
    const SettingsFileImage image = SettingsFileBytes(r);
    const SettingsFileImage old = SettingsFileBytes(before);
    for (size_t k = 0; k < 48; ++k) {
      EXPECT_EQ(image[k], k < c.taken ? data[k] : old[k]) << "size " << c.size << " byte " << k;
    }
  }
  // Ten bytes are words 0-4 exactly.
  SettingsWords r = before;
  ApplySettingsFileBytes(std::span<const uint8_t>(data.data(), 10), r);
  EXPECT_EQ(r[4], 0xA9A8);
  EXPECT_EQ(r[5], before[5]);
}

TEST_F(SettingsFileTest, SaveAndLoad) {
  const std::string path = Path("site1.nx4");
  FileError error;
  ASSERT_TRUE(SaveSettingsFile(path, Sample(), error)) << SystemErrorText(error);
  const std::vector<uint8_t> bytes = Bytes(path);
  ASSERT_EQ(bytes.size(), 48u);
  const SettingsFileImage image = SettingsFileBytes(Sample());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.begin()));
  EXPECT_EQ(Entries(), std::vector<std::string>{"site1.nx4"});  // no temporary file left

  SettingsWords loaded{};
  ASSERT_TRUE(LoadSettingsFile(path, loaded, error)) << SystemErrorText(error);
  EXPECT_EQ(loaded, Sample());

  // Saving over the file replaces it whole and keeps its permissions (Linux's modes).
#ifndef _WIN32
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
#endif
  SettingsWords other{};
  other.fill(0x5A5A);
  ASSERT_TRUE(SaveSettingsFile(path, other, error)) << SystemErrorText(error);
  EXPECT_EQ(Bytes(path), std::vector<uint8_t>(48, 0x5A));
#ifndef _WIN32
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
  EXPECT_EQ(Entries(), std::vector<std::string>{"site1.nx4"});
}

TEST_F(SettingsFileTest, LongEmptyAndUnreadableFiles) {
  const SettingsWords before = Sample();
  FileError error;

  SettingsWords r = before;
  const std::string longFile = Path("long.nx4");
  std::vector<uint8_t> longBytes(100, 0x77);
  longBytes[47] = 0x12;
  longBytes[48] = 0x99;
  Write(longFile, longBytes);
  ASSERT_TRUE(LoadSettingsFile(longFile, r, error)) << SystemErrorText(error);
  EXPECT_EQ(r[23], 0x1277);
  EXPECT_EQ(r[0], 0x7777);

  const std::string emptyFile = Path("empty.nx4");
  Write(emptyFile, {});
  r = before;
  ASSERT_TRUE(LoadSettingsFile(emptyFile, r, error));
  EXPECT_EQ(r, before);

  // Files that cannot be read leave the record alone and say why.
  for (const std::string& bad : {Path("absent.nx4"), dir_.string()}) {
    r = before;
    error = {};
    EXPECT_FALSE(LoadSettingsFile(bad, r, error)) << bad;
    EXPECT_NE(error.problem, FileProblem::None);
    EXPECT_EQ(r, before);
  }
}

TEST_F(SettingsFileTest, FailedSaveLeavesNothingBehind) {
  FileError error;
  // A folder that does not exist.
  EXPECT_FALSE(SaveSettingsFile(Path("no/such/folder/x.nx4"), Sample(), error));
  EXPECT_EQ(error.problem, FileProblem::NotFound);
  EXPECT_TRUE(Entries().empty());

  // A folder in the file's place is not replaced.
  fs::create_directory(Path("taken.nx4"));
  EXPECT_FALSE(SaveSettingsFile(Path("taken.nx4"), Sample(), error));
  EXPECT_EQ(error.problem, FileProblem::IsFolder);
  EXPECT_TRUE(fs::is_directory(Path("taken.nx4")));
  EXPECT_EQ(Entries(), std::vector<std::string>{"taken.nx4"});

  // A read-only folder (not for root, whom permissions do not stop): the old file stays whole.
  // (Windows has no read-only folders: the attribute is the Explorer's.)
#ifndef _WIN32
  if (::geteuid() != 0) {
    const std::string path = Path("kept.nx4");
    ASSERT_TRUE(SaveSettingsFile(path, Sample(), error));
    ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
    SettingsWords other{};
    EXPECT_FALSE(SaveSettingsFile(path, other, error));
    EXPECT_EQ(error.problem, FileProblem::FolderNotWritable);
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    EXPECT_EQ(Bytes(path)[16], 0xC4);
  }
#endif
}

TEST_F(SettingsFileTest, WriteProtectedFileIsRefusedAndKept) {
  // A file protected with mode 0444 (on Windows: read-only) in a writable folder: a rename
  // would replace it (even as an ordinary user), breaking its hard links. It must stay exactly
  // as it was.
  const std::string path = Path("protected.nx4");
  const std::string twin = Path("twin.nx4");
  FileError error;
  ASSERT_TRUE(SaveSettingsFile(path, Sample(), error));
  fs::create_hard_link(path, twin);
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
#ifndef _WIN32
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
#endif

  SettingsWords other{};
  other.fill(0x5A5A);
  EXPECT_FALSE(SaveSettingsFile(path, other, error));
  EXPECT_EQ(error.problem, FileProblem::ReadOnly);
  EXPECT_EQ(FileProblemText(error.problem), "Soubor je chráněn proti zápisu (jen pro čtení).");
  EXPECT_EQ(LinkCount(path), 2u);
#ifndef _WIN32
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 0777, 0444u);
#else
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::owner_write, fs::perms::none);
#endif
  EXPECT_EQ(Bytes(path)[16], 0xC4);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"protected.nx4", "twin.nx4"}));
}

// What follows names things Windows has no files for: fifos, sockets, device nodes.
#ifndef _WIN32
namespace {

// What a path names itself (a link is not followed).
std::string NodeKind(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "nothing";
  if (S_ISREG(st.st_mode)) return "file";
  if (S_ISLNK(st.st_mode)) return "link";
  if (S_ISFIFO(st.st_mode)) return "fifo";
  if (S_ISCHR(st.st_mode)) return "char device";
  if (S_ISBLK(st.st_mode)) return "block device";
  if (S_ISSOCK(st.st_mode)) return "socket";
  return "other";
}

// A listening Unix socket at `path`; its descriptor.
int MakeSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    ADD_FAILURE() << "socket " << path;
  return fd;
}

}  // namespace

// Whatever the path names, the writer never renames over anything but a regular file: a FIFO or
// a character device is written in place, a link to a file replaces the file and stays a link,
// and anything else is refused and left as it was.
TEST_F(SettingsFileTest, WhatThePathNames) {
  const bool root = ::geteuid() == 0;
  // Each row makes its path and returns a descriptor to hold while writing (a FIFO's reader,
  // which must then receive the bytes; a socket), -1 for none, -2 to skip the row (device nodes
  // need the superuser).
  auto fifo = [](const std::string& p) {
    EXPECT_EQ(::mkfifo(p.c_str(), 0644), 0);
    return ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  };
  auto node = [root](const std::string& p, mode_t type, dev_t device) {
    if (!root) return -2;
    EXPECT_EQ(::mknod(p.c_str(), type | 0666, device), 0);
    return -1;
  };
  auto link = [](const std::string& p, const std::string& to, int fd = -1) {
    fs::create_symlink(to, p);
    return fd;
  };
  const struct {
    const char* name;
    std::function<int(const std::string&)> make;
    FileProblem problem;  // None: written
    const char* kind;     // what the path names afterwards
    const char* holder;   // the file that then holds the bytes: path + this (nullptr: none)
  } cases[] = {
      {"regular",
       [this](const std::string& p) {
         return Write(p, {1, 2}), -1;
       },
       FileProblem::None, "file", ""},
      {"fifo-read", fifo, FileProblem::None, "fifo", nullptr},
      {"fifo-unread", [&](const std::string& p) { return ::close(fifo(p)), -1; },
       FileProblem::NoReader, "fifo", nullptr},
      {"null-copy", [&](const std::string& p) { return node(p, S_IFCHR, ::makedev(1, 3)); },
       FileProblem::None, "char device", nullptr},
      {"full-copy", [&](const std::string& p) { return node(p, S_IFCHR, ::makedev(1, 7)); },
       FileProblem::NoSpace, "char device", nullptr},
      // Major 240 is for local use: no such disk on a test machine.
      {"block", [&](const std::string& p) { return node(p, S_IFBLK, ::makedev(240, 77)); },
       FileProblem::NotAFile, "block device", nullptr},
      {"socket", MakeSocket, FileProblem::NotAFile, "socket", nullptr},
      {"link-file",
       [&](const std::string& p) {
         Write(p + ".target", {});
         return link(p, fs::path(p).filename().string() + ".target");  // relative
       },
       FileProblem::None, "link", ".target"},
      {"link-fifo", [&](const std::string& p) { return link(p, p + ".fifo", fifo(p + ".fifo")); },
       FileProblem::None, "link", nullptr},
      {"link-dangling", [&](const std::string& p) { return link(p, p + ".absent"); },
       FileProblem::BrokenLink, "link", nullptr},
      {"link-loop", [&](const std::string& p) { return link(p + ".2", p), link(p, p + ".2"); },
       FileProblem::BrokenLink, "link", nullptr},
      {"link-socket",
       [&](const std::string& p) { return link(p, p + ".sock", MakeSocket(p + ".sock")); },
       FileProblem::NotAFile, "link", nullptr},
  };
  const SettingsFileImage image = SettingsFileBytes(Sample());
  const std::vector<uint8_t> expected(image.begin(), image.end());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    const int fd = c.make(path);
    if (fd == -2) continue;
    const std::vector<std::string> before = Entries();
    FileError error;
    EXPECT_EQ(SaveSettingsFile(path, Sample(), error), c.problem == FileProblem::None);
    EXPECT_EQ(error.problem, c.problem) << SystemErrorText(error);
    EXPECT_EQ(NodeKind(path), c.kind);
    EXPECT_EQ(Entries(), before);  // no temporary file left, nothing made beside it
    if (c.holder) {
      EXPECT_EQ(Bytes(path + c.holder), expected);
    }
    if (fd >= 0 && c.problem == FileProblem::None) {
      std::vector<uint8_t> got(100);
      got.resize(static_cast<size_t>(std::max<ssize_t>(::read(fd, got.data(), got.size()), 0)));
      EXPECT_EQ(got, expected);
    }
    if (fd >= 0) ::close(fd);
  }
}

// A reader that goes away in the middle of a long write ends the write, not the program (the
// window has no handler for SIGPIPE).
TEST_F(SettingsFileTest, FifoReaderThatGoesAwayEndsTheWrite) {
  const std::string path = Path("fifo");
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  std::thread quitter([reader] {
    pollfd p{reader, POLLIN, 0};
    ::poll(&p, 1, 5000);
    char first[16];
    EXPECT_GT(::read(reader, first, sizeof first), 0);
    ::close(reader);
  });
  FileError error;
  EXPECT_FALSE(WriteFileAtomically(path, std::vector<uint8_t>(1 << 20, 0x55), error));
  EXPECT_EQ(error.problem, FileProblem::NoReader);
  quitter.join();
  EXPECT_EQ(NodeKind(path), "fifo");
}

// Opening accepts only regular files, and never waits: a FIFO without a writer would block the
// open forever, a terminal the read.
TEST_F(SettingsFileTest, OpeningSomethingOtherThanAFileIsRefusedAtOnce) {
  ASSERT_EQ(::mkfifo(Path("fifo.nx4").c_str(), 0644), 0);
  fs::create_symlink(Path("fifo.nx4"), Path("link.nx4"));
  const struct {
    std::string path;
    FileProblem problem;
  } cases[] = {
      {Path("fifo.nx4"), FileProblem::NotAFile},
      {Path("link.nx4"), FileProblem::NotAFile},
      {"/dev/null", FileProblem::NotAFile},
      {dir_.string(), FileProblem::IsFolder},
  };
  for (const auto& c : cases) {
    SettingsWords r = Sample();
    FileError error;
    auto load = std::async(std::launch::async, [&] { return LoadSettingsFile(c.path, r, error); });
    if (load.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << c.path << ": the open hangs";
      // Release it: a writer comes and goes, the read then ends.
      ::close(::open(Path("fifo.nx4").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
      load.wait();
      continue;
    }
    EXPECT_FALSE(load.get()) << c.path;
    EXPECT_EQ(error.problem, c.problem) << c.path;
    EXPECT_EQ(r, Sample()) << c.path;
  }
}
#endif  // _WIN32
