// Where the tool keeps its files, decided in one place: the data folder (the change journal, the
// recordings), the configuration folder (grid-code profiles, the record's defaults, the
// recording's settings) and the name of a relay's folder in them. Plain C++, no Qt.
//
//   Linux (POSIX)   data    $XDG_DATA_HOME/nx480-pc, else $HOME/.local/share/nx480-pc
//                   config  $XDG_CONFIG_HOME/nx480-pc, else $HOME/.config/nx480-pc
//   Windows         data    $XDG_DATA_HOME/nx480-pc, else %LOCALAPPDATA%\nx480-pc
//                   config  $XDG_CONFIG_HOME/nx480-pc, else %APPDATA%\nx480-pc
//
// A variable counts only when it holds an absolute path of its platform ("/..." on POSIX;
// "C:\...", "C:/..." or "\\server\..." on Windows); a relative or empty one is passed over, and
// with none left the folder is missing, with a sentence saying why (never "/" or ""). On Windows
// a value's "/" are read as "\\", and folders under them are joined with the platform's
// separator. ResolvePlaces is a pure function of the
// platform and the environment, so both answers are tested on any system; CurrentPlaces is the
// running program's.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace nx480 {

enum class Platform { Posix, Windows };

#ifdef _WIN32
inline constexpr Platform kThisPlatform = Platform::Windows;
#else
inline constexpr Platform kThisPlatform = Platform::Posix;
#endif

// The environment as the tool asks it: a variable's value (UTF-8), nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;
// This process's environment. On POSIX "HOME" falls back to the user's home folder from the
// password database when it is unset or empty; on Windows the values are read as UTF-16 and
// given in UTF-8.
std::optional<std::string> ProcessEnvironment(const char* name);

struct Place {
  std::optional<std::string> folder;  // the tool's own folder, ".../nx480-pc"
  std::string problem;                // without one: why, in English ("neither ... nor ...")
};

struct Places {
  Platform platform = kThisPlatform;
  Place data;
  Place config;

  // `name` (one or more folder names joined by "/") under a place, with the platform's
  // separator; nullopt when the place is missing.
  std::optional<std::string> Under(const Place& place, std::string_view name) const;

  std::optional<std::string> Journal() const { return Under(data, "journal"); }
  std::optional<std::string> Recordings() const { return Under(data, "recordings"); }
  std::optional<std::string> Profiles() const { return Under(config, "profiles"); }
  std::optional<std::string> RecordDefaults() const { return Under(config, "record.conf"); }
  std::optional<std::string> RecordingConfig() const { return Under(config, "recording.conf"); }
};

// `name` (one or more names joined by "/") under `folder`, joined with the platform's separator
// ("\\" on Windows, "/" within `name` too), without doubling one `folder` ends with; `name`
// alone for an empty `folder`. Every path the tool makes under its folders, and shows, is joined
// here: on Windows it reads with one separator throughout.
std::string PathUnder(std::string folder, std::string_view name, Platform platform = kThisPlatform);

Places ResolvePlaces(Platform platform, const EnvironmentLookup& env);
// ResolvePlaces(kThisPlatform, ProcessEnvironment).
Places CurrentPlaces();

// The change journal's folder in the data folder: $XDG_DATA_HOME/nx480-pc/journal, else
// $HOME/.local/share/nx480-pc/journal (Windows: %LOCALAPPDATA%\nx480-pc\journal); nullopt
// when there is no data folder (Places' data.problem says why).
std::optional<std::string> JournalRoot(const EnvironmentLookup& env = ProcessEnvironment);

// A relay's folder under the journal or the recordings: its serial number's digits, read
// unsigned, with leading zeros to `digits`; "unknown" for a relay without one. The journal's
// folders have six digits ("001234"), the recordings' none added ("1234"): the names the files
// already on disk were kept under.
inline constexpr int kJournalFolderDigits = 6;
inline constexpr int kRecordingFolderDigits = 1;
std::string RelayFolderName(int32_t serialNumber, int digits);

}  // namespace nx480
