// The 48-byte settings file: byte image, short and long files, saving by replacement.
#include "settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace nx480;
namespace fs = std::filesystem;

namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nx480-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

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

  // Saving over the file replaces it whole and keeps its permissions.
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  SettingsWords other{};
  other.fill(0x5A5A);
  ASSERT_TRUE(SaveSettingsFile(path, other, error)) << SystemErrorText(error);
  EXPECT_EQ(Bytes(path), std::vector<uint8_t>(48, 0x5A));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), std::vector<std::string>{"site1.nx4"});

  // A symbolic link stays a link; the file it points to gets the bytes.
  const std::string link = Path("link.nx4");
  fs::create_symlink(path, link);
  ASSERT_TRUE(SaveSettingsFile(link, Sample(), error)) << SystemErrorText(error);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Bytes(path).size(), 48u);
  EXPECT_EQ(Bytes(path)[16], 0xC4);
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
}

TEST_F(SettingsFileTest, WriteProtectedFileIsRefusedAndKept) {
  // A file protected with mode 0444 in a writable folder: a rename would replace it (even as
  // an ordinary user), breaking its hard links. It must stay exactly as it was.
  const std::string path = Path("protected.nx4");
  const std::string twin = Path("twin.nx4");
  FileError error;
  ASSERT_TRUE(SaveSettingsFile(path, Sample(), error));
  ASSERT_EQ(::link(path.c_str(), twin.c_str()), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);

  SettingsWords other{};
  other.fill(0x5A5A);
  EXPECT_FALSE(SaveSettingsFile(path, other, error));
  EXPECT_EQ(error.problem, FileProblem::ReadOnly);
  EXPECT_EQ(FileProblemText(error.problem), "Soubor je chráněn proti zápisu (jen pro čtení).");
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(after.st_mode & 0777, 0444u);
  EXPECT_EQ(Bytes(path)[16], 0xC4);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"protected.nx4", "twin.nx4"}));
}
