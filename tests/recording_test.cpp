// The recording: a snapshot as a sample, a sample as a line and back, the reader's damaged
// lines, the writer's buffer, days and cap, a full disk.
#include "recording.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <array>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>

#include "portable.h"

using namespace nx480;
namespace fs = std::filesystem;

namespace {

std::string Text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

fs::path FreshFolder(const char* name) {
  static const fs::path base = test::NewTemporaryFolder("nx480-rec");
  const fs::path folder = base / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

RecordingSample At(int64_t pcMillis, int offset = 60) {
  RecordingSample s;
  s.pcMillis = pcMillis;
  s.utcOffsetMinutes = offset;
  s.u[0] = 230.4, s.u[1] = 229, s.u[2] = 231.06;
  s.f = 50.01;
  return s;
}

constexpr int64_t k20261210 = 1796860800000;                            // 2026-12-10 00:00 UTC
const std::string kStagesOff = ",0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0";  // nine stages, two cells

TEST(RecordingLine, CellsByTable) {
  RecordingSample full = At(k20261210 + 13 * 3600000 + 3 * 60000 + 7250);
  full.avg[0] = 230, full.avg[1] = 230.5, full.avg[2] = 231;
  full.countdown = 12.5;
  full.temperature = -3.2;
  full.tripped = 1u << 7;                                                 // Fo1
  full.pickedUp = 1u << 8;                                                // Fo2
  RecordingSample bare = At(k20261210 + 23 * 3600000 + 30 * 60000, -90);  // 22:00 local
  struct Row {
    RecordingSample sample;
    std::string line;
  } rows[] = {
      {full,
       "2026-12-10T14:03:07.250+01:00,230.4,229.0,231.1,50.01,230.0,230.5,231.0,12.5,-3.2,"
       "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,1,0\n"},
      {bare,
       "2026-12-10T22:00:00.000-01:30,230.4,229.0,231.1,50.01,,,,,," + kStagesOff.substr(1) + "\n"},
      {At(k20261210 - 1, 60),
       "2026-12-10T00:59:59.999+01:00,230.4,229.0,231.1,50.01,,,,,," + kStagesOff.substr(1) + "\n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RecordingLine(row.sample), row.line);
    // And back.
    const RecordingRead read = ParseRecording(RecordingHeader() + row.line);
    ASSERT_EQ(read.samples.size(), 1u) << row.line;
    EXPECT_EQ(read.badLines, 0);
    EXPECT_EQ(RecordingLine(read.samples[0]), row.line);
    EXPECT_EQ(read.samples[0].pcMillis, row.sample.pcMillis);
  }
  EXPECT_EQ(RecordingDay(bare), "2026-12-10");
  EXPECT_EQ(RecordingHeader().substr(0, 42), "time,U1 [V],U2 [V],U3 [V],f [Hz],U1 10min ");
  EXPECT_NE(RecordingHeader().find(",Fo2 picked up,Fo2 tripped\n"), std::string::npos);
}

// A snapshot decoded as the window decodes it, at the finest resolution the firmware has.
TEST(RecordingSampleOf, ByFirmware) {
  struct Row {
    int firmware;
    int registers;
    bool hasTemperature;
    double u1, avg1, temperature;
  } rows[] = {
      {13, 16, true, 230.4, 229.9, 25.0},      // tenths from 10-12 and 13-15
      {11, 13, false, 230.4, 230, kNoValue},   // tenths live, 10-minute whole volts
      {12, 10, false, 23.0, 23.0, kNoValue},   // tenths in 0-2, 5-7
      {4, 5, false, 230, kNoValue, kNoValue},  // no 10-minute area
  };
  for (const Row& row : rows) {
    std::array<uint8_t, 253> bytes{};
    const std::map<int, uint16_t> values = {{0, 230},  {3, 5000},  {4, 25},   {5, 230},
                                            {9, 2971}, {10, 2304}, {13, 2299}};
    for (const auto& [reg, value] : values)
      bytes[2 * reg] = value >> 8, bytes[2 * reg + 1] = value & 0xFF;
    bytes[kLiveSecondFrequency] = 5002 >> 8, bytes[kLiveSecondFrequency + 1] = 5002 & 0xFF;
    const LiveImage image{bytes, row.registers, FirmwareFeaturesOf(row.firmware)};
    const RecordingSample s = SampleOf(image, (1u << 16) | (1u << 7), row.hasTemperature);
    SCOPED_TRACE(row.firmware);
    EXPECT_DOUBLE_EQ(s.u[0], row.u1);
    EXPECT_DOUBLE_EQ(s.f, 50.01);
    EXPECT_EQ(std::isnan(s.avg[0]), std::isnan(row.avg1));
    if (!std::isnan(row.avg1)) {
      EXPECT_DOUBLE_EQ(s.avg[0], row.avg1);
    }
    EXPECT_EQ(std::isnan(s.temperature), std::isnan(row.temperature));
    EXPECT_TRUE(s.Tripped(Stage::Fo2));   // bit 16
    EXPECT_TRUE(s.PickedUp(Stage::Uo1));  // bit 7
    EXPECT_FALSE(s.Tripped(Stage::Uo1));
  }
}

TEST(RecordingRead, DamagedLinesSkippedAndCountedClockStepsKept) {
  const std::string good1 = RecordingLine(At(k20261210 + 1000));
  const std::string good2 = RecordingLine(At(k20261210 + 2000));
  const std::string earlier = RecordingLine(At(k20261210 + 1500));
  std::string wrongCount = good2;
  wrongCount.insert(wrongCount.size() - 1, ",0");
  const std::string text = RecordingHeader() + good1 + "\x01\xff junk\n" + good2 + earlier +
                           wrongCount + "\n" + good2 +
                           good2.substr(0, good2.size() - 1);  // cut before its line end
  const RecordingRead read = ParseRecording(text);
  ASSERT_EQ(read.samples.size(), 4u);  // the one going back kept, in the file's order
  EXPECT_EQ(read.samples[2].pcMillis, k20261210 + 1500);
  EXPECT_EQ(read.badLines, 4);  // junk, wrong count, empty, cut
  EXPECT_EQ(read.clockSteps, 1);
  // Every prefix of a file (a kill at any byte) parses without a throw.
  for (size_t n = 0; n <= text.size(); ++n) EXPECT_NO_THROW(ParseRecording(text.substr(0, n)));
}

// A file far above a day file's size is refused by its size, before a byte is read (a sparse
// 500 MB file: no piece is ever handed to the progress); one a little under the limit is read.
TEST(RecordingRead, TooLargeFileRefusedUnread) {
  const fs::path folder = FreshFolder("large");
  const struct {
    uint64_t size;
    bool read;
  } rows[] = {{500'000'000, false}, {kRecordingReadLimit + 1, false}, {kRecordingReadLimit, true}};
  for (const auto& row : rows) {
    const std::string path = (folder / "big.csv").string();
    fs::remove(path);
    std::ofstream(path) << RecordingHeader();
    fs::resize_file(path, row.size);
    int pieces = 0;
    RecordingRead read;
    FileError error;
    EXPECT_EQ(ReadRecording(path, read, error,
                            [&pieces](uint64_t, uint64_t) {
                              ++pieces;
                              return true;
                            }),
              row.read)
        << row.size;
    EXPECT_EQ(read.fileSize, row.size);
    if (!row.read) {
      EXPECT_EQ(error.systemError, EFBIG);
      EXPECT_EQ(pieces, 0);
    }
  }
}

// The tests that limit a child's address space or file size are Linux's (fork, rlimits).
#ifndef _WIN32
// A line of millions of commas costs no more than its own bytes: the cells are split no further
// than a line can have them. In a child whose address space allows 64 MB more than the text.
TEST(RecordingRead, OverlongLineSplitOnlyToTheColumnCount) {
  const std::string good = RecordingLine(At(k20261210));
  const std::string text = RecordingHeader() + good + std::string(20'000'000, ',') + "\n" + good;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t used = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
    const rlimit limit{used + (64 << 20), used + (64 << 20)};
    setrlimit(RLIMIT_AS, &limit);
    try {
      const RecordingRead read = ParseRecording(text);
      _exit(read.samples.size() == 2 && read.badLines == 1 ? 0 : 1);
    } catch (...) {
      _exit(2);
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

TEST(RecordingCap, OldestDayFirstAcrossFolders) {
  const fs::path root = FreshFolder("cap");
  const std::pair<const char*, const char*> files[] = {{"1234", "2026-12-08"},
                                                       {"1234", "2026-12-10"},
                                                       {"77", "2026-12-07"},
                                                       {"77", "2026-12-09"},
                                                       {"unknown", "2026-12-09"}};
  for (const auto& [folder, day] : files) {
    fs::create_directories(root / folder);
    std::ofstream(root / folder / (std::string(day) + ".csv")) << std::string(100, 'x');
  }
  std::ofstream(root / "77" / "notes.txt") << std::string(1000, 'x');  // not a day file
  const auto removed = EnforceRecordingCap(root.string(), 250, {}, "2026-12-11");
  ASSERT_EQ(removed.size(), 3u);
  EXPECT_EQ(removed[0], (root / "77" / "2026-12-07.csv").string());
  EXPECT_EQ(removed[1], (root / "1234" / "2026-12-08.csv").string());
  EXPECT_TRUE(fs::exists(root / "1234" / "2026-12-10.csv"));
  EXPECT_TRUE(fs::exists(root / "77" / "notes.txt"));
}

// The cap counts and removes only its own day files: never a user's file, a foreign folder, a
// link (to a folder or a file) or today's file, however far over the cap the folder is.
TEST(RecordingCap, NothingButItsOwnDayFiles) {
  const fs::path base = FreshFolder("cap-own");
  const fs::path root = base / "recordings", outside = base / "outside";
  const auto put = [](const fs::path& path, size_t size) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << std::string(size, 'x');
  };
  const fs::path theirs[] = {
      root / "1234" / "my-notes01.csv",    root / "1234" / "2026-02-30.csv",
      root / "1234" / "0-notes-01.csv",    root / "1234" / "2026-12-01.csv.bak",
      root / "archive" / "2020-01-01.csv", root / "01234" / "2020-01-02.csv",
      outside / "2019-05-01.csv",          outside / "holiday-01.csv"};
  for (const fs::path& path : theirs) put(path, 1000);
  put(root / "1234" / "2026-12-03.csv", 100);
  put(root / "unknown" / "2026-12-02.csv", 100);
  put(root / "2147483649" / "2026-12-01.csv", 100);  // a serial number past the signed range
  put(root / "77" / "2026-12-10.csv", 5000);         // today's
  put(root / "77" / "2026-12-11.csv", 100);          // a clock ahead: later than today
  std::error_code linked;
  fs::create_directory_symlink(outside, root / "photos", linked);
  // Windows gives symbolic links to administrators and developer mode only.
  if (linked) GTEST_SKIP() << "no symbolic links here: " << linked.message();
  fs::create_directory_symlink(outside, root / "5678");  // a link named as a relay folder
  fs::create_symlink(outside / "holiday-01.csv", root / "1234" / "2026-11-30.csv");
  const auto removed = EnforceRecordingCap(root.string(), 10, {}, "2026-12-10");
  EXPECT_EQ(removed, (std::vector<std::string>{(root / "2147483649" / "2026-12-01.csv").string(),
                                               (root / "unknown" / "2026-12-02.csv").string(),
                                               (root / "1234" / "2026-12-03.csv").string()}));
  for (const fs::path& path : theirs) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::is_symlink(root / "1234" / "2026-11-30.csv"));
  EXPECT_TRUE(fs::exists(root / "77" / "2026-12-10.csv"));
  EXPECT_TRUE(fs::exists(root / "77" / "2026-12-11.csv"));
}

TEST(RecordingConfigFile, CapSetting) {
  const fs::path home = FreshFolder("config");
  fs::create_directories(home / "nx480-pc");
  const auto env = [&home](const char* name) -> std::optional<std::string> {
    if (std::string(name) == "XDG_CONFIG_HOME") return home.string();
    return std::nullopt;
  };
  const std::pair<const char*, std::pair<uint64_t, bool>> rows[] = {
      {"# cap\ncap-mb = 20\n", {20'000'000, false}},
      {"cap-mb=abc\n", {500'000'000, true}},
      {"cap-mb = 0\n", {500'000'000, true}},
      {"cap = 3\n", {500'000'000, true}},
  };
  EXPECT_EQ(ReadRecordingConfig(env).capBytes, 500'000'000u);  // no file
  for (const auto& [text, expected] : rows) {
    std::ofstream(home / "nx480-pc" / "recording.conf") << text;
    const RecordingConfig config = ReadRecordingConfig(env);
    EXPECT_EQ(config.capBytes, expected.first) << text;
    EXPECT_EQ(config.invalid, expected.second) << text;
  }
}

TEST(RecordingWriterTest, BufferedTwoSecondsNewFileAtMidnightOwnFolderPerRelay) {
  const fs::path root = FreshFolder("writer");
  const auto t0 = RecordingWriter::Clock::time_point{} + std::chrono::hours(1);
  const int64_t late = k20261210 + 22 * 3600000 + 59 * 60000 + 59000;  // 23:59:59 local
  const std::string day1 = (root / "1234" / "2026-12-10.csv").string();
  const std::string day2 = (root / "1234" / "2026-12-11.csv").string();
  {
    RecordingWriter writer(root.string(), 1'000'000);
    ASSERT_TRUE(writer.Append(1234, At(late), t0));
    writer.FlushIfDue(t0 + std::chrono::milliseconds(1900));
    EXPECT_EQ(fs::file_size(day1), 0u);  // still in the buffer
    ASSERT_TRUE(writer.Append(1234, At(late + 500), t0 + std::chrono::milliseconds(2000)));
    EXPECT_EQ(Text(day1),
              RecordingHeader() + RecordingLine(At(late)) + RecordingLine(At(late + 500)));
    ASSERT_TRUE(writer.Append(1234, At(late + 1000), t0 + std::chrono::milliseconds(2200)));
    ASSERT_TRUE(writer.Append(77, At(late + 1200), t0 + std::chrono::milliseconds(2400)));
  }
  EXPECT_EQ(Text(day2), RecordingHeader() + RecordingLine(At(late + 1000)));
  EXPECT_EQ(ParseRecording(Text((root / "77" / "2026-12-11.csv").string())).samples.size(), 1u);
  // A line cut by a kill is ended before the next sample; a later writer adds no header.
  std::ofstream(day2, std::ios::app) << "2026-12-11T00:00";
  {
    RecordingWriter writer(root.string(), 1'000'000);
    ASSERT_TRUE(writer.Append(1234, At(late + 3000), t0));
  }
  const RecordingRead read = ParseRecording(Text(day2));
  EXPECT_EQ(read.samples.size(), 2u);
  EXPECT_EQ(read.badLines, 1);
}

#ifndef _WIN32
TEST(RecordingWriterTest, FullDiskStopsWithItsReason) {
  const fs::path root = FreshFolder("full");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    RecordingWriter writer(root.string(), 1'000'000);
    auto now = RecordingWriter::Clock::time_point{};
    int appended = 0;
    while (writer.Append(5, At(k20261210 + appended * 200), now) && appended < 1000) {
      ++appended;
      now += std::chrono::milliseconds(200);
    }
    const bool right = writer.Stopped() && writer.Error().problem == FileProblem::NoSpace &&
                       writer.Error().systemError == EFBIG &&
                       RecordingStoppedText(writer.Error()) == "Záznam zastaven: disk je plný" &&
                       !writer.Append(5, At(k20261210 + 999999), now);
    _exit(right ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // What reached the disk reads back, the last line perhaps cut.
  const RecordingRead read = ParseRecording(Text((root / "5" / "2026-12-10.csv").string()));
  EXPECT_GT(read.samples.size(), 10u);
  EXPECT_LE(read.badLines, 1);
}

#endif

}  // namespace
