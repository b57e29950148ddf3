// The change journal's store: every kind of change kept and read back, its texts kept
// language-neutral beside their English, older entries (a relay's folder "1234") read as the same
// relay's, damaged entries found, nothing left of a failed write, the order in which an entry
// reaches the disk.
#include "journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <chrono>
#include <climits>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "calibration_record.h"
#include "connection.h"
#include "journal_samples.h"
#include "portable.h"
#include "recording.h"
#include "relay_time.h"
#include "settings_file.h"

using namespace nx480;
namespace fs = std::filesystem;

// What reaches the disk, in order. The test program's own fsync and rename take the place of the
// C library's for the code linked into it (the journal and the atomic writer): they note the
// call while `tracing` holds, then pass it on; the next `failFolderSyncs` syncs of a folder fail
// as a disk's I/O error would. Linux's, as are the tests that use them.
#ifndef _WIN32
namespace {

struct DiskCall {
  std::string call;  // "fsync" or "rename"
  std::string path;  // the file or folder synced, the name renamed to
};
bool tracing = false;
std::vector<DiskCall> diskCalls;
int failFolderSyncs = 0;

std::string PathOfDescriptor(int fd) {
  char path[PATH_MAX];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : "";
}

}  // namespace

extern "C" int fsync(int fd) {
  static const auto next = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
  if (tracing) diskCalls.push_back({"fsync", PathOfDescriptor(fd)});
  struct stat node {};
  if (failFolderSyncs > 0 && ::fstat(fd, &node) == 0 && S_ISDIR(node.st_mode)) {
    --failFolderSyncs;
    errno = EIO;
    return -1;
  }
  return next(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
  static const auto next =
      reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "rename"));
  if (tracing) diskCalls.push_back({"rename", to});
  return next(from, to);
}
#endif

namespace {

using namespace nx480::test;

auto Fields(const JournalEntry& e) {
  return std::tie(e.kind, e.description, e.port, e.identification, e.serialNumber, e.firmware,
                  e.details, e.outcome, e.results, e.id, e.time, e.user, e.host);
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string Hex(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

// entry.txt changed by `edit` and given a checksum that fits again.
void Reseal(const fs::path& record, const std::function<void(std::string&)>& edit) {
  std::string text = ReadText(record);
  text.erase(text.rfind("checksum: "));
  edit(text);
  WriteText(record, text + "checksum: " +
                        Hex(Crc32({reinterpret_cast<const uint8_t*>(text.data()), text.size()})) +
                        "\n");
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::canonical(test::NewTemporaryFolder("nx480-journal"));
    root_ = (dir_ / "journal").string();
  }
  void TearDown() override {
    std::error_code ignored;
    for (const auto& item : fs::recursive_directory_iterator(dir_, ignored))
      fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_);
  }

  JournalEntry Open(ChangeKind kind, const std::string& root) {
    JournalEntry entry = Sample(kind);
    FileError error;
    EXPECT_TRUE(OpenJournalEntry(root, entry, error)) << SystemErrorText(error);
    return entry;
  }

  fs::path dir_;
  std::string root_;
};

}  // namespace

class JournalKindTest : public JournalTest, public ::testing::WithParamInterface<ChangeKind> {};

TEST_P(JournalKindTest, KeptAndReadBack) {
  JournalEntry entry = Sample(GetParam());
  const std::vector<JournalBackup> given = entry.backups;
  FileError error;
  ASSERT_TRUE(OpenJournalEntry(root_, entry, error)) << SystemErrorText(error);
  EXPECT_EQ(entry.identification, "NX480š   1.14.d");
  std::vector<JournalEntry> listed = ListJournal(root_, 1234);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_FALSE(listed[0].damaged) << listed[0].damage;
  EXPECT_EQ(listed[0].outcome, JournalOutcome::Pending);

  SetOutcome(entry, {Outcome::Unknown, LinkError::NoReply}, {Plain("written at the second try")});
  ASSERT_TRUE(CloseJournalEntry(root_, entry, error)) << SystemErrorText(error);
  listed = ListJournal(root_);
  ASSERT_EQ(listed.size(), 1u);
  const JournalEntry& got = listed[0];
  ASSERT_FALSE(got.damaged) << got.damage;
  EXPECT_EQ(Fields(got), Fields(entry));
  EXPECT_EQ(got.relayFolder, "001234");
  ASSERT_EQ(got.backups.size(), given.size());
  const fs::path folder = fs::path(root_) / "001234" / got.id;
  for (size_t i = 0; i < given.size(); ++i) {
    SCOPED_TRACE(given[i].name);
    EXPECT_EQ(got.backups[i].name, given[i].name);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadJournalBackup(root_, got, given[i].name, bytes, error));
    EXPECT_EQ(bytes, given[i].bytes);
    if (given[i].name == "settings.nx4") {  // what the "Otevři" button loads
      SettingsWords loaded{};
      ASSERT_TRUE(LoadSettingsFile((folder / "settings.nx4").string(), loaded, error));
      EXPECT_EQ(loaded, SampleSettings());
    }
    if (given[i].name == "calibration.txt") {
      CalibrationWords record{};
      std::string why;
      ASSERT_TRUE(ParseCalibrationBackup(bytes, record, why)) << why;
      EXPECT_EQ(record, kCalibration);
    }
  }
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(ReadJournalBackup(root_, got, "entry.txt", bytes, error));
  EXPECT_EQ(error.problem, FileProblem::NotFound);
}

INSTANTIATE_TEST_SUITE_P(Kinds, JournalKindTest,
                         ::testing::Values(ChangeKind::Settings, ChangeKind::Calibration,
                                           ChangeKind::Clock, ChangeKind::HistoryClearing,
                                           ChangeKind::FirmwareUpload, ChangeKind::RelayMode),
                         [](const auto& info) {
                           std::string name(ChangeKindWord(info.param));
                           std::erase(name, '-');
                           return name;
                         });

// One value a line: what would start a line of its own or is no UTF-8 is cleaned on the way.
TEST_F(JournalTest, RecordReadsAsText) {
  JournalEntry entry = Sample(ChangeKind::Settings);
  entry.description = Plain("two\nlines");
  entry.port += "\xFF";
  entry.details.push_back(Plain("x\r\nfile: evil.txt, 1 bytes, CRC-32 00000000"));
  entry.details.push_back(FirmwareImageDetail("/tmp/a|b\\c\nd", "NX480", "1.15", 1, 1));
  FileError error;
  ASSERT_TRUE(OpenJournalEntry(root_, entry, error)) << SystemErrorText(error);
  const std::string text = ReadText(fs::path(root_) / "001234" / entry.id / "entry.txt");
  const JournalBackup settings = SettingsBackup(SampleSettings());
  for (const std::string& line : std::vector<std::string>{
           "format: nx480-pc journal 1\n", "description: two lines\n", "port: /dev/ttyUSB0\uFFFD\n",
           "detail: x  file: evil.txt, 1 bytes, CRC-32 00000000\n",
           "identification: NX480š   1.14.d\n", "serial number: 001234\n", "firmware: 14\n",
           "change: settings\n", "outcome: pending\n", "detail: row: Uu1 196 V -> 200 V\n",
           "detail: image: /tmp/a|b\\c d, NX480 1.15, 1 bytes, 1 blocks\n",
           // The same texts language-neutral, after them.
           "detail: @detail 0 row|Uu1|196 V|200 V\n",
           "detail: @detail 2 image|/tmp/a\\|b\\\\c d|NX480|1.15|1|1\n",
           "file: settings.nx4, 48 bytes, CRC-32 " + Hex(Crc32(settings.bytes)) + "\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
  }
  EXPECT_EQ(text.find("@description"), std::string::npos) << "a plain description has none";
  EXPECT_TRUE(text.starts_with("format: "));
  EXPECT_NE(text.find("\ntime: " + entry.time + "\n"), std::string::npos);
  EXPECT_EQ(entry.time.size(), 29u);  // 2026-12-09T23:15:02.123+01:00
  EXPECT_TRUE(entry.id.ends_with("Z_settings")) << entry.id;
  const std::vector<JournalEntry> listed = ListJournal(root_);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_FALSE(listed[0].damaged) << listed[0].damage;
  EXPECT_EQ(Fields(listed[0]), Fields(entry));
  EXPECT_EQ(listed[0].backups.size(), 1u);
}

// entry.txt stays a record of format 1 that an older reader takes whole: its English lines, and
// the language-neutral texts as further detail lines. A text of a wording this version does not
// know (a later version's), or a line that is no such text, leaves the English as it stands.
TEST_F(JournalTest, TextsKeptForEveryReader) {
  JournalEntry entry = Open(ChangeKind::Settings, root_);
  SetOutcome(entry, Outcome::Differs, {Keyed("held", {"Uu1", "198 V (86 %)"})});
  FileError error;
  ASSERT_TRUE(CloseJournalEntry(root_, entry, error)) << SystemErrorText(error);
  const fs::path record = fs::path(root_) / "001234" / entry.id / "entry.txt";
  const std::string text = ReadText(record);
  const std::vector<std::string> keys = {
      "format",   "time",   "user",        "host",    "port",   "identification", "serial number",
      "firmware", "change", "description", "outcome", "detail", "file",           "checksum"};
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    EXPECT_NE(std::find(keys.begin(), keys.end(), line.substr(0, line.find(':'))), keys.end())
        << line;
  }
  EXPECT_NE(text.find("\ndescription: settings written from the Parameters page: refused: the "
                      "relay holds Uu1 otherwise\n"),
            std::string::npos)
      << text;

  const std::string english =
      "settings written from the Parameters page: refused: the relay "
      "holds Uu1 otherwise";
  const struct {
    const char* name;
    const char* from;
    const char* to;
    bool descriptionKeyed;
    bool firstDetailKeyed;
    size_t details;
  } cases[] = {
      {"as written", "", "", true, true, 2},
      {"a later version's description", "@description settings-window",
       "@description settings-by-robot", false, true, 2},
      {"a later version's result", "@result held-otherwise|", "@result held-by-robot|", false, true,
       2},
      {"a later version's detail", "@detail 0 row|", "@detail 0 rows|", true, false, 2},
      {"a detail that is none", "@detail 0 row|", "@detail zero row|", true, false, 3},
      {"a detail past the last", "@detail 0 row|", "@detail 7 row|", true, false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (*c.from) Reseal(record, [&c](std::string& t) { Replace(t, c.from, c.to); });
    const std::vector<JournalEntry> listed = ListJournal(root_, 1234);
    ASSERT_EQ(listed.size(), 1u);
    const JournalEntry& got = listed[0];
    EXPECT_FALSE(got.damaged) << got.damage;
    EXPECT_EQ(!got.description.key.empty(), c.descriptionKeyed);
    EXPECT_EQ(JournalDescription(got, TextLanguage::English), english);
    ASSERT_EQ(got.details.size(), c.details);
    EXPECT_EQ(!got.details[0].key.empty(), c.firstDetailKeyed);
    EXPECT_EQ(RenderJournalText(got.details[0], TextLanguage::English), "row: Uu1 196 V -> 200 V");
    EXPECT_EQ(RenderJournalText(got.details[1], TextLanguage::English), "held: Uu1 198 V (86 %)");
    WriteText(record, text);
  }
}

// An entry as an older version left it - its relay's folder "1234", its texts in English only -
// is listed with the new entries of the same relay (in "001234"), shown as it stands, read back
// and closed in its own folder; a new entry never takes a name it has.
TEST_F(JournalTest, OlderEntriesAreTheSameRelays) {
  JournalEntry old = Sample(ChangeKind::Settings);
  old.description = Plain("settings written from the Parametry page");
  old.details = {Plain("row: Uu1 196 V -> 200 V")};
  FileError error;
  ASSERT_TRUE(OpenJournalEntry(root_, old, error)) << SystemErrorText(error);
  fs::rename(fs::path(root_) / "001234", fs::path(root_) / "1234");
  Reseal(fs::path(root_) / "1234" / old.id / "entry.txt",
         [](std::string& t) { Replace(t, "serial number: 001234", "serial number: 1234"); });
  const JournalEntry now = Open(ChangeKind::Clock, root_);

  for (const std::optional<int32_t> relay :
       {std::optional<int32_t>(1234), std::optional<int32_t>()}) {
    const std::vector<JournalEntry> listed = ListJournal(root_, relay);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].id, now.id);
    EXPECT_EQ(listed[0].relayFolder, "001234");
    EXPECT_EQ(listed[1].id, old.id);
    EXPECT_EQ(listed[1].relayFolder, "1234");
    for (const JournalEntry& e : listed) {
      EXPECT_FALSE(e.damaged) << e.damage;
      EXPECT_EQ(e.serialNumber, 1234);
      EXPECT_EQ(JournalEntryName(e), "001234/" + e.id);
    }
  }
  JournalEntry listed = ListJournal(root_, 1234)[1];
  for (const TextLanguage language : {TextLanguage::English, TextLanguage::Reader}) {
    EXPECT_EQ(JournalDescription(listed, language), "settings written from the Parametry page");
    EXPECT_EQ(RenderJournalLines(listed.details, language),
              std::vector<std::string>{"row: Uu1 196 V -> 200 V"});
  }
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadJournalBackup(root_, listed, "settings.nx4", bytes, error));
  EXPECT_EQ(bytes, SettingsBackup(SampleSettings()).bytes);

  SetOutcome(listed, Outcome::Ok);
  ASSERT_TRUE(CloseJournalEntry(root_, listed, error)) << SystemErrorText(error);
  EXPECT_TRUE(fs::exists(fs::path(root_) / "1234" / old.id / "entry.txt"));
  EXPECT_FALSE(fs::exists(fs::path(root_) / "001234" / old.id));
  const JournalEntry closed = ListJournal(root_, 1234)[1];
  EXPECT_EQ(closed.outcome, JournalOutcome::Done);
  EXPECT_EQ(JournalDescription(closed, TextLanguage::English),
            "settings written from the Parametry page: done, read back equal");
}

// One rule for a relay without a serial number (the words 0x1D/0x1E holding 0 or 0xFFFFFFFF, -1
// as read): the journal's and the recordings' folders, the version line, the calibration box and
// the restores agree; every other value is a relay of its own, its digits never signed.
TEST_F(JournalTest, OneRuleForNoSerialNumber) {
  const struct {
    uint32_t words;
    const char* journal;    // the journal's folder and texts; the box and the version line
    const char* recording;  // the recordings' folder
  } cases[] = {
      {0, "unknown", "unknown"},
      {0xFFFFFFFFu, "unknown", "unknown"},
      {1, "000001", "1"},
      {1234, "001234", "1234"},
      {1234567, "1234567", "1234567"},
      {0x7FFFFFFFu, "2147483647", "2147483647"},
      {0x80000000u, "2147483648", "2147483648"},
      {0x80000001u, "2147483649", "2147483649"},
      {0xFFFFFFFEu, "4294967294", "4294967294"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.journal + std::string(" ") + std::to_string(c.words));
    CalibrationWords block{};
    block[kSerialLowWord] = static_cast<uint16_t>(c.words & 0xFFFF);
    block[kSerialHighWord] = static_cast<uint16_t>(c.words >> 16);
    const int32_t serial = SerialNumber(block);
    const bool has = std::string(c.journal) != "unknown";
    EXPECT_EQ(HasSerialNumber(serial), has);
    EXPECT_EQ(SameSerialNumber(serial, serial), has) << "no serial number is no relay's own";
    EXPECT_EQ(JournalSerialText(serial), c.journal);
    EXPECT_EQ(RecordingFolderName(serial), c.recording);
    EXPECT_EQ(VersionLine("NX480", serial),
              has ? "NX480,   s/n:" + std::string(c.journal) : "NX480");
    CalibrationBoxes boxes;
    CalibrationToBoxes(block, boxes);
    EXPECT_EQ(boxes.serial, has ? c.journal : "");
    if (has) {  // the box reads back as the same words
      CalibrationWords back{};
      std::string error;
      ASSERT_TRUE(BoxesToCalibration(boxes, back, error)) << error;
      EXPECT_EQ(SerialNumber(back), serial);
    }

    // Kept in its folder and listed again as the same relay's; relays without one together.
    const std::string root = root_ + "/" + std::to_string(c.words);
    JournalEntry entry = Sample(ChangeKind::Clock);
    entry.serialNumber = serial;
    FileError error;
    ASSERT_TRUE(OpenJournalEntry(root, entry, error)) << SystemErrorText(error);
    EXPECT_TRUE(fs::is_directory(fs::path(root) / c.journal / entry.id));
    for (const int32_t relay : {serial, 0, -1}) {
      const std::vector<JournalEntry> listed = ListJournal(root, relay);
      EXPECT_EQ(listed.size(), size_t(HasSerialNumber(relay) || !has)) << relay;
    }
    const std::vector<JournalEntry> all = ListJournal(root);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_FALSE(all[0].damaged) << all[0].damage;
    EXPECT_EQ(JournalEntryName(all[0]), c.journal + ("/" + entry.id));
    EXPECT_EQ(all[0].serialNumber, has ? serial : -1);
  }
}

TEST_F(JournalTest, DamagedEntriesAreListedAndNeverRead) {
  using Damage = std::function<void(const fs::path& folder)>;
  const auto reseal = [](std::function<void(std::string&)> edit) -> Damage {
    return [edit](const fs::path& folder) { Reseal(folder / "entry.txt", edit); };
  };
  const auto replace = [&reseal](std::string from, std::string to) {
    return reseal([from, to](std::string& text) { Replace(text, from, to); });
  };
  const auto record = [](const fs::path& folder) { return folder / "entry.txt"; };
  const auto backup = [](const fs::path& folder) { return folder / "settings.nx4"; };
  std::mt19937 random(480);
  std::string junk(4096, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  junk.back() = '\n';

  const struct {
    const char* name;
    Damage damage;
    const char* reason;
  } cases[] = {
      {"record missing", [&](const fs::path& f) { fs::remove(record(f)); }, "entry.txt is missing"},
      {"record empty", [&](const fs::path& f) { WriteText(record(f), ""); }, "empty"},
      {"record cut in a line",
       [&](const fs::path& f) { fs::resize_file(record(f), fs::file_size(record(f)) / 2 + 3); },
       "does not end with a whole line"},
      {"record cut after a line",
       [&](const fs::path& f) {
         const std::string text = ReadText(record(f));
         WriteText(record(f), text.substr(0, text.find("outcome:")));
       },
       "no checksum line"},
      {"binary junk", [&](const fs::path& f) { WriteText(record(f), junk); }, "no checksum line"},
      {"huge line", [&](const fs::path& f) { WriteText(record(f), std::string(2 << 20, 'x')); },
       "larger than 1 MiB"},
      {"record a folder",
       [&](const fs::path& f) {
         fs::remove(record(f));
         fs::create_directory(record(f));
       },
       "entry.txt is a folder"},
#ifndef _WIN32
      {"record a FIFO",
       [&](const fs::path& f) {
         fs::remove(record(f));
         ASSERT_EQ(::mkfifo(record(f).c_str(), 0600), 0);
       },
       "entry.txt is not a file"},
#endif
      {"a byte changed",
       [&](const fs::path& f) {
         std::string text = ReadText(record(f));
         Replace(text, "Uu1 196", "Uu1 197");
         WriteText(record(f), text);
       },
       "fails its checksum"},
      {"key missing", replace("outcome: pending\n", ""), "no \"outcome\""},
      {"key twice", replace("port:", "port: /dev/ttyS0\nport:"), "gives \"port\" again"},
      {"line without key", replace("outcome:", "hello\noutcome:"), "has no key"},
      {"unknown key", replace("outcome:", "colour: red\noutcome:"), "unknown key"},
      {"no space after key", replace("outcome: ", "outcome:"), "no space after the key"},
      {"newer format", replace("journal 1", "journal 2"), "unknown format"},
      {"no time", reseal([](std::string& t) { t.replace(t.find("time: ") + 6, 29, "today"); }),
       "no valid time"},
      {"serial not a number", replace("serial number: 001234", "serial number: 01234"),
       "no valid serial number"},
      {"unknown change", replace("change: settings", "change: colour"), "unknown change"},
      {"unknown outcome", replace("outcome: pending", "outcome: maybe"), "unknown outcome"},
      {"another change", replace("change: settings", "change: clock"), "another change"},
      {"another relay", replace("serial number: 001234", "serial number: 004321"), "another relay"},
      // An older entry names its relay "1234": the same relay.
      {"older form of another relay", replace("serial number: 001234", "serial number: 4321"),
       "another relay"},
      {"control character", replace("row: Uu1", "row:\rUu1"), "not clean UTF-8"},
      {"not UTF-8", replace("row: Uu1", "row: \xC3\x28Uu1"), "not clean UTF-8"},
      {"file outside the folder", replace("file: settings.nx4", "file: ../settings.nx4"),
       "no file line"},
      {"file the parent folder", replace("file: settings.nx4", "file: .."), "no file line"},
      {"file size not a number", replace(", 48 bytes", ", 4 8 bytes"), "no file line"},
      {"file named twice", reseal([](std::string& t) { t += t.substr(t.find("file: ")); }),
       "names a file again"},
      {"folder renamed",
       [](const fs::path& f) { fs::rename(f, f.parent_path() / "copy of an entry"); },
       "not an entry's"},
      {"backup missing", [&](const fs::path& f) { fs::remove(backup(f)); },
       "settings.nx4 is missing"},
      {"backup shorter", [&](const fs::path& f) { fs::resize_file(backup(f), 47); },
       "settings.nx4 is shorter"},
      {"backup longer", [&](const fs::path& f) { fs::resize_file(backup(f), 49); },
       "settings.nx4 is larger"},
      {"backup byte changed",
       [&](const fs::path& f) {
         std::string bytes = ReadText(backup(f));
         bytes[16] ^= 1;
         WriteText(backup(f), bytes);
       },
       "settings.nx4 fails its checksum"},
      {"backup a folder",
       [&](const fs::path& f) {
         fs::remove(backup(f));
         fs::create_directory(backup(f));
       },
       "settings.nx4 is a folder"},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string root = root_ + std::to_string(++row);
    const JournalEntry good = Open(ChangeKind::Settings, root);
    JournalEntry victim = Open(ChangeKind::Settings, root);
    c.damage(fs::path(root) / "001234" / victim.id);

    const std::vector<JournalEntry> listed = ListJournal(root);
    ASSERT_EQ(listed.size(), 2u);
    const bool goodFirst = listed[0].id == good.id;
    const JournalEntry& kept = listed[goodFirst ? 0 : 1];
    const JournalEntry& damaged = listed[goodFirst ? 1 : 0];
    EXPECT_FALSE(kept.damaged) << kept.damage;
    EXPECT_TRUE(damaged.damaged);
    EXPECT_NE(damaged.damage.find(c.reason), std::string::npos) << damaged.damage;
    EXPECT_EQ(damaged.serialNumber, 1234);

    std::vector<uint8_t> bytes;
    FileError error;
    EXPECT_TRUE(ReadJournalBackup(root, kept, "settings.nx4", bytes, error));
    EXPECT_EQ(bytes.size(), 48u);
    EXPECT_FALSE(ReadJournalBackup(root, damaged, "settings.nx4", bytes, error));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(error.systemError, EBADMSG);
    JournalEntry closing = damaged;
    closing.outcome = JournalOutcome::Done;
    EXPECT_FALSE(CloseJournalEntry(root, closing, error));
  }

  // A backup changed after the listing is not handed out either.
  const JournalEntry entry = Open(ChangeKind::Settings, root_);
  const std::vector<JournalEntry> listed = ListJournal(root_);
  ASSERT_EQ(listed.size(), 1u);
  WriteText(fs::path(root_) / "001234" / entry.id / "settings.nx4", std::string(48, 'x'));
  std::vector<uint8_t> bytes;
  FileError error;
  EXPECT_FALSE(ReadJournalBackup(root_, listed[0], "settings.nx4", bytes, error));
  EXPECT_EQ(error.systemError, EBADMSG);
  EXPECT_TRUE(bytes.empty());
}

// entry.txt ends with its own checksum: any byte changed or any tail cut off is seen.
TEST_F(JournalTest, EveryChangeToTheRecordIsSeen) {
  const JournalEntry entry = Open(ChangeKind::Settings, root_);
  const fs::path record = fs::path(root_) / "001234" / entry.id / "entry.txt";
  const std::string original = ReadText(record);
  const auto damaged = [this] {
    const std::vector<JournalEntry> listed = ListJournal(root_, 1234);
    return listed.size() == 1 && listed[0].damaged;
  };
  for (size_t i = 0; i < original.size(); ++i) {
    std::string text = original;
    text[i] = static_cast<char>(text[i] ^ (i % 2 ? 0x20 : 0x01));  // a bit, or a letter's case
    WriteText(record, text);
    EXPECT_TRUE(damaged()) << "byte " << i;
    WriteText(record, original.substr(0, i));
    EXPECT_TRUE(damaged()) << "cut at " << i;
  }
  WriteText(record, original);
  EXPECT_FALSE(damaged());
}

// A full disk is a file size limit, the folders' rights are Linux's, the order on the disk is
// seen through the fsync and rename above: these three are Linux's.
#ifndef _WIN32
TEST_F(JournalTest, FailedOpenLeavesNothingBehind) {
  const bool root = ::geteuid() == 0;  // rights do not stop the superuser
  const std::vector<uint8_t> large(5000, 'x');
  const struct {
    const char* name;
    std::vector<JournalBackup> backups;
    rlim_t fileSizeLimit;  // RLIM_INFINITY: none (a full disk otherwise)
    std::function<std::string(const fs::path& dir)> makeRoot;
    FileProblem problem;
  } cases[] = {
      {"journal under a file",
       {SettingsBackup(SampleSettings())},
       RLIM_INFINITY,
       [](const fs::path& dir) {
         WriteText(dir / "file", "x");
         return (dir / "file" / "journal").string();
       },
       FileProblem::NotAFolder},
      {"disk full at the second backup",
       {SettingsBackup(SampleSettings()), HistoryBackup(large)},
       1000,
       [](const fs::path& dir) { return (dir / "journal").string(); },
       FileProblem::NoSpace},
      {"disk full at entry.txt",
       {SettingsBackup(SampleSettings()), CalibrationBackup(kCalibration)},
       300,
       [](const fs::path& dir) { return (dir / "journal").string(); },
       FileProblem::NoSpace},
      {"relay folder read-only",
       {SettingsBackup(SampleSettings())},
       RLIM_INFINITY,
       [root](const fs::path& dir) {
         fs::create_directories(dir / "journal" / "001234");
         fs::permissions(dir / "journal" / "001234", fs::perms::owner_read | fs::perms::owner_exec);
         return root ? "" : (dir / "journal").string();
       },
       FileProblem::FolderNotWritable},
      {"backup name with a slash",
       {SettingsBackup(SampleSettings()), {"../settings.nx4", {1}}},
       RLIM_INFINITY,
       [](const fs::path& dir) { return (dir / "journal").string(); },
       FileProblem::Other},
      {"backup named twice",
       {SettingsBackup(SampleSettings()), SettingsBackup({})},
       RLIM_INFINITY,
       [](const fs::path& dir) { return (dir / "journal").string(); },
       FileProblem::Other},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = dir_ / std::to_string(++row);
    fs::create_directory(dir);
    const std::string journal = c.makeRoot(dir);
    if (journal.empty()) continue;
    JournalEntry entry = Sample(ChangeKind::Settings);
    entry.backups = c.backups;

    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = c.fileSizeLimit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    FileError error;
    const bool opened = OpenJournalEntry(journal, entry, error);
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, oldSignal);

    EXPECT_FALSE(opened);
    EXPECT_EQ(error.problem, c.problem) << SystemErrorText(error);
    EXPECT_TRUE(entry.id.empty());
    EXPECT_TRUE(ListJournal(journal).empty());
    std::error_code ignored;
    if (fs::exists(fs::path(journal) / "001234")) {
      EXPECT_TRUE(fs::is_empty(fs::path(journal) / "001234", ignored));
    }
  }
}

// An entry reaches the disk backups first: when entry.txt takes its name, every backup's bytes
// and name and the entry's own folder are synced; entry.txt is synced before the call returns.
TEST_F(JournalTest, BackupsReachTheDiskBeforeTheRecord) {
  JournalEntry entry = Sample(ChangeKind::FirmwareUpload);
  ASSERT_EQ(entry.backups.size(), 3u);
  FileError error;
  diskCalls.clear();
  tracing = true;
  const bool opened = OpenJournalEntry(root_, entry, error);
  tracing = false;
  ASSERT_TRUE(opened) << SystemErrorText(error);

  const std::string relay = root_ + "/001234";
  const std::string folder = relay + "/" + entry.id;
  const auto find = [](size_t from, const std::function<bool(const DiskCall&)>& fits) {
    for (size_t i = from; i < diskCalls.size(); ++i) {
      if (fits(diskCalls[i])) return i;
    }
    return diskCalls.size();
  };
  const auto call = [](const char* name, const std::string& path) {
    return [=](const DiskCall& c) { return c.call == name && c.path == path; };
  };
  // The data of `name`: its temporary file beside it, synced.
  const auto data = [&folder](const std::string& name) {
    return [=](const DiskCall& c) {
      return c.call == "fsync" && c.path.starts_with(folder + "/." + name + ".tmp");
    };
  };
  const size_t recordPlaced = find(0, call("rename", folder + "/entry.txt"));
  ASSERT_LT(recordPlaced, diskCalls.size());
  EXPECT_LT(find(0, call("fsync", relay)), recordPlaced) << "the entry's folder";
  EXPECT_LT(find(0, data("entry.txt")), recordPlaced);
  EXPECT_LT(find(recordPlaced, call("fsync", folder)), diskCalls.size()) << "entry.txt's name";
  for (const JournalBackup& backup : entry.backups) {
    SCOPED_TRACE(backup.name);
    const size_t placed = find(0, call("rename", folder + "/" + backup.name));
    EXPECT_LT(find(0, data(backup.name)), placed);
    EXPECT_LT(placed, recordPlaced);
    EXPECT_LT(find(placed, call("fsync", folder)), recordPlaced);
  }
}

// A folder that cannot be synced after entry.txt took its name (an I/O error of the disk) is no
// close: the close is tried once more, and fails only when the second try fails too.
TEST_F(JournalTest, CloseNeedsItsFolderSynced) {
  const struct {
    int failures;
    bool closed;
  } cases[] = {{0, true}, {1, true}, {2, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failures);
    JournalEntry entry = Open(ChangeKind::Settings, root_);
    SetOutcome(entry, Outcome::Ok);
    failFolderSyncs = c.failures;
    FileError error;
    const bool closed = CloseJournalEntry(root_, entry, error);
    EXPECT_EQ(failFolderSyncs, 0);
    failFolderSyncs = 0;
    EXPECT_EQ(closed, c.closed);
    EXPECT_EQ(error.systemError, c.closed ? 0 : EIO);
  }
}
#endif

TEST_F(JournalTest, IdsUniqueAndNewestFirst) {
  std::map<int32_t, std::vector<std::string>> byRelay;
  std::vector<std::string> all;
  for (int i = 0; i < 24; ++i) {
    JournalEntry entry;
    entry.kind = i % 2 ? ChangeKind::RelayMode : ChangeKind::Clock;
    entry.serialNumber = i % 3 == 0 ? -1 : 1234;
    FileError error;
    ASSERT_TRUE(OpenJournalEntry(root_, entry, error)) << SystemErrorText(error);
    if (!all.empty()) {
      EXPECT_LT(all.back(), entry.id);  // unique, and sorted as made
    }
    all.push_back(entry.id);
    byRelay[entry.serialNumber].push_back(entry.id);
  }
  // Folders that are no relay's are passed over (neither six digits nor a number as it stands).
  fs::create_directories(fs::path(root_) / "01234" / "2026-12-09T22-15-02.123Z_clock");
  fs::create_directories(fs::path(root_) / "notes");
  WriteText(fs::path(root_) / "readme.txt", "x");

  const auto ids = [](const std::vector<JournalEntry>& entries) {
    std::vector<std::string> list;
    for (const JournalEntry& e : entries) {
      EXPECT_FALSE(e.damaged) << e.id << ": " << e.damage;
      list.push_back(e.id);
    }
    return list;
  };
  const auto newestFirst = [](std::vector<std::string> list) {
    std::reverse(list.begin(), list.end());
    return list;
  };
  EXPECT_EQ(ids(ListJournal(root_)), newestFirst(all));
  EXPECT_EQ(ids(ListJournal(root_, 1234)), newestFirst(byRelay[1234]));
  EXPECT_EQ(ids(ListJournal(root_, -1)), newestFirst(byRelay[-1]));
  EXPECT_TRUE(fs::is_directory(fs::path(root_) / "unknown"));
  EXPECT_TRUE(ListJournal(root_, 4321).empty());
  EXPECT_TRUE(ListJournal((dir_ / "absent").string()).empty());

  // The names of the coming milliseconds, taken by another program (up to 100 ms ahead of the
  // clock), in the folder an older version names the relay by: the entry passes them over.
  const auto idAt = [](int64_t ms) {
    const time_t seconds = static_cast<time_t>(ms / 1000);
    const tm utc = test::UtcTime(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d-%02d-%02d.%03dZ_clock",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, static_cast<int>(ms % 1000));
    return std::string(text);
  };
  const auto now = [] {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  };
  int64_t end = now();
  size_t taken = 0;
  for (; end - now() < 100 && taken < 400; ++end, ++taken)
    fs::create_directories(fs::path(root_) / "77" / idAt(end));
  JournalEntry late;
  late.kind = ChangeKind::Clock;
  late.serialNumber = 77;
  FileError error;
  ASSERT_TRUE(OpenJournalEntry(root_, late, error)) << SystemErrorText(error);
  EXPECT_GT(late.id, idAt(end - 1));
  const std::vector<JournalEntry> relay77 = ListJournal(root_, 77);
  ASSERT_EQ(relay77.size(), taken + 1);
  EXPECT_EQ(relay77[0].id, late.id);
  EXPECT_FALSE(relay77[0].damaged) << relay77[0].damage;
}
