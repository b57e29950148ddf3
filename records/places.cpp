#include "places.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "serial_number.h"

#ifdef _WIN32
#include "win32_text.h"
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace nx480 {

namespace {

constexpr std::string_view kToolFolder = "nx480-pc";

bool IsSeparator(Platform platform, char c) {
  return c == '/' || (platform == Platform::Windows && c == '\\');
}

bool IsAbsolute(Platform platform, std::string_view path) {
  if (platform == Platform::Posix) return !path.empty() && path.front() == '/';
  const auto separator = [](char c) { return c == '/' || c == '\\'; };
  const bool drive = path.size() >= 3 &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                     path[1] == ':' && separator(path[2]);
  const bool share = path.size() >= 3 && separator(path[0]) && separator(path[1]);
  return drive || share;
}

// An absolute POSIX path without empty, "." and ".." steps ("/data//x/../" is "/data").
std::string NormalPosix(std::string_view path) {
  std::vector<std::string_view> steps;
  while (!path.empty()) {
    const size_t end = path.find('/');
    const std::string_view step = path.substr(0, end);
    path.remove_prefix(end == std::string_view::npos ? path.size() : end + 1);
    if (step.empty() || step == ".") continue;
    if (step == "..") {
      if (!steps.empty()) steps.pop_back();
      continue;
    }
    steps.push_back(step);
  }
  std::string normal;
  for (const std::string_view step : steps) normal.append("/").append(step);
  return normal.empty() ? "/" : normal;
}

// `path` without the separators it ends with (a drive's root keeps its own).
std::string WithoutTrailingSeparators(Platform platform, std::string path) {
  while (path.size() > 3 && IsSeparator(platform, path.back())) path.pop_back();
  return path;
}

std::string Join(Platform platform, std::string folder, std::string_view name) {
  const char separator = platform == Platform::Windows ? '\\' : '/';
  if (!folder.empty() && !IsSeparator(platform, folder.back())) folder += separator;
  for (const char c : name) folder += c == '/' ? separator : c;
  return folder;
}

struct Variable {
  const char* name;
  std::string_view under;  // the folder under its value that the tool's folder is in
};

// The tool's folder in the first of the variables that holds an absolute path.
Place Resolve(Platform platform, const EnvironmentLookup& env, Variable first, Variable second) {
  Place place;
  for (const Variable& variable : {first, second}) {
    const std::optional<std::string> value = env(variable.name);
    if (!value || !IsAbsolute(platform, *value)) continue;
    std::string folder = *value;
    if (platform == Platform::Posix) {
      folder = NormalPosix(folder);
    } else {
      std::replace(folder.begin(), folder.end(), '/', '\\');
      folder = WithoutTrailingSeparators(platform, folder);
    }
    if (!variable.under.empty()) folder = Join(platform, folder, variable.under);
    place.folder = Join(platform, folder, kToolFolder);
    return place;
  }
  place.problem =
      std::string("neither ") + first.name + " nor " + second.name + " is an absolute path";
  return place;
}

#ifndef _WIN32
// The effective user's home folder from the password database.
std::optional<std::string> PasswordHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  std::vector<char> buffer(static_cast<size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir || !*found->pw_dir)
    return std::nullopt;
  return std::string(found->pw_dir);
}
#endif

}  // namespace

std::optional<std::string> ProcessEnvironment(const char* name) {
#ifdef _WIN32
  // The variables hold UTF-16: the narrow getenv would give them in the ANSI code page.
  const wchar_t* value = ::_wgetenv(Utf16(name).c_str());
  if (!value) return std::nullopt;
  return Utf8(value);
#else
  const char* value = std::getenv(name);
  if (value && *value) return std::string(value);
  if (std::string_view(name) == "HOME")
    if (std::optional<std::string> home = PasswordHome()) return home;
  if (value) return std::string(value);
  return std::nullopt;
#endif
}

std::string PathUnder(std::string folder, std::string_view name, Platform platform) {
  return Join(platform, std::move(folder), name);
}

std::optional<std::string> Places::Under(const Place& place, std::string_view name) const {
  if (!place.folder) return std::nullopt;
  return Join(platform, *place.folder, name);
}

Places ResolvePlaces(Platform platform, const EnvironmentLookup& env) {
  Places places;
  places.platform = platform;
  if (platform == Platform::Windows) {
    places.data = Resolve(platform, env, {"XDG_DATA_HOME", ""}, {"LOCALAPPDATA", ""});
    places.config = Resolve(platform, env, {"XDG_CONFIG_HOME", ""}, {"APPDATA", ""});
  } else {
    places.data = Resolve(platform, env, {"XDG_DATA_HOME", ""}, {"HOME", ".local/share"});
    places.config = Resolve(platform, env, {"XDG_CONFIG_HOME", ""}, {"HOME", ".config"});
  }
  return places;
}

Places CurrentPlaces() {
  return ResolvePlaces(kThisPlatform, ProcessEnvironment);
}

std::optional<std::string> JournalRoot(const EnvironmentLookup& env) {
  return ResolvePlaces(kThisPlatform, env).Journal();
}

std::string RelayFolderName(int32_t serialNumber, int digits) {
  return HasSerialNumber(serialNumber) ? SerialNumberDigits(serialNumber, digits)
                                       : std::string("unknown");
}

}  // namespace nx480
