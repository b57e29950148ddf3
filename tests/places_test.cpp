// The tool's folders on each platform from a given environment, the journal's among them, and a
// relay's folder name.
#include "places.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

using namespace nx480;

namespace {

using Env = std::map<std::string, std::string>;

EnvironmentLookup LookupIn(const Env& env) {
  return [&env](const char* name) -> std::optional<std::string> {
    const auto found = env.find(name);
    if (found == env.end()) return std::nullopt;
    return found->second;
  };
}

}  // namespace

TEST(PlacesTest, DataAndConfigFoldersOfEachPlatform) {
  const std::optional<std::string> none;
  const struct {
    Platform platform;
    Env env;
    std::optional<std::string> data, config;  // nullopt: missing, its problem names both
  } cases[] = {
      // Linux: the XDG folders, else the home folder's; relative or empty values passed over.
      {Platform::Posix,
       {{"XDG_DATA_HOME", "/data"}, {"XDG_CONFIG_HOME", "/conf/"}, {"HOME", "/home/jan"}},
       "/data/nx480-pc",
       "/conf/nx480-pc"},
      {Platform::Posix,
       {{"HOME", "/home/jan/"}},
       "/home/jan/.local/share/nx480-pc",
       "/home/jan/.config/nx480-pc"},
      {Platform::Posix,
       {{"XDG_DATA_HOME", "data"}, {"XDG_CONFIG_HOME", ""}, {"HOME", "/home//jan/x/.."}},
       "/home/jan/.local/share/nx480-pc",
       "/home/jan/.config/nx480-pc"},
      {Platform::Posix, {{"XDG_DATA_HOME", "/"}}, "/nx480-pc", none},
      {Platform::Posix, {{"HOME", "home/jan"}, {"LOCALAPPDATA", "C:\\L"}}, none, none},
      // Windows: LOCALAPPDATA for the data, APPDATA for the settings; XDG still honoured.
      {Platform::Windows,
       {{"LOCALAPPDATA", "C:\\Users\\Jan\\AppData\\Local"},
        {"APPDATA", "C:\\Users\\Jan\\AppData\\Roaming\\"},
        {"HOME", "/home/jan"}},
       "C:\\Users\\Jan\\AppData\\Local\\nx480-pc",
       "C:\\Users\\Jan\\AppData\\Roaming\\nx480-pc"},
      {Platform::Windows,
       {{"XDG_DATA_HOME", "D:/test/data"},
        {"XDG_CONFIG_HOME", "\\\\server\\share\\c"},
        {"LOCALAPPDATA", "C:\\L"},
        {"APPDATA", "C:\\R"}},
       "D:\\test\\data\\nx480-pc",
       "\\\\server\\share\\c\\nx480-pc"},
      {Platform::Windows,
       {{"XDG_DATA_HOME", "/data"},
        {"XDG_CONFIG_HOME", "C:"},
        {"LOCALAPPDATA", "C:\\"},
        {"APPDATA", "Roaming"}},
       "C:\\nx480-pc",
       none},
      {Platform::Windows,
       {{"HOME", "C:\\Users\\Jan"}, {"USERPROFILE", "C:\\Users\\Jan"}},
       none,
       none},
  };
  for (const auto& c : cases) {
    const Places places = ResolvePlaces(c.platform, LookupIn(c.env));
    const std::string row = c.data.value_or("-") + " " + c.config.value_or("-");
    EXPECT_EQ(places.data.folder, c.data) << row;
    EXPECT_EQ(places.config.folder, c.config) << row;
    const std::string system = c.platform == Platform::Windows ? "LOCALAPPDATA" : "HOME";
    const std::string roaming = c.platform == Platform::Windows ? "APPDATA" : "HOME";
    if (!c.data) {
      EXPECT_EQ(places.data.problem, "neither XDG_DATA_HOME nor " + system + " is an absolute path")
          << row;
    }
    if (!c.config) {
      EXPECT_EQ(places.config.problem,
                "neither XDG_CONFIG_HOME nor " + roaming + " is an absolute path")
          << row;
    }
  }
}

TEST(PlacesTest, FilesUnderTheFolders) {
  const Env linux{{"HOME", "/home/jan"}};
  const Places posix = ResolvePlaces(Platform::Posix, LookupIn(linux));
  EXPECT_EQ(posix.Journal(), "/home/jan/.local/share/nx480-pc/journal");
  EXPECT_EQ(posix.Recordings(), "/home/jan/.local/share/nx480-pc/recordings");
  EXPECT_EQ(posix.Profiles(), "/home/jan/.config/nx480-pc/profiles");
  EXPECT_EQ(posix.RecordDefaults(), "/home/jan/.config/nx480-pc/record.conf");
  EXPECT_EQ(posix.RecordingConfig(), "/home/jan/.config/nx480-pc/recording.conf");

  const Env windows{{"LOCALAPPDATA", "C:\\L"}, {"APPDATA", "C:\\R"}};
  const Places win = ResolvePlaces(Platform::Windows, LookupIn(windows));
  EXPECT_EQ(win.Journal(), "C:\\L\\nx480-pc\\journal");
  EXPECT_EQ(win.Recordings(), "C:\\L\\nx480-pc\\recordings");
  EXPECT_EQ(win.Profiles(), "C:\\R\\nx480-pc\\profiles");
  EXPECT_EQ(win.RecordDefaults(), "C:\\R\\nx480-pc\\record.conf");
  EXPECT_EQ(win.RecordingConfig(), "C:\\R\\nx480-pc\\recording.conf");

  const Places missing = ResolvePlaces(Platform::Windows, LookupIn({}));
  EXPECT_EQ(missing.Journal(), std::nullopt);
  EXPECT_EQ(missing.RecordingConfig(), std::nullopt);

  // Paths under a folder: one separator style on each platform, none doubled.
  const struct {
    Platform platform;
    const char *folder, *name, *path;
  } joins[] = {
      {Platform::Posix, "/r", "77/2026-12-07.csv", "/r/77/2026-12-07.csv"},
      {Platform::Posix, "/", "x", "/x"},
      {Platform::Posix, "", "a/b", "a/b"},
      {Platform::Windows, "C:\\r", "77/2026-12-07.csv", "C:\\r\\77\\2026-12-07.csv"},
      {Platform::Windows, "C:\\", "x", "C:\\x"},
      {Platform::Windows, "C:\\r\\", "x", "C:\\r\\x"},
      {Platform::Windows, "", "a/b", "a\\b"},
  };
  for (const auto& j : joins) EXPECT_EQ(PathUnder(j.folder, j.name, j.platform), j.path) << j.path;
}

TEST(PlacesTest, RelayFolderNames) {
  const struct {
    int32_t serial;
    int digits;
    const char* name;
  } cases[] = {
      {1234, kJournalFolderDigits, "001234"},     {1234, kRecordingFolderDigits, "1234"},
      {1234567, kJournalFolderDigits, "1234567"}, {-2, kRecordingFolderDigits, "4294967294"},
      {0, kJournalFolderDigits, "unknown"},       {-1, kRecordingFolderDigits, "unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(RelayFolderName(c.serial, c.digits), c.name) << c.serial;
}

TEST(JournalRootTest, DataHomeOrHome) {
  const struct {
    const char* dataHome;  // nullptr: not set
    const char* home;      // Windows: %LOCALAPPDATA%
    std::optional<std::string> root;
  } cases[] = {
#ifdef _WIN32
      {"C:\\data", "C:\\Users\\jan\\AppData\\Local", "C:\\data\\nx480-pc\\journal"},
      {"D:/data/", "C:\\L", "D:\\data\\nx480-pc\\journal"},
      {"relative\\data", "C:\\L\\", "C:\\L\\nx480-pc\\journal"},
      {"/data", "C:\\L", "C:\\L\\nx480-pc\\journal"},  // no drive: relative on Windows
      {"", "\\\\server\\jan", "\\\\server\\jan\\nx480-pc\\journal"},
      {nullptr, "C:\\", "C:\\nx480-pc\\journal"},
      {nullptr, "Local", std::nullopt},
      {nullptr, nullptr, std::nullopt},
#else
      {"/data", "/home/jan", "/data/nx480-pc/journal"},
      {"/data//x/../", "/home/jan", "/data/nx480-pc/journal"},
      {"relative/data", "/home/jan", "/home/jan/.local/share/nx480-pc/journal"},
      {"", "/home/jan", "/home/jan/.local/share/nx480-pc/journal"},
      {nullptr, "/home/jan/", "/home/jan/.local/share/nx480-pc/journal"},
      {"/", nullptr, "/nx480-pc/journal"},
      {nullptr, "home/jan", std::nullopt},
      {nullptr, nullptr, std::nullopt},
#endif
  };
  const std::string_view home = kThisPlatform == Platform::Windows ? "LOCALAPPDATA" : "HOME";
  for (const auto& c : cases) {
    const auto env = [&c, home](const char* name) -> std::optional<std::string> {
      const char* value = std::string_view(name) == "XDG_DATA_HOME" ? c.dataHome
                          : name == home                            ? c.home
                                                                    : nullptr;
      return value ? std::optional<std::string>(value) : std::nullopt;
    };
    EXPECT_EQ(JournalRoot(env), c.root)
        << (c.dataHome ? c.dataHome : "-") << " " << (c.home ? c.home : "-");
  }
}
