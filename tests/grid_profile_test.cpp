// Grid-code profiles: the parser's errors and rows, a record checked against a profile, and
// where a profile is found.
#include "grid_profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "portable.h"
#include "text_codec.h"

namespace nx480 {
namespace {

namespace fs = std::filesystem;

const std::string kHeader = "name: Test profile\nsource: test table 1\n";  // lines 1 and 2

TEST(GridProfile, EachBadLineIsNamedWithItsLine) {
  const struct {
    std::string body;  // after the two header lines: its first line is line 3
    std::string error;
  } cases[] = {
      {"Ux1 184 184 V\n", "p.txt:3: unknown row 'Ux1'"},
      {"# fine\n\nUu1 184 184 Hz\n", "p.txt:5: Uu1 is in V or %, not Hz"},
      {"tUu1 3 3 %\n", "p.txt:3: tUu1 is in s, not %"},
      {"Uu1 184 184 kV\n", "p.txt:3: Uu1: unknown unit 'kV'"},
      {"Uu1 190 184 V\n", "p.txt:3: Uu1: the lowest value 190 is above the highest 184"},
      {"Uu1 18x4 190 V\n", "p.txt:3: Uu1: '18x4' is not a number"},
      {"Uu1 184 V\n", "p.txt:3: Uu1: a row is NAME LOWEST HIGHEST UNIT, this line has 3 fields"},
      {"Uu1 184 190 V\nUu1 80 83 %\n", "p.txt:4: Uu1 is given twice (first on line 3)"},
      {"Faze 2 2 -\n", "p.txt:3: Faze: the mode is 0 (single-phase) or 1 (three-phase)"},
      {"limits follow\n", "p.txt:3: neither a row (NAME LOWEST HIGHEST UNIT) nor name: or source:"},
      {"name: again\n", "p.txt:3: name: is given twice (first on line 1)"},
      {"Uu1 184 \xC3 V\n", "p.txt:3: not UTF-8 text"},
      // The file's text quoted with its control characters escaped: nothing raw, nothing cut.
      {"Uu1 1\x1B[31m 2 V\n", "p.txt:3: Uu1: '1\\x1B[31m' is not a number"},
      {std::string("Uu1 1 2 V\x00x\n", 12), "p.txt:3: Uu1: unknown unit 'V\\x00x'"},
      {"X\x07\x7F\xC2\x9B"
       "1 1 2 V\n",
       "p.txt:3: unknown row 'X\\x07\\x7F\\u009B1'"},
  };
  for (const auto& c : cases) {
    const ParsedProfile parsed = ParseGridProfile(kHeader + c.body, "p.txt");
    EXPECT_FALSE(parsed.Ok()) << c.body;
    ASSERT_EQ(parsed.errors.size(), 1u) << c.body;
    EXPECT_EQ(parsed.errors[0].rfind(c.error, 0), 0u) << c.body << "\n" << parsed.errors[0];
  }
}

// A file's text as messages quote it: every control character escaped, the rest as it stands.
TEST(GridProfile, QuotedTextEscapesControlCharacters) {
  const struct {
    std::string text, quoted;
  } cases[] = {
      {"plain Uu1 184–190 V", "plain Uu1 184–190 V"},
      {"\x1B[2J\x1B]0;x\x07", "\\x1B[2J\\x1B]0;x\\x07"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\t\r\n\x1F\x7F", "\\x09\\x0D\\x0A\\x1F\\x7F"},
      {"\xC2\x80\xC2\x9F\xC2\xA0", "\\u0080\\u009F\xC2\xA0"},  // C1 escaped, U+00A0 kept
      {"\xFF\xC3", "\\xFF\\xC3"},                              // no UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(QuotedText(c.text), c.quoted) << c.quoted;
  // The header's values, shown and printed as they stand, escaped too.
  const ParsedProfile parsed =
      ParseGridProfile("name: a\x1B[31mb\nsource: s\x07\nUu1 1 2 V\n", "h");
  ASSERT_TRUE(parsed.Ok());
  EXPECT_EQ(parsed.profile.name, "a\\x1B[31mb");
  EXPECT_EQ(parsed.profile.source, "s\\x07");
}

TEST(GridProfile, EveryErrorIsCollectedAndTheHeaderIsRequired) {
  const ParsedProfile parsed =
      ParseGridProfile("source:\nUu1 1 x V\n\nFo9 1 2 Hz\ntRel 60 600 s\n", "q.txt");
  ASSERT_EQ(parsed.errors.size(), 4u);
  EXPECT_EQ(parsed.errors[0], "q.txt:1: source: is empty");
  EXPECT_EQ(parsed.errors[1], "q.txt:2: Uu1: 'x' is not a number");
  EXPECT_EQ(parsed.errors[2].rfind("q.txt:4: unknown row 'Fo9'", 0), 0u);
  EXPECT_EQ(parsed.errors[3], "q.txt: no name: line (what the profile is)");
  EXPECT_FALSE(ParseGridProfile("name: n\nsource: s\n# nothing\n", "e.txt").Ok());
}

TEST(GridProfile, AGoodProfile) {
  const ParsedProfile parsed = ParseGridProfile(
      "\xEF\xBB\xBF# Generátory NN\r\nname: Operátor, NN # 2024\r\n  source:  table 3  \r\n"
      "\n\tUu1\t184  190 V   # V row\nUu2 80,5 83 %\nFu1 47.5 47.5 Hz\nFaze 1 1 -\nLog 0 60 s",
      "g.txt");
  ASSERT_TRUE(parsed.Ok()) << parsed.errors[0];
  const GridProfile& p = parsed.profile;
  EXPECT_EQ(p.name, "Operátor, NN # 2024");
  EXPECT_EQ(p.source, "table 3");
  ASSERT_EQ(p.rows.size(), 5u);
  EXPECT_EQ(p.rows[0].parameter->name, "Uu1");
  EXPECT_EQ(p.rows[0].line, 5);
  EXPECT_EQ(p.rows[0].unit, ProfileUnit::Volts);
  EXPECT_EQ(p.rows[1].unit, ProfileUnit::Percent);
  EXPECT_EQ(p.rows[1].lowest, 80.5);
  EXPECT_EQ(p.rows[1].lowestText, "80,5");
  EXPECT_EQ(p.rows[4].parameter->name, "Log");
  EXPECT_EQ(p.rows[4].highest, 60);
}

// A record with the given words set.
SettingsWords Record(std::initializer_list<std::pair<int, uint16_t>> words) {
  SettingsWords record{};
  for (const auto& [word, value] : words) record[word] = value;
  return record;
}

TEST(GridProfile, CheckAtTheBoundariesAndTimeScales) {
  const ParsedProfile parsed = ParseGridProfile(kHeader +
                                                    "Uu1 184 196 V\n"
                                                    "Uu2 80 85 %\n"
                                                    "Fu1 47.5 47.5 Hz\n"
                                                    "tUu1 0.3 0.3 s\n"
                                                    "tRel 60 60 s\n"
                                                    "Fo2 52 52 Hz\n"
                                                    "Faze 1 1 -\n"
                                                    "Uo2 110 110 %\n",
                                                "c.txt");
  ASSERT_TRUE(parsed.Ok());
  const FirmwareFeatures old = FirmwareFeaturesOf(4);   // 10 steps per second, no Fo2
  const FirmwareFeatures now = FirmwareFeaturesOf(14);  // 20 steps per second
  using V = RowVerdict;
  const struct {
    SettingsWords record;
    const FirmwareFeatures& firmware;
    std::vector<V> verdicts;
    std::string uu2Text;
  } cases[] = {
      // Uu1 at both ends, Uu2 195 V = 84.8 %, Fu1 475 tenths, tUu1 3 of 10 steps, tRel 600 of
      // 10, Fo2 not in firmware 4, three-phase, Uo2 253 V = 110 % (110.00000000000001).
      {Record({{kWordUu1, 196},
               {kWordUu2, 195},
               {kWordFu1, 475},
               {kWordTUu, 3},
               {kWordTRel, 600},
               {kWordFaze, 0x0100},
               {kWordUo2, 253}}),
       old,
       {V::Inside, V::Inside, V::Inside, V::Inside, V::Inside, V::NotInFirmware, V::Inside,
        V::Inside},
       "195 V (84.8 %)"},
      // The same words at 20 steps per second: the delays halve. 196 V = 85.2 % is outside
      // 85 %, though the window shows "85 %" for it; Fo2 520 tenths; single-phase.
      {Record({{kWordUu1, 184},
               {kWordUu2, 196},
               {kWordFu1, 475},
               {kWordTUu, 6},
               {kWordTRel, 600},
               {kWordFo2, 520},
               {kWordUo2, 252}}),
       now,
       {V::Inside, V::Outside, V::Inside, V::Inside, V::Outside, V::Inside, V::Outside, V::Outside},
       "196 V (85.2 %)"},
      // One step beyond each end.
      {Record({{kWordUu1, 197},
               {kWordUu2, 183},
               {kWordFu1, 474},
               {kWordTUu, 7},
               {kWordTRel, 1201},
               {kWordFo2, 521},
               {kWordFaze, 0x0100},
               {kWordUo2, 254}}),
       now,
       {V::Outside, V::Outside, V::Outside, V::Outside, V::Outside, V::Outside, V::Inside,
        V::Outside},
       "183 V (79.6 %)"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const std::vector<RowCheck> checks = CheckSettings(parsed.profile, c.record, c.firmware);
    ASSERT_EQ(checks.size(), c.verdicts.size());
    for (size_t r = 0; r < checks.size(); ++r)
      EXPECT_EQ(checks[r].verdict, c.verdicts[r])
          << "case " << i << " row " << checks[r].row->parameter->name << " "
          << checks[r].valueText;
    EXPECT_EQ(checks[1].valueText, c.uu2Text) << "case " << i;
  }
  const std::vector<RowCheck> checks = CheckSettings(parsed.profile, cases[0].record, old);
  EXPECT_EQ(checks[0].rangeText, "184..196 V");
  EXPECT_EQ(checks[1].rangeText, "80..85 %");
  EXPECT_EQ(checks[3].valueText, "0.30 s");
  EXPECT_EQ(checks[5].valueText, "not in firmware 4");
}

class ProfileLookup : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::NewTemporaryFolder("nx480-profile-test"); }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << kHeader;
  }
  fs::path dir_;
};

TEST_F(ProfileLookup, PathThenUserFolderThenShipped) {
  const std::string config = (dir_ / "config").string();
  const auto env = [&config](const char* name) -> std::optional<std::string> {
    if (std::string(name) == "XDG_CONFIG_HOME") return config;
    return std::nullopt;
  };
  const std::vector<std::string> folders = ProfileFolders(env);
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0], (dir_ / "config" / "nx480-pc" / "profiles").string());
  EXPECT_EQ(folders[1], ShippedProfileFolder());
#ifdef _WIN32
  // Beside the program, never the Linux package's folder.
  EXPECT_TRUE(fs::is_directory(fs::path(folders[1]).parent_path())) << folders[1];
  EXPECT_TRUE(folders[1].ends_with("\\profiles")) << folders[1];
#else
  EXPECT_EQ(folders[1], kShippedProfileFolder);
#endif

  // XDG_CONFIG_HOME relative or unset: ~/.config (Windows: %APPDATA%).
  const auto relative = [](const char* name) -> std::optional<std::string> {
    if (std::string(name) == "XDG_CONFIG_HOME") return "config";
    if (std::string(name) == "HOME") return "/home/x";
    if (std::string(name) == "APPDATA") return "C:\\Users\\x\\AppData\\Roaming";
    return std::nullopt;
  };
#ifdef _WIN32
  EXPECT_EQ(ProfileFolders(relative)[0], "C:\\Users\\x\\AppData\\Roaming\\nx480-pc\\profiles");
#else
  EXPECT_EQ(ProfileFolders(relative)[0], "/home/x/.config/nx480-pc/profiles");
#endif

  const fs::path user = dir_ / "config" / "nx480-pc" / "profiles";
  const fs::path shipped = dir_ / "shipped";
  Touch(user / "ours.txt");
  Touch(shipped / "ours.txt");
  Touch(shipped / "theirs");
  Touch(dir_ / "given.txt");
  const std::vector<std::string> search = {user.string(), shipped.string()};
  std::vector<std::string> tried;
  EXPECT_EQ(FindGridProfile("ours", search, tried), (user / "ours.txt").string());
  EXPECT_EQ(FindGridProfile("theirs", search, tried), (shipped / "theirs").string());
  EXPECT_EQ(FindGridProfile((dir_ / "given.txt").string(), search, tried),
            (dir_ / "given.txt").string());
  // A path is never looked for in the folders, even when it is missing.
  EXPECT_EQ(FindGridProfile("sub/ours", search, tried), "sub/ours");
  EXPECT_EQ(FindGridProfile("missing", search, tried), std::nullopt);
  EXPECT_EQ(tried, (std::vector<std::string>{
                       (user / "missing").string(), (user / "missing.txt").string(),
                       (shipped / "missing").string(), (shipped / "missing.txt").string()}));

  const ParsedProfile loaded = LoadGridProfile((user / "ours.txt").string());
  EXPECT_TRUE(loaded.errors.size() == 1 &&
              loaded.errors[0].find("no row to check") != std::string::npos);
  EXPECT_EQ(LoadGridProfile(user.string()).fileError.problem, FileProblem::IsFolder);
  std::ofstream(dir_ / "big.txt") << std::string(kMaxProfileBytes + 1, '#');
  EXPECT_TRUE(LoadGridProfile((dir_ / "big.txt").string()).tooLarge);
}

}  // namespace
}  // namespace nx480
