#include "record_defaults.h"

#include <filesystem>
#include <string_view>
#include <vector>

#include "folder_calls.h"

namespace nx480 {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxBytes = 16 * 1024;

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// One line's value: no line breaks, no outer blanks.
std::string LineValue(const std::string& value) {
  std::string line = value;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  return std::string(Trimmed(line));
}

}  // namespace

std::optional<std::string> RecordDefaultsPath(const EnvironmentLookup& env) {
  return ResolvePlaces(kThisPlatform, env).RecordDefaults();
}

RecordDefaults ReadRecordDefaults(const EnvironmentLookup& env) {
  RecordDefaults defaults;
  const std::optional<std::string> path = RecordDefaultsPath(env);
  if (!path) return defaults;
  std::vector<uint8_t> bytes(kMaxBytes);
  size_t got = 0;
  FileError error;
  if (!ReadFileStart(*path, bytes, got, error) || got == kMaxBytes) return defaults;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), got);
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trimmed(line.substr(0, equals));
    const std::string value(Trimmed(line.substr(equals + 1)));
    if (key == "site") defaults.site = value;
    if (key == "technician") defaults.technician = value;
  }
  return defaults;
}

bool WriteRecordDefaults(const RecordDefaults& defaults, std::string& path, FileError& error,
                         const EnvironmentLookup& env) {
  const std::optional<std::string> where = RecordDefaultsPath(env);
  if (!where) {
    path.clear();
    error = {FileProblem::NotFound, 0};
    return false;
  }
  path = *where;
  std::error_code ec;
  fs::create_directories(Utf8Path(path).parent_path(), ec);
  if (ec) {
    error = {FileProblemOf(ec.value(), true), ec.value()};
    return false;
  }
  const std::string text = "site = " + LineValue(defaults.site) + "\n" +
                           "technician = " + LineValue(defaults.technician) + "\n";
  return WriteFileAtomically(
      path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), error);
}

}  // namespace nx480
