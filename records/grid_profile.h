// Grid-code profiles: the ranges an operator's grid code allows for the protection settings, as
// a plain UTF-8 text file a technician writes, and a settings record checked against one.
//
//   name: Example operator, LV generators, 2024 edition
//   source: where the values come from (document, edition, table)
//   # a comment
//   Uu1   184   184   V
//   Uu2   80    80    %
//   tUu1  3.0   3.0   s
//   Fu1   47.5  47.5  Hz
//
// The header lines "name:" and "source:" are both required, once each, anywhere in the file: the
// check prints them first, so that its output always says which rules it applied and where they
// come from. A row line is the row's name as settings_table.h has it, the lowest and the highest
// value allowed (a decimal point or a comma) and the unit: V or % (of kNominalVolts) for a
// voltage, Hz for a frequency, s for a delay or the recording interval (Log), "-" for Faze
// (0 single-phase, 1 three-phase). A "#" starts a comment on a row line and at the start of a
// line; blank lines are skipped; a UTF-8 byte order mark and CR line ends are taken. Rows the
// profile does not name are not checked. Plain C++, no Qt.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "atomic_file.h"
#include "firmware_features.h"
#include "settings_table.h"
#include "settings_words.h"

namespace nx480 {

enum class ProfileUnit { Volts, Percent, Hertz, Seconds, Mode };

struct ProfileRow {
  const SettingsParameter* parameter = nullptr;
  ProfileUnit unit = ProfileUnit::Volts;
  double lowest = 0;
  double highest = 0;
  std::string lowestText;  // as the file writes them
  std::string highestText;
  int line = 0;
};

struct GridProfile {
  std::string file;  // as it was given, for messages
  std::string name;
  std::string source;
  std::vector<ProfileRow> rows;  // in the file's order
};

// A profile read and parsed. Nothing may be checked with it unless Ok().
struct ParsedProfile {
  GridProfile profile;
  // Every bad line, in the file's order: "FILE:LINE: what"; a header line that is missing:
  // "FILE: what".
  std::vector<std::string> errors;
  FileError fileError;    // the file could not be read (errors then stays empty)
  bool tooLarge = false;  // the file is larger than kMaxProfileBytes (nothing parsed)
  bool Ok() const { return errors.empty() && fileError.problem == FileProblem::None && !tooLarge; }
};

// A profile is a short text; anything larger is no profile.
inline constexpr size_t kMaxProfileBytes = 64 * 1024;

// Parses the bytes of a profile; `file` names it in the messages.
ParsedProfile ParseGridProfile(std::string_view bytes, const std::string& file);

// Reads `path` through ReadFileStart (regular files only, nothing waited for) and parses it.
ParsedProfile LoadGridProfile(const std::string& path);

enum class RowVerdict {
  Inside,
  Outside,
  NotInFirmware,  // the firmware has no such parameter: not checked, and no failure
};

struct RowCheck {
  const ProfileRow* row = nullptr;
  double value = 0;       // in the row's unit (percent for a % row, the mode 0 or 1 for Faze)
  std::string valueText;  // "196 V (85.2 %)", "1.50 s", "47.5 Hz", "three-phase"
  std::string rangeText;  // "184..253 V", "80..85 %"
  RowVerdict verdict = RowVerdict::Inside;
};

// The tolerance of a comparison in the row's unit: a thousandth of the last decimal the
// settings window shows of the parameter. Far below one step of the record, far above the
// rounding of a value counted from its steps.
double ProfileTolerance(const ProfileRow& row);

// Each row of the profile with the record's value at the firmware's time scale, in the file's
// order.
std::vector<RowCheck> CheckSettings(const GridProfile& profile, const SettingsWords& record,
                                    const FirmwareFeatures& firmware);

// The environment as the lookup asks it (places.h's ProcessEnvironment by default).
using ProfileEnvironment = std::function<std::optional<std::string>(const char* name)>;

// The folders searched for a profile given by name, in order: the user's
// (profiles in the configuration folder, places.h: $XDG_CONFIG_HOME/nx480-pc/profiles, or
// ~/.config/nx480-pc/profiles when XDG_CONFIG_HOME is unset or no absolute path; Windows:
// %APPDATA%\nx480-pc\profiles), then the installed one (ShippedProfileFolder()). The source tree's
// profiles are not searched: a build run from the tree names them by their path, so that an
// installed program never reads a folder of the tree it was built from.
std::vector<std::string> ProfileFolders(const ProfileEnvironment& env = {});

// The folder the Debian package installs profiles into.
extern const char* const kShippedProfileFolder;
// Where the installed program's profiles are: kShippedProfileFolder, or on Windows the folder
// "profiles" beside the program (the installer puts them there).
std::string ShippedProfileFolder();

// Where the profile `name` is: `name` itself when it is a file or holds a "/" (on Windows also a
// "\\" or a ":"; a path is never looked for in the folders), else FOLDER/NAME or FOLDER/NAME.txt
// in the first of `folders` that has one. nullopt when none is found; `tried` then lists every path
// looked at.
std::optional<std::string> FindGridProfile(const std::string& name,
                                           const std::vector<std::string>& folders,
                                           std::vector<std::string>& tried);

}  // namespace nx480
