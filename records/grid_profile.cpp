#include "grid_profile.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>

#include "folder_calls.h"
#include "places.h"
#include "text_codec.h"
#include "this_pc.h"

namespace nx480 {

namespace fs = std::filesystem;

#ifndef NX480_PROFILE_FOLDER
#define NX480_PROFILE_FOLDER "/usr/share/nx480-pc/profiles"
#endif
const char* const kShippedProfileFolder = NX480_PROFILE_FOLDER;

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    const size_t start = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    if (i > start) fields.push_back(text.substr(start, i - start));
  }
  return fields;
}

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<uint8_t>(text[i]);
    int follow = 0;
    uint32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c >= 0xC2 && c <= 0xDF) {
      follow = 1;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      follow = 2;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      follow = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + follow >= text.size()) return false;
    for (int k = 1; k <= follow; ++k) {
      const auto f = static_cast<uint8_t>(text[i + k]);
      if ((f & 0xC0) != 0x80) return false;
      code = code << 6 | (f & 0x3F);
    }
    if ((follow == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (follow == 3 && (code < 0x10000 || code > 0x10FFFF)))
      return false;
    i += follow + 1;
  }
  return true;
}

// A number as a profile writes it: digits, optionally a decimal point (or comma) and digits.
std::optional<double> ProfileNumber(std::string_view text) {
  std::string plain(text);
  size_t digits = 0;
  size_t points = 0;
  for (char& c : plain) {
    if (c == ',') c = '.';
    if (c == '.') {
      ++points;
    } else if (c >= '0' && c <= '9') {
      ++digits;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0 || points > 1 || plain.front() == '.' || plain.back() == '.') return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc() || end != plain.data() + plain.size()) return std::nullopt;
  return value;
}

std::optional<ProfileUnit> UnitOfText(std::string_view text) {
  if (text == "V") return ProfileUnit::Volts;
  if (text == "%") return ProfileUnit::Percent;
  if (text == "Hz") return ProfileUnit::Hertz;
  if (text == "s") return ProfileUnit::Seconds;
  if (text == "-") return ProfileUnit::Mode;
  return std::nullopt;
}

std::string_view UnitText(ProfileUnit unit) {
  switch (unit) {
    case ProfileUnit::Volts:
      return "V";
    case ProfileUnit::Percent:
      return "%";
    case ProfileUnit::Hertz:
      return "Hz";
    case ProfileUnit::Seconds:
      return "s";
    case ProfileUnit::Mode:
      return "-";
  }
  return "";
}

// The units a parameter may be given in, as the message names them.
std::string_view UnitsOf(Quantity quantity) {
  switch (quantity) {
    case Quantity::Voltage:
      return "V or %";
    case Quantity::Frequency:
      return "Hz";
    case Quantity::Time:
    case Quantity::Interval:
      return "s";
    case Quantity::Phases:
      return "- (0 single-phase, 1 three-phase)";
  }
  return "";
}

bool UnitFits(Quantity quantity, ProfileUnit unit) {
  switch (quantity) {
    case Quantity::Voltage:
      return unit == ProfileUnit::Volts || unit == ProfileUnit::Percent;
    case Quantity::Frequency:
      return unit == ProfileUnit::Hertz;
    case Quantity::Time:
    case Quantity::Interval:
      return unit == ProfileUnit::Seconds;
    case Quantity::Phases:
      return unit == ProfileUnit::Mode;
  }
  return false;
}

std::string RowNames() {
  std::string names;
  for (const SettingsParameter& p : SettingsParameters()) {
    if (!names.empty()) names += ", ";
    names += p.name;
  }
  return names;
}

// The row of a line that starts with a known row's name, or the reason it is none.
std::string ParseRow(const SettingsParameter& parameter, const std::vector<std::string_view>& f,
                     ProfileRow& row) {
  const std::string name(parameter.name);
  if (f.size() != 4)
    return name + ": a row is NAME LOWEST HIGHEST UNIT, this line has " + std::to_string(f.size()) +
           (f.size() == 1 ? " field" : " fields");
  row.parameter = &parameter;
  for (int i : {1, 2}) {
    const std::optional<double> number = ProfileNumber(f[i]);
    if (!number) return name + ": '" + QuotedText(f[i]) + "' is not a number";
    (i == 1 ? row.lowest : row.highest) = *number;
    (i == 1 ? row.lowestText : row.highestText) = std::string(f[i]);
  }
  const std::optional<ProfileUnit> unit = UnitOfText(f[3]);
  if (!unit) return name + ": unknown unit '" + QuotedText(f[3]) + "' (V, %, Hz, s or -)";
  if (!UnitFits(parameter.quantity, *unit))
    return name + " is in " + std::string(UnitsOf(parameter.quantity)) + ", not " +
           QuotedText(f[3]);
  row.unit = *unit;
  if (row.unit == ProfileUnit::Mode && (row.highest > 1 || row.lowest != std::floor(row.lowest) ||
                                        row.highest != std::floor(row.highest)))
    return name + ": the mode is 0 (single-phase) or 1 (three-phase)";
  if (row.lowest > row.highest)
    return name + ": the lowest value " + row.lowestText + " is above the highest " +
           row.highestText;
  return "";
}

}  // namespace

ParsedProfile ParseGridProfile(std::string_view bytes, const std::string& file) {
  ParsedProfile parsed;
  GridProfile& profile = parsed.profile;
  profile.file = file;
  auto error = [&](int line, const std::string& what) {
    parsed.errors.push_back(file + ":" + std::to_string(line) + ": " + what);
  };
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);

  int nameLine = 0;
  int sourceLine = 0;
  std::map<const SettingsParameter*, int> seen;  // row -> its line
  int number = 0;
  while (!bytes.empty()) {
    ++number;
    const size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!IsUtf8(line)) {
      error(number, "not UTF-8 text");
      continue;
    }
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;

    // Header lines: the rest of the line, "#" and all.
    bool header = false;
    for (auto [key, value, at] :
         {std::tuple{std::string_view("name:"), &profile.name, &nameLine},
          std::tuple{std::string_view("source:"), &profile.source, &sourceLine}}) {
      if (line.substr(0, key.size()) != key) continue;
      header = true;
      const std::string_view text = Trim(line.substr(key.size()));
      if (*at != 0) {
        error(number,
              std::string(key) + " is given twice (first on line " + std::to_string(*at) + ")");
      } else {
        if (text.empty()) error(number, std::string(key) + " is empty");
        // Shown and printed as it stands: its control characters escaped.
        *value = QuotedText(text);
        *at = number;
      }
    }
    if (header) continue;

    const std::vector<std::string_view> fields = Fields(line.substr(0, line.find('#')));
    const SettingsParameter* parameter = FindSettingsParameter(fields[0]);
    if (!parameter) {
      if (fields.size() == 4)
        error(number, "unknown row '" + QuotedText(fields[0]) + "' (rows: " + RowNames() + ")");
      else
        error(number, "neither a row (NAME LOWEST HIGHEST UNIT) nor name: or source:");
      continue;
    }
    ProfileRow row;
    row.line = number;
    if (const std::string what = ParseRow(*parameter, fields, row); !what.empty()) {
      error(number, what);
      continue;
    }
    if (const auto first = seen.find(parameter); first != seen.end()) {
      error(number, std::string(parameter->name) + " is given twice (first on line " +
                        std::to_string(first->second) + ")");
      continue;
    }
    seen[parameter] = number;
    profile.rows.push_back(std::move(row));
  }
  if (nameLine == 0) parsed.errors.push_back(file + ": no name: line (what the profile is)");
  if (sourceLine == 0)
    parsed.errors.push_back(file + ": no source: line (where its values come from)");
  if (profile.rows.empty() && parsed.errors.empty())
    parsed.errors.push_back(file + ": no row to check");
  return parsed;
}

ParsedProfile LoadGridProfile(const std::string& path) {
  std::vector<uint8_t> bytes(kMaxProfileBytes + 1);
  size_t got = 0;
  FileError error;
  if (!ReadFileStart(path, bytes, got, error)) {
    ParsedProfile failed;
    failed.profile.file = path;
    failed.fileError = error;
    return failed;
  }
  if (got > kMaxProfileBytes) {
    ParsedProfile failed;
    failed.profile.file = path;
    failed.tooLarge = true;
    return failed;
  }
  return ParseGridProfile(std::string_view(reinterpret_cast<const char*>(bytes.data()), got), path);
}

double ProfileTolerance(const ProfileRow& row) {
  const int decimals = row.unit == ProfileUnit::Percent ? 0 : row.parameter->decimals;
  return 0.001 * std::pow(10.0, -decimals);
}

std::vector<RowCheck> CheckSettings(const GridProfile& profile, const SettingsWords& record,
                                    const FirmwareFeatures& firmware) {
  std::vector<RowCheck> checks;
  for (const ProfileRow& row : profile.rows) {
    const SettingsParameter& parameter = *row.parameter;
    RowCheck check;
    check.row = &row;
    check.rangeText = row.lowestText + ".." + row.highestText;
    if (row.unit != ProfileUnit::Mode) check.rangeText += " " + std::string(UnitText(row.unit));
    if (!HasParameter(firmware, parameter)) {
      check.verdict = RowVerdict::NotInFirmware;
      check.valueText = "not in firmware " + std::to_string(firmware.minor);
      checks.push_back(std::move(check));
      continue;
    }
    const double value = ParameterValue(record, parameter, firmware);
    check.valueText = ValueText(parameter, value);
    switch (row.unit) {
      case ProfileUnit::Percent:
        check.value = PercentOfNominal(value);
        check.valueText =
            DecimalText(value, parameter.decimals) + " V (" + DecimalText(check.value, 1) + " %)";
        break;
      case ProfileUnit::Mode:
        check.value = ThreePhase(value) ? 1 : 0;
        break;
      default:
        check.value = value;
    }
    const double tolerance = ProfileTolerance(row);
    check.verdict = check.value >= row.lowest - tolerance && check.value <= row.highest + tolerance
                        ? RowVerdict::Inside
                        : RowVerdict::Outside;
    checks.push_back(std::move(check));
  }
  return checks;
}

std::vector<std::string> ProfileFolders(const ProfileEnvironment& env) {
  std::vector<std::string> folders;
  if (auto user = ResolvePlaces(kThisPlatform, env ? env : ProcessEnvironment).Profiles())
    folders.push_back(std::move(*user));
  folders.push_back(ShippedProfileFolder());
  return folders;
}

std::string ShippedProfileFolder() {
  if constexpr (kThisPlatform == Platform::Windows) {
    const std::string program = ThisProgramFolder();
    if (!program.empty()) return PathUnder(program, "profiles");
  }
  return kShippedProfileFolder;
}

std::optional<std::string> FindGridProfile(const std::string& name,
                                           const std::vector<std::string>& folders,
                                           std::vector<std::string>& tried) {
  tried.clear();
  if (name.empty()) return std::nullopt;
  std::error_code ec;
  const bool path =
      name.find_first_of(kThisPlatform == Platform::Windows ? "/\\:" : "/") != std::string::npos;
  if (path || fs::exists(fs::symlink_status(Utf8Path(name), ec))) return name;
  for (const std::string& folder : folders) {
    for (const std::string& candidate :
         {PathUnder(folder, name), PathUnder(folder, name + ".txt")}) {
      tried.push_back(candidate);
      if (fs::exists(fs::symlink_status(Utf8Path(candidate), ec))) return candidate;
    }
  }
  return std::nullopt;
}

}  // namespace nx480
