#include "recording.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "folder_calls.h"
#include "local_time.h"
#include "places.h"
#include "serial_number.h"
#include "translation.h"

namespace nx480 {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr const char* kStageNames[] = {"Uu1", "Uu2", "Uo1", "Uo2", "Uo3",
                                       "Fu1", "Fu2", "Fo1", "Fo2"};
constexpr int kStageCount = static_cast<int>(std::size(kStages));
constexpr int kValueCells = 9;  // U1-U3, f, the three averages, countdown, temperature
constexpr int kCells = 1 + kValueCells + 2 * kStageCount;

// Fixed-point text with a decimal point whatever the C locale says; "" for NaN.
void AppendNumber(std::string& out, double value, int decimals) {
  if (std::isnan(value)) return;
  char text[32];
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  out.append(text, result.ptr);
}

bool ParseNumber(std::string_view cell, double& value) {
  if (cell.empty()) {
    value = kNoValue;
    return true;
  }
  const auto result =
      std::from_chars(cell.data(), cell.data() + cell.size(), value, std::chars_format::fixed);
  return result.ec == std::errc() && result.ptr == cell.data() + cell.size() &&
         std::isfinite(value);
}

bool ParseDigits(std::string_view text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// "YYYY-MM-DDTHH:MM:SS.mmm+HH:MM".
bool ParseTime(std::string_view text, int64_t& pcMillis, int& offsetMinutes) {
  if (text.size() != 29 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != '.' || (text[23] != '+' && text[23] != '-') || text[26] != ':')
    return false;
  int y, mo, d, h, mi, s, ms, oh, om;
  if (!ParseDigits(text, 0, 4, y) || !ParseDigits(text, 5, 2, mo) || !ParseDigits(text, 8, 2, d) ||
      !ParseDigits(text, 11, 2, h) || !ParseDigits(text, 14, 2, mi) ||
      !ParseDigits(text, 17, 2, s) || !ParseDigits(text, 20, 3, ms) ||
      !ParseDigits(text, 24, 2, oh) || !ParseDigits(text, 27, 2, om))
    return false;
  const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                            day{static_cast<unsigned>(d)}};
  if (!date.ok() || h > 23 || mi > 59 || s > 59 || oh > 23 || om > 59) return false;
  offsetMinutes = (text[23] == '-' ? -1 : 1) * (oh * 60 + om);
  const int64_t localMillis = int64_t{sys_days{date}.time_since_epoch().count()} * 86400000 +
                              ((int64_t{h} * 60 + mi) * 60 + s) * 1000 + ms;
  pcMillis = localMillis - int64_t{offsetMinutes} * 60000;
  return true;
}

// The line's cells; one more than kCells at most (the line is wrong then, however long).
std::vector<std::string_view> Cells(std::string_view line) {
  std::vector<std::string_view> cells;
  cells.reserve(kCells + 1);
  size_t start = 0;
  for (;;) {
    const size_t comma = line.find(',', start);
    cells.push_back(line.substr(start, comma - start));
    if (comma == std::string_view::npos || cells.size() > kCells) return cells;
    start = comma + 1;
  }
}

bool ParseLine(std::string_view line, RecordingSample& s) {
  const std::vector<std::string_view> cells = Cells(line);
  if (cells.size() != kCells) return false;
  if (!ParseTime(cells[0], s.pcMillis, s.utcOffsetMinutes)) return false;
  double* values[kValueCells] = {&s.u[0],   &s.u[1],   &s.u[2],      &s.f,          &s.avg[0],
                                 &s.avg[1], &s.avg[2], &s.countdown, &s.temperature};
  for (int i = 0; i < kValueCells; ++i)
    if (!ParseNumber(cells[1 + i], *values[i])) return false;
  // U1-U3 and f come with every sample; the others may be empty.
  for (int i = 0; i < 4; ++i)
    if (std::isnan(*values[i])) return false;
  s.pickedUp = s.tripped = 0;
  for (int i = 0; i < 2 * kStageCount; ++i) {
    const std::string_view cell = cells[1 + kValueCells + i];
    if (cell != "0" && cell != "1") return false;
    if (cell == "1") (i % 2 == 0 ? s.pickedUp : s.tripped) |= uint16_t(1u << (i / 2));
  }
  return true;
}

std::string Why(const char* text, const FileError& error) {
  const std::string system = SystemErrorText(error);
  return system.empty() ? text : std::string(text) + " (" + system + ")";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// A sample

RecordingSample SampleOf(const LiveImage& image, uint32_t stageFlags, bool hasTemperature) {
  RecordingSample s;
  const FirmwareFeatures& fw = image.firmware;
  auto take3 = [&image](double(&out)[3], int first, double scale) {
    if (!image.Has(first + 2)) return;
    for (int i = 0; i < 3; ++i) out[i] = image.Register(first + i) * scale;
  };
  if (fw.tenthsInMainRegisters) {
    take3(s.u, 0, 0.1);
    take3(s.avg, 5, 0.1);
  } else if (fw.resolutionBox && image.Has(12)) {
    take3(s.u, 10, 0.1);
    if (fw.tenMinuteTenths && image.Has(15))
      take3(s.avg, 13, 0.1);
    else
      take3(s.avg, 5, 1.0);
  } else {
    take3(s.u, 0, 1.0);
    take3(s.avg, 5, 1.0);
  }
  if (!fw.tenMinuteArea) s.avg[0] = s.avg[1] = s.avg[2] = kNoValue;
  if (image.Has(3)) s.f = ((int{image.Register(3)} + int{image.SecondFrequency()}) / 2) / 100.0;
  if (image.Has(4)) s.countdown = (int{image.Register(4)} * 10 / fw.delayScale) / 10.0;
  if (image.Has(9)) {
    const uint16_t reg9 = image.Register(9);
    if (hasTemperature || TemperatureAppears(fw, TemperatureText(reg9)))
      s.temperature = (int{reg9} - 2721) / 10.0;
  }
  for (int i = 0; i < kStageCount; ++i) {
    const StageBits bits = BitsOf(kStages[i]);
    if (stageFlags >> bits.pickedUp & 1u) s.pickedUp |= uint16_t(1u << i);
    if (stageFlags >> bits.tripped & 1u) s.tripped |= uint16_t(1u << i);
  }
  return s;
}

void StampNow(RecordingSample& sample) {
  const auto now = system_clock::now();
  sample.pcMillis = duration_cast<milliseconds>(now.time_since_epoch()).count();
  const time_t seconds = system_clock::to_time_t(now);
  sample.utcOffsetMinutes =
      static_cast<int>(LocalTimeAt(seconds).value_or(LocalTime{}).utcOffsetSeconds / 60);
}

// ---------------------------------------------------------------------------------------------
// The format

std::string RecordingHeader() {
  std::string header =
      "time,U1 [V],U2 [V],U3 [V],f [Hz],U1 10min [V],U2 10min [V],U3 10min [V],countdown [s],"
      "temperature [\u00B0C]";
  for (const char* stage : kStageNames)
    header += std::string(",") + stage + " picked up," + stage + " tripped";
  return header + "\n";
}

std::string RecordingTime(int64_t pcMillis, int utcOffsetMinutes) {
  const int64_t local = pcMillis + int64_t{utcOffsetMinutes} * 60000;
  const int64_t days = local >= 0 ? local / 86400000 : (local - 86399999) / 86400000;
  const int64_t inDay = local - days * 86400000;
  const year_month_day date{sys_days{std::chrono::days{days}}};
  const int offset = std::abs(utcOffsetMinutes);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03d%c%02d:%02d",
                int{date.year()}, unsigned{date.month()}, unsigned{date.day()},
                static_cast<int>(inDay / 3600000), static_cast<int>(inDay / 60000 % 60),
                static_cast<int>(inDay / 1000 % 60), static_cast<int>(inDay % 1000),
                utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

std::string RecordingDay(const RecordingSample& sample) {
  return RecordingTime(sample.pcMillis, sample.utcOffsetMinutes).substr(0, 10);
}

std::string RecordingLine(const RecordingSample& s) {
  std::string line = RecordingTime(s.pcMillis, s.utcOffsetMinutes);
  line.reserve(160);
  const std::pair<double, int> values[kValueCells] = {
      {s.u[0], 1},   {s.u[1], 1},   {s.u[2], 1},      {s.f, 2},          {s.avg[0], 1},
      {s.avg[1], 1}, {s.avg[2], 1}, {s.countdown, 1}, {s.temperature, 1}};
  for (const auto& [value, decimals] : values) {
    line += ',';
    AppendNumber(line, value, decimals);
  }
  for (int i = 0; i < kStageCount; ++i) {
    line += (s.pickedUp >> i & 1u) ? ",1" : ",0";
    line += (s.tripped >> i & 1u) ? ",1" : ",0";
  }
  return line + "\n";
}

namespace {

// The lines of a file as they come: each whole line parsed once.
class LineParser {
 public:
  void Line(std::string_view line) {
    if (first_ && line == std::string_view(header_).substr(0, header_.size() - 1)) {
      first_ = false;
      return;
    }
    first_ = false;
    RecordingSample sample;
    if (!ParseLine(line, sample)) {
      ++read_.badLines;
      return;
    }
    if (sample.pcMillis < last_) ++read_.clockSteps;
    last_ = sample.pcMillis;
    read_.samples.push_back(sample);
  }
  // The whole lines of `text`; what follows the last line end is left in it.
  void Lines(std::string_view& text) {
    for (size_t end; (end = text.find('\n')) != std::string_view::npos;) {
      Line(text.substr(0, end));
      text.remove_prefix(end + 1);
    }
  }
  RecordingRead Finish(bool cutLine) {
    if (cutLine) ++read_.badLines;  // a last line without its end: cut by a kill
    return std::move(read_);
  }

 private:
  const std::string header_ = RecordingHeader();
  RecordingRead read_;
  bool first_ = true;
  int64_t last_ = INT64_MIN;
};

}  // namespace

RecordingRead ParseRecording(std::string_view text) {
  LineParser parser;
  parser.Lines(text);
  return parser.Finish(!text.empty());
}

bool ReadRecording(const std::string& path, RecordingRead& read, FileError& error,
                   const std::function<bool(uint64_t done, uint64_t size)>& progress) {
  error = {};
  const Node node = NodeAt(path, true);
  if (node.kind == NodeKind::Missing) {
    error = {FileProblem::NotFound, ENOENT};
    return false;
  }
  if (node.kind == NodeKind::Folder) {
    error = {FileProblem::IsFolder, EISDIR};
    return false;
  }
  if (node.kind != NodeKind::File) {
    error = {FileProblem::NotAFile, 0};
    return false;
  }
  OpenFile file;
  int err = 0;
  if (!file.OpenForRead(path, err)) {
    error = err == EINVAL ? FileError{FileProblem::NotAFile, 0}
                          : FileError{FileProblemOf(err, false), err};
    return false;
  }
  read = {};
  read.fileSize = file.Size();
  if (read.fileSize > kRecordingReadLimit) {  // refused unread
    error = {FileProblem::Other, EFBIG};
    return false;
  }
  // Read a piece at a time, each piece's whole lines parsed; what is left of a line waits for
  // the next piece (a file that grows meanwhile is read to the limit only).
  LineParser parser;
  std::string rest;
  std::vector<char> piece(1 << 20);
  uint64_t done = 0;
  for (;;) {
    const long n = file.Read(piece.data(), piece.size(), err);
    if (n < 0) {
      error = {FileProblemOf(err, false), err};
      return false;
    }
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
    if (done > kRecordingReadLimit) {
      error = {FileProblem::Other, EFBIG};
      read.fileSize = done;
      return false;
    }
    const bool lineEnd = std::memchr(piece.data(), '\n', static_cast<size_t>(n)) != nullptr;
    rest.append(piece.data(), static_cast<size_t>(n));
    if (lineEnd) {  // else a long line goes on: nothing to parse yet
      std::string_view text(rest);
      parser.Lines(text);
      rest.erase(0, rest.size() - text.size());
    }
    if (progress && !progress(done, std::max(done, read.fileSize))) {
      error = {FileProblem::Other, ECANCELED};
      return false;
    }
  }
  const uint64_t size = read.fileSize;
  read = parser.Finish(!rest.empty());
  read.fileSize = std::max(size, done);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Folders, configuration, the cap

std::optional<std::string> RecordingRoot(const EnvironmentLookup& env) {
  return ResolvePlaces(kThisPlatform, env).Recordings();
}

std::string RecordingFolderName(int32_t serialNumber) {
  return RelayFolderName(serialNumber, kRecordingFolderDigits);
}

RecordingConfig ReadRecordingConfig(const EnvironmentLookup& env) {
  RecordingConfig config;
  const std::optional<std::string> path = ResolvePlaces(kThisPlatform, env).RecordingConfig();
  if (!path) return config;
  config.path = *path;
  std::ifstream in(Utf8Path(config.path));
  std::string line;
  auto trimmed = [](std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return std::string_view();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
  };
  while (std::getline(in, line)) {
    const std::string_view text = trimmed(line);
    if (text.empty() || text.front() == '#') continue;
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos || trimmed(text.substr(0, equals)) != "cap-mb") {
      config.invalid = true;
      continue;
    }
    const std::string_view value = trimmed(text.substr(equals + 1));
    uint64_t mb = 0;
    const auto result = std::from_chars(value.data(), value.data() + value.size(), mb);
    if (result.ec != std::errc() || result.ptr != value.data() + value.size() || mb == 0 ||
        mb > 100'000'000) {
      config.invalid = true;
      config.capBytes = uint64_t{kDefaultCapMb} * 1000 * 1000;
      continue;
    }
    if (!config.invalid) config.capBytes = mb * 1000 * 1000;
  }
  return config;
}

bool IsRecordingFolderName(std::string_view name) {
  // Serial numbers are unsigned 32-bit: 2147483649 names a relay folder too.
  uint32_t serial = 0;
  const auto result = std::from_chars(name.data(), name.data() + name.size(), serial);
  if (result.ec == std::errc() && result.ptr == name.data() + name.size())
    return RecordingFolderName(static_cast<int32_t>(serial)) == name;
  return name == RecordingFolderName(-1);
}

bool IsDayFileName(std::string_view name) {
  int y, m, d;
  if (name.size() != 14 || name.substr(10) != ".csv" || name[4] != '-' || name[7] != '-' ||
      !ParseDigits(name, 0, 4, y) || !ParseDigits(name, 5, 2, m) || !ParseDigits(name, 8, 2, d))
    return false;
  return year_month_day{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}}
      .ok();
}

std::string RecordingToday() {
  RecordingSample now;
  StampNow(now);
  return RecordingDay(now);
}

std::vector<std::string> EnforceRecordingCap(const std::string& root, uint64_t capBytes,
                                             const std::string& keep, const std::string& today) {
  struct DayFile {
    std::string day, folder, name;
    uint64_t size;
  };
  std::vector<DayFile> files;
  uint64_t total = 0;
  // Only what this program makes is counted: folders named as it names a relay's (real ones,
  // never a link) and the regular files in them named as its day files.
  for (OwnFile& file : OwnFilesUnder(
           root, [](const std::string& name) { return IsRecordingFolderName(name); },
           [](const std::string& name) { return IsDayFileName(name); })) {
    total += file.size;
    files.push_back(
        {file.name.substr(0, 10), std::move(file.folder), std::move(file.name), file.size});
  }
  std::sort(files.begin(), files.end(), [](const DayFile& a, const DayFile& b) {
    return a.day != b.day ? a.day < b.day : a.folder > b.folder;
  });
  const std::string now = today.empty() ? RecordingToday() : today;
  std::vector<std::string> removed;
  for (const DayFile& file : files) {
    if (total <= capBytes) break;
    const std::string path = PathUnder(root, file.folder + "/" + file.name);
    if (path == keep || file.day >= now) continue;
    // Looked at again just before: still a real folder and a regular file in it.
    if (!RemoveOwnFile(root, file.folder, file.name)) continue;
    total -= std::min(total, file.size);
    removed.push_back(path);
  }
  return removed;
}

std::string RecordingRemovedMessage(const std::string& path, uint64_t capBytes) {
  return "recording cap of " + std::to_string(capBytes / 1000000) + " MB: removed " + path;
}

// ---------------------------------------------------------------------------------------------
// The writer

RecordingWriter::RecordingWriter(std::string root, uint64_t capBytes)
    : root_(std::move(root)), capBytes_(capBytes) {
  removed_ = EnforceRecordingCap(root_, capBytes_);
}

RecordingWriter::~RecordingWriter() {
  Close();
}

bool RecordingWriter::Fail(int err, bool creating) {
  error_ = {FileProblemOf(err, creating), err};
  if (error_.problem == FileProblem::None) error_.problem = FileProblem::Other;
  buffer_.clear();
  file_.Close();
  return false;
}

void RecordingWriter::Close() {
  if (!file_.IsOpen()) return;
  Flush();
  file_.Close();
}

bool RecordingWriter::Open(int32_t serialNumber, const std::string& day) {
  Close();
  if (Stopped()) return false;
  serial_ = serialNumber;
  day_ = day;
  const std::string folder = PathUnder(root_, RecordingFolderName(serialNumber));
  path_ = PathUnder(folder, day + ".csv");
  std::error_code ec;
  fs::create_directories(Utf8Path(folder), ec);
  if (ec) return Fail(ec.value(), true);
  for (std::string& removed : EnforceRecordingCap(root_, capBytes_, path_))
    removed_.push_back(std::move(removed));
  // A file, or a device written in place (a day file linked to /dev/null, to /dev/full).
  int err = 0;
  if (!file_.OpenForAppend(path_, err)) return Fail(err, err != EINVAL);
  const uint64_t size = file_.Size();
  if (size == 0) {
    buffer_ = RecordingHeader();
  } else {
    // A line cut by a kill is ended, so that the next sample starts a line of its own.
    char last = '\n';
    if (file_.ByteAt(size - 1, last) && last != '\n') buffer_ = "\n";
  }
  return true;
}

bool RecordingWriter::Append(int32_t serialNumber, const RecordingSample& sample,
                             Clock::time_point now) {
  if (Stopped()) return false;
  const std::string day = RecordingDay(sample);
  if (!file_.IsOpen() || serialNumber != serial_ || day != day_) {
    if (!Open(serialNumber, day)) return false;
    lastFlush_ = now;
  }
  buffer_ += RecordingLine(sample);
  FlushIfDue(now);
  return !Stopped();
}

void RecordingWriter::FlushIfDue(Clock::time_point now) {
  if (now - lastFlush_ < kFlushPeriod) return;
  lastFlush_ = now;
  Flush();
}

bool RecordingWriter::Flush() {
  if (Stopped()) return false;
  if (!file_.IsOpen() || buffer_.empty()) return true;
  int err = 0;
  if (!file_.Append(buffer_.data(), buffer_.size(), err)) return Fail(err, false);
  buffer_.clear();
  return true;
}

std::string RecordingStoppedText(const FileError& error) {
  switch (error.problem) {
    case FileProblem::NoSpace:
      return translate("Recording", "Záznam zastaven: disk je plný");
    case FileProblem::FolderNotWritable:
    case FileProblem::ReadOnly:
    case FileProblem::AccessDenied:
      return translate("Recording", "Záznam zastaven: nelze zapisovat");
    default:
      return translate("Recording", "Záznam zastaven: chyba zápisu");
  }
}

std::string RecordingStoppedMessage(const FileError& error, const std::string& path) {
  const char* what = error.problem == FileProblem::NoSpace ? "the disk is full"
                     : error.problem == FileProblem::FolderNotWritable ||
                             error.problem == FileProblem::ReadOnly ||
                             error.problem == FileProblem::AccessDenied
                         ? "no right to write"
                         : "write error";
  return "recording stopped: " + Why(what, error) + ": " + path;
}

}  // namespace nx480
