#include "journal.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>

#include "folder_calls.h"
#include "journal_basics.h"
#include "local_time.h"
#include "serial_number.h"
#include "text_codec.h"
#include "this_pc.h"

namespace nx480 {

using namespace journal_basics;

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFormat = "nx480-pc journal 1";
constexpr std::string_view kRecordName = "entry.txt";
constexpr uint64_t kMaxRecordSize = 1u << 20;
constexpr uint64_t kMaxBackupSize = 64u << 20;
constexpr std::string_view kUnknown = "unknown";
// The detail lines that hold the language-neutral texts (journal_text.h).
constexpr std::string_view kKeyedDescription = "@description ";
constexpr std::string_view kKeyedResult = "@result ";
constexpr std::string_view kKeyedDetail = "@detail ";

constexpr std::array<std::string_view, 6> kKindWords = {
    "settings", "calibration", "clock", "history-clearing", "firmware-upload", "relay-mode"};
constexpr std::array<std::string_view, 6> kOutcomeWords = {"pending", "done",    "failed",
                                                           "refused", "unknown", "not-sent"};

// ---- Text ------------------------------------------------------------------------------------

void CleanText(JournalText& text) {
  text.plain = CleanLine(text.plain);
  for (std::string& arg : text.args) arg = CleanLine(arg);
}

void CleanEntry(JournalEntry& entry) {
  for (std::string* text : {&entry.port, &entry.identification}) *text = CleanLine(*text);
  CleanText(entry.description);
  for (JournalText& result : entry.results) CleanText(result);
  for (JournalText& detail : entry.details) CleanText(detail);
}

// `text` has the form of `pattern`: 'D' a digit, 'S' a sign, anything else itself.
bool FitsPattern(std::string_view text, std::string_view pattern) {
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool fits = pattern[i] == 'D'   ? c >= '0' && c <= '9'
                      : pattern[i] == 'S' ? c == '+' || c == '-'
                                          : c == pattern[i];
    if (!fits) return false;
  }
  return true;
}

// ---- Names and times -------------------------------------------------------------------------

constexpr std::string_view kIdPattern = "DDDD-DD-DDTDD-DD-DD.DDDZ_";
constexpr std::string_view kTimePattern = "DDDD-DD-DDTDD:DD:DD.DDDSDD:DD";

// A serial number as entry.txt and a relay's folder give it: the relay's own form
// (JournalSerialText: the unsigned digits, at least six), or as older versions wrote it
// (std::to_string of the signed value, "000000" for 0), "unknown" for none (-1).
std::optional<int32_t> SerialOfText(std::string_view text) {
  if (text == kUnknown) return -1;
  int32_t serial = 0;
  if (ParseCanonical(text, serial) && serial != -1) return serial;
  uint32_t bits = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), bits);
  if (ec != std::errc() || end != text.data() + text.size() || bits == 0xFFFFFFFFu)
    return std::nullopt;
  char six[16];
  std::snprintf(six, sizeof six, "%06u", static_cast<unsigned>(bits));
  if (text == six) return static_cast<int32_t>(bits);
  return std::nullopt;
}

// The journal's one value for a relay without a serial number (HasSerialNumber): -1.
int32_t JournalSerial(int32_t serialNumber) {
  return HasSerialNumber(serialNumber) ? serialNumber : -1;
}

// The folder an entry is kept in: the one it was listed or opened from, else its relay's own;
// empty when the one it names is no folder of its relay.
std::string FolderOf(const JournalEntry& entry) {
  if (entry.relayFolder.empty()) return JournalSerialText(entry.serialNumber);
  const std::optional<int32_t> serial = SerialOfText(entry.relayFolder);
  return serial && JournalSerial(*serial) == JournalSerial(entry.serialNumber) ? entry.relayFolder
                                                                               : std::string();
}

bool IsBackupName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name[0] == '.' || name == kRecordName) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
}

// The kind an entry's folder name gives, nullopt for a name that is no entry's.
std::optional<ChangeKind> KindOfEntryId(std::string_view id) {
  if (id.size() <= kIdPattern.size() || !FitsPattern(id.substr(0, kIdPattern.size()), kIdPattern))
    return std::nullopt;
  return ChangeKindOfWord(id.substr(kIdPattern.size()));
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - (a % b < 0 ? 1 : 0);
}

std::string EntryId(int64_t ms, ChangeKind kind) {
  // The civil calendar of std::chrono: UTC on every platform, without gmtime_r.
  using namespace std::chrono;
  const sys_seconds moment{seconds{FloorDiv(ms, 1000)}};
  const sys_days date = floor<days>(moment);
  const year_month_day ymd{date};
  const hh_mm_ss<seconds> time{moment - date};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d-%02d-%02d.%03dZ_", int{ymd.year()},
                unsigned{ymd.month()}, unsigned{ymd.day()}, static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(ms - FloorDiv(ms, 1000) * 1000));
  return text + std::string(ChangeKindWord(kind));
}

std::string LocalTimeText(int64_t ms) {
  const time_t seconds = static_cast<time_t>(FloorDiv(ms, 1000));
  const LocalTime at = LocalTimeAt(seconds).value_or(LocalTime{});
  const tm& local = at.fields;
  const long offset = at.utcOffsetSeconds;
  const long minutes = (offset < 0 ? -offset : offset) / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(ms - FloorDiv(ms, 1000) * 1000),
                offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return text;
}

// The entries' milliseconds: never twice the same in this process, never below `floor`.
std::atomic<int64_t> lastMillisecond{0};
int64_t TakeMillisecond(int64_t floor) {
  using namespace std::chrono;
  const int64_t now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  int64_t last = lastMillisecond.load();
  int64_t ms = 0;
  do {
    ms = std::max({now, last + 1, floor});
  } while (!lastMillisecond.compare_exchange_weak(last, ms));
  return ms;
}

// ---- Folders and files -----------------------------------------------------------------------

// Makes the rename or folder made in `folder` durable (folder_calls.h: nothing on Windows).
bool SyncJournalFolder(const std::string& folder, FileError& error) {
  int err = 0;
  return SyncFolder(folder, err) || Fail(error, FolderProblem(err), err);
}

// The folder `path` names, and the one above it ("" for none), at its last separator.
std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of(kThisPlatform == Platform::Windows ? "/\\" : "/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

// Makes `path` and the folders on the way to it (mode 0700), each made one synced in its parent.
bool MakeFolders(const std::string& path, FileError& error) {
  const std::string separators = kThisPlatform == Platform::Windows ? "/\\" : "/";
  for (size_t end = 0; end != std::string::npos;) {
    end = path.find_first_of(separators, end + 1);
    const std::string sofar = path.substr(0, end);
    // The root, a drive ("C:") or a doubled separator: nothing to make.
    if (sofar.empty() || separators.find(sofar.back()) != std::string::npos ||
        (sofar.size() == 2 && sofar[1] == ':'))
      continue;
    const Node node = NodeAt(sofar, true);
    if (node.kind != NodeKind::Missing) {
      if (node.kind != NodeKind::Folder) return Fail(error, FileProblem::NotAFolder, ENOTDIR);
      continue;
    }
    int err = node.error;
    if (err != ENOENT) return Fail(error, FolderProblem(err), err);
    if (MakeFolder(sofar, err)) {
      if (!SyncJournalFolder(ParentOf(sofar), error)) return false;
      continue;
    }
    // Made by another program meanwhile: fine when it is a folder.
    if (err != EEXIST || NodeAt(sofar, true).kind != NodeKind::Folder)
      return Fail(error, FolderProblem(err), err);
  }
  return true;
}

// Reads a whole regular file of at most `maxSize` bytes. False with `error` when it cannot be
// read; `tooLarge` when it is larger; a file that changes size while read fails as Other.
bool ReadWholeFile(const std::string& path, uint64_t maxSize, std::vector<uint8_t>& bytes,
                   FileError& error, bool& tooLarge) {
  tooLarge = false;
  bytes.clear();
  const Node node = NodeAt(path, true);
  if (node.kind == NodeKind::Missing) {
    const int err = node.error;
    return Fail(error, err == ELOOP ? FileProblem::BrokenLink : FolderProblem(err), err);
  }
  if (node.kind == NodeKind::Folder) return Fail(error, FileProblem::IsFolder, EISDIR);
  if (node.kind != NodeKind::File) return Fail(error, FileProblem::NotAFile, 0);
  if (node.size > maxSize) {
    tooLarge = true;
    return Fail(error, FileProblem::Other, EFBIG);
  }
  bytes.resize(static_cast<size_t>(node.size) + 1);
  size_t got = 0;
  if (!ReadFileStart(path, bytes, got, error)) return false;
  if (got != static_cast<size_t>(node.size)) return Fail(error, FileProblem::Other, EAGAIN);
  bytes.resize(got);
  return true;
}

std::string ReadProblemText(const FileError& error) {
  switch (error.problem) {
    case FileProblem::NotFound:
      return "is missing";
    case FileProblem::IsFolder:
      return "is a folder";
    case FileProblem::NotAFile:
      return "is not a file";
    default:
      return "cannot be read (" + SystemErrorText(error) + ")";
  }
}

// The names of the folders in `path` whose names do not begin with a dot; none when it cannot be
// read. A link to a folder counts only when `followLinks`: a relay's folder may be a link (the
// journal writes through it, as through any link on the way to its root), an entry's folder is
// never one the journal made.
std::vector<std::string> SubFolders(const std::string& path, bool followLinks) {
  std::vector<std::string> names, all;
  int err = 0;
  if (!FolderNames(path, all, err)) return names;
  for (std::string& name : all) {
    if (name.empty() || name[0] == '.') continue;
    if (NodeAt(path + "/" + name, followLinks).kind == NodeKind::Folder)
      names.push_back(std::move(name));
  }
  return names;
}

// ---- entry.txt -------------------------------------------------------------------------------

std::string RecordText(const JournalEntry& entry) {
  std::string text;
  const auto line = [&text](std::string_view key, std::string_view value) {
    text.append(key).append(":");
    if (!value.empty()) text.append(" ").append(value);
    text += '\n';
  };
  line("format", kFormat);
  line("time", entry.time);
  line("user", entry.user);
  line("host", entry.host);
  line("port", entry.port);
  line("identification", entry.identification);
  line("serial number", JournalSerialText(entry.serialNumber));
  line("firmware", entry.firmware < 0 ? std::string(kUnknown) : std::to_string(entry.firmware));
  line("change", ChangeKindWord(entry.kind));
  line("description", JournalDescription(entry, TextLanguage::English));
  line("outcome", JournalOutcomeWord(entry.outcome));
  for (const JournalText& detail : entry.details)
    line("detail", RenderJournalText(detail, TextLanguage::English));
  // The same texts language-neutral, after the lines an older reader shows.
  if (!entry.description.key.empty())
    line("detail", std::string(kKeyedDescription) + EncodeJournalText(entry.description));
  for (const JournalText& result : entry.results) {
    if (!result.key.empty()) line("detail", std::string(kKeyedResult) + EncodeJournalText(result));
  }
  for (size_t i = 0; i < entry.details.size(); ++i) {
    if (!entry.details[i].key.empty())
      line("detail", std::string(kKeyedDetail) + std::to_string(i) + " " +
                         EncodeJournalText(entry.details[i]));
  }
  for (const JournalBackup& backup : entry.backups) {
    line("file",
         backup.name + ", " + std::to_string(backup.size) + " bytes, CRC-32 " + Hex8(backup.crc32));
  }
  line("checksum", Hex8(Crc32(BytesOf(text))));
  return text;
}

bool ParseFileLine(std::string_view value, JournalBackup& backup) {
  const size_t comma = value.find(", ");
  if (comma == std::string_view::npos || !IsBackupName(value.substr(0, comma))) return false;
  backup.name = std::string(value.substr(0, comma));
  const std::string_view rest = value.substr(comma + 2);
  const size_t space = rest.find(' ');
  constexpr std::string_view kMiddle = " bytes, CRC-32 ";
  if (space == std::string_view::npos || !ParseCanonical(rest.substr(0, space), backup.size) ||
      backup.size > kMaxBackupSize || rest.size() != space + kMiddle.size() + 8 ||
      rest.substr(space, kMiddle.size()) != kMiddle)
    return false;
  return ParseHex(rest.substr(space + kMiddle.size()), true, backup.crc32);
}

// The entry's description, results and details from entry.txt's description line and detail
// lines: the language-neutral lines where they hold texts of known wordings, else the English
// lines as they stand (an older entry, a wording of a later version). A language-neutral line
// that is not one stays a detail line.
void TakeTexts(std::string_view descriptionLine, const std::vector<std::string>& lines,
               JournalEntry& entry) {
  std::optional<JournalText> description;
  std::vector<JournalText> results;
  bool resultsKnown = true;
  std::vector<std::pair<size_t, JournalText>> keyed;
  std::vector<std::string> plain;
  for (const std::string& line : lines) {
    const std::string_view text = line;
    JournalText decoded;
    if (text.starts_with(kKeyedDescription) &&
        DecodeJournalText(text.substr(kKeyedDescription.size()), decoded)) {
      description = std::move(decoded);
    } else if (text.starts_with(kKeyedResult) &&
               DecodeJournalText(text.substr(kKeyedResult.size()), decoded)) {
      resultsKnown = resultsKnown && JournalWordingKnown(decoded.key, decoded.args.size());
      results.push_back(std::move(decoded));
    } else if (const size_t space = text.find(' ', kKeyedDetail.size());
               text.starts_with(kKeyedDetail) && space != std::string_view::npos) {
      size_t index = 0;
      if (ParseCanonical(text.substr(kKeyedDetail.size(), space - kKeyedDetail.size()), index) &&
          DecodeJournalText(text.substr(space + 1), decoded)) {
        keyed.emplace_back(index, std::move(decoded));
      } else {
        plain.push_back(line);
      }
    } else {
      plain.push_back(line);
    }
  }
  if (description && resultsKnown &&
      JournalWordingKnown(description->key, description->args.size())) {
    entry.description = std::move(*description);
    entry.results = std::move(results);
  } else {
    entry.description = Plain(std::string(descriptionLine));
  }
  for (const std::string& line : plain) entry.details.push_back(Plain(line));
  for (auto& [index, text] : keyed) {
    if (index < entry.details.size() && JournalWordingKnown(text.key, text.args.size()))
      entry.details[index] = std::move(text);
  }
}

// Reads entry.txt into `entry`; false with `why` when it is not a whole record of this format.
bool ParseRecord(std::string_view text, JournalEntry& entry, std::string& why) {
  if (text.empty()) return Why(why, "entry.txt is empty");
  if (text.back() != '\n') return Why(why, "entry.txt does not end with a whole line");
  const size_t last = text.rfind('\n', text.size() - 2);
  const size_t checksumStart = last == std::string_view::npos ? 0 : last + 1;
  const std::string_view checksumLine = text.substr(checksumStart);
  uint32_t checksum = 0;
  if (checksumLine.substr(0, 10) != "checksum: " || checksumLine.size() != 19 ||
      !ParseHex(checksumLine.substr(10, 8), true, checksum))
    return Why(why, "entry.txt has no checksum line at its end");
  const std::string_view body = text.substr(0, checksumStart);
  if (Crc32(BytesOf(body)) != checksum) return Why(why, "entry.txt fails its checksum");

  constexpr std::array<std::string_view, 11> kSingle = {
      "format",        "time",     "user",   "host",        "port",   "identification",
      "serial number", "firmware", "change", "description", "outcome"};
  std::array<std::optional<std::string_view>, kSingle.size()> single{};
  std::vector<std::string> details;
  entry.details.clear();
  entry.results.clear();
  entry.backups.clear();
  size_t lineNumber = 0;
  for (size_t start = 0; start < body.size();) {
    const size_t end = body.find('\n', start);
    const std::string_view line = body.substr(start, end - start);
    start = end + 1;
    const std::string where = "line " + std::to_string(++lineNumber) + " of entry.txt";
    if (CleanLine(line) != line) return Why(why, where + " is not clean UTF-8 text");
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return Why(why, where + " has no key");
    const std::string_view key = line.substr(0, colon);
    std::string_view value = line.substr(colon + 1);
    if (!value.empty() && value[0] != ' ') return Why(why, where + " has no space after the key");
    if (!value.empty()) value.remove_prefix(1);
    if (key == "detail") {
      details.emplace_back(value);
    } else if (key == "file") {
      JournalBackup backup;
      if (!ParseFileLine(value, backup)) return Why(why, where + " is no file line");
      for (const JournalBackup& other : entry.backups) {
        if (other.name == backup.name) return Why(why, where + " names a file again");
      }
      entry.backups.push_back(std::move(backup));
    } else {
      const auto known = std::find(kSingle.begin(), kSingle.end(), key);
      if (known == kSingle.end()) return Why(why, where + " has an unknown key");
      auto& slot = single[static_cast<size_t>(known - kSingle.begin())];
      if (slot) return Why(why, where + " gives \"" + std::string(key) + "\" again");
      slot = value;
    }
  }
  for (size_t k = 0; k < kSingle.size(); ++k) {
    if (!single[k]) return Why(why, "entry.txt has no \"" + std::string(kSingle[k]) + "\"");
  }
  const auto value = [&single](size_t k) { return *single[k]; };
  if (value(0) != kFormat) return Why(why, "entry.txt is of an unknown format");
  if (!FitsPattern(value(1), kTimePattern)) return Why(why, "entry.txt has no valid time");
  entry.time = value(1);
  entry.user = value(2);
  entry.host = value(3);
  entry.port = value(4);
  entry.identification = value(5);
  const std::optional<int32_t> serial = SerialOfText(value(6));
  if (!serial) return Why(why, "entry.txt has no valid serial number");
  entry.serialNumber = *serial;
  if (value(7) == kUnknown) {
    entry.firmware = -1;
  } else if (!ParseCanonical(value(7), entry.firmware) || entry.firmware < 0) {
    return Why(why, "entry.txt has no valid firmware number");
  }
  const std::optional<ChangeKind> kind = ChangeKindOfWord(value(8));
  if (!kind) return Why(why, "entry.txt names an unknown change");
  entry.kind = *kind;
  TakeTexts(value(9), details, entry);
  const auto outcome = std::find(kOutcomeWords.begin(), kOutcomeWords.end(), value(10));
  if (outcome == kOutcomeWords.end()) return Why(why, "entry.txt names an unknown outcome");
  entry.outcome = static_cast<JournalOutcome>(outcome - kOutcomeWords.begin());
  return true;
}

// An entry as its folder holds it, checked.
JournalEntry ReadEntry(const std::string& root, const std::string& relayFolder,
                       int32_t serialNumber, const std::string& id) {
  JournalEntry entry;
  entry.id = id;
  entry.relayFolder = relayFolder;
  const auto damaged = [&entry](std::string why) {
    entry.damaged = true;
    entry.damage = std::move(why);
    return entry;
  };
  const std::optional<ChangeKind> folderKind = KindOfEntryId(id);
  if (folderKind) entry.kind = *folderKind;
  const std::string folder = root + "/" + relayFolder + "/" + id;

  std::vector<uint8_t> bytes;
  FileError error;
  bool tooLarge = false;
  if (!ReadWholeFile(folder + "/" + std::string(kRecordName), kMaxRecordSize, bytes, error,
                     tooLarge)) {
    entry.serialNumber = serialNumber;
    if (tooLarge) return damaged("entry.txt is larger than 1 MiB");
    return damaged("entry.txt " + ReadProblemText(error));
  }
  std::string why;
  const bool parsed = ParseRecord(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), entry, why);
  const int32_t recorded = entry.serialNumber;
  entry.serialNumber = serialNumber;  // where it is kept, whatever it says
  if (!parsed) return damaged(why);
  if (!folderKind) return damaged("the folder's name is not an entry's");
  if (*folderKind != entry.kind) return damaged("entry.txt names another change than its folder");
  if (recorded != serialNumber) return damaged("entry.txt names another relay than its folder");

  for (const JournalBackup& backup : entry.backups) {
    if (!ReadWholeFile(folder + "/" + backup.name, backup.size, bytes, error, tooLarge)) {
      if (tooLarge) return damaged(backup.name + " is larger than entry.txt says");
      return damaged(backup.name + " " + ReadProblemText(error));
    }
    if (bytes.size() != backup.size)
      return damaged(backup.name + " is shorter than entry.txt says");
    if (Crc32(bytes) != backup.crc32) return damaged(backup.name + " fails its checksum");
  }
  return entry;
}

}  // namespace

// ---- Interface -------------------------------------------------------------------------------

std::string_view ChangeKindWord(ChangeKind kind) {
  return kKindWords.at(static_cast<size_t>(kind));
}

std::optional<ChangeKind> ChangeKindOfWord(std::string_view word) {
  const auto found = std::find(kKindWords.begin(), kKindWords.end(), word);
  if (found == kKindWords.end()) return std::nullopt;
  return static_cast<ChangeKind>(found - kKindWords.begin());
}

std::string_view JournalOutcomeWord(JournalOutcome outcome) {
  return kOutcomeWords.at(static_cast<size_t>(outcome));
}

namespace {

// The number of `length` digits at text[at], or -1.
int DigitsAt(std::string_view text, size_t at, size_t length) {
  if (at + length > text.size()) return -1;
  int value = 0;
  const char* first = text.data() + at;
  const auto [end, ec] = std::from_chars(first, first + length, value);
  return ec == std::errc() && end == first + length ? value : -1;
}

// "YYYY-MM-DD?hh?mm?ss" at the start of `text`, the separators as given, as seconds since 1970
// of a clock at UTC; nothing for another text or a date that is not in the calendar.
std::optional<int64_t> SecondsAt(std::string_view text, char dateTime, char timeSeparator) {
  if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != dateTime ||
      text[13] != timeSeparator || text[16] != timeSeparator)
    return std::nullopt;
  const int year = DigitsAt(text, 0, 4), month = DigitsAt(text, 5, 2), day = DigitsAt(text, 8, 2);
  const int hour = DigitsAt(text, 11, 2), minute = DigitsAt(text, 14, 2);
  const int second = DigitsAt(text, 17, 2);
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59)
    return std::nullopt;
  // As timegm would count it, on every platform.
  using namespace std::chrono;
  const sys_days date{std::chrono::year{year} / month / day};
  return date.time_since_epoch().count() * int64_t{86400} + hour * 3600 + minute * 60 + second;
}

}  // namespace

std::optional<int64_t> JournalEntryTime(const JournalEntry& entry) {
  // "2026-12-09T23:15:02.123+01:00"
  const std::string_view time = entry.time;
  if (const std::optional<int64_t> local = SecondsAt(time, 'T', ':');
      local && time.size() == 29 && time[19] == '.' && DigitsAt(time, 20, 3) >= 0 &&
      (time[23] == '+' || time[23] == '-') && time[26] == ':') {
    const int hours = DigitsAt(time, 24, 2), minutes = DigitsAt(time, 27, 2);
    if (hours >= 0 && hours < 24 && minutes >= 0 && minutes < 60)
      return *local - (time[23] == '-' ? -60 : 60) * (hours * 60 + minutes);
  }
  // The folder's name: "2026-12-09T22-15-02.123Z_settings".
  const std::string_view id = entry.id;
  if (id.size() < 25 || id[19] != '.' || DigitsAt(id, 20, 3) < 0 || id.substr(23, 2) != "Z_")
    return std::nullopt;
  return SecondsAt(id, 'T', '-');
}

std::string JournalSerialText(int32_t serialNumber) {
  return RelayFolderName(serialNumber, kJournalFolderDigits);
}

std::string JournalEntryName(const JournalEntry& entry) {
  return JournalSerialText(entry.serialNumber) + "/" + entry.id;
}

std::string JournalDescription(const JournalEntry& entry, TextLanguage language) {
  std::string text = RenderJournalText(entry.description, language);
  if (!entry.results.empty()) text += ": " + RenderJournalTexts(entry.results, language);
  return text;
}

std::vector<std::string> RelayFolders(int32_t serialNumber) {
  std::vector<std::string> folders{JournalSerialText(serialNumber)};
  if (HasSerialNumber(serialNumber) && std::to_string(serialNumber) != folders[0])
    folders.push_back(std::to_string(serialNumber));
  return folders;
}

JournalEntry NewJournalEntry(const RelaySession& session, ChangeKind kind,
                             JournalText description) {
  JournalEntry entry;
  entry.kind = kind;
  entry.description = std::move(description);
  entry.port = session.port;
  entry.identification = Cp1250ToUtf8(session.identText);
  entry.serialNumber = session.serialNumber;
  entry.firmware = session.identText.empty() ? -1 : session.firmware.minor;
  return entry;
}

bool OpenJournalEntry(const std::string& root, JournalEntry& entry, FileError& error) {
  for (size_t i = 0; i < entry.backups.size(); ++i) {
    const JournalBackup& backup = entry.backups[i];
    if (!IsBackupName(backup.name)) return Fail(error, FileProblem::Other, EINVAL);
    for (size_t k = 0; k < i; ++k) {
      if (entry.backups[k].name == backup.name) return Fail(error, FileProblem::Other, EINVAL);
    }
    if (backup.bytes.size() > kMaxBackupSize) return Fail(error, FileProblem::Other, EFBIG);
  }
  if (root.empty()) return Fail(error, FileProblem::NotFound, ENOENT);
  CleanEntry(entry);
  entry.user = CleanLine(ThisPcUser());
  entry.host = CleanLine(ThisPcHost());
  entry.outcome = JournalOutcome::Pending;
  entry.damaged = false;
  entry.damage.clear();
  for (JournalBackup& backup : entry.backups) {
    backup.size = backup.bytes.size();
    backup.crc32 = Crc32(backup.bytes);
  }

  entry.serialNumber = JournalSerial(entry.serialNumber);
  entry.relayFolder = JournalSerialText(entry.serialNumber);
  const std::string relay = JoinPath(root, entry.relayFolder);
  if (!MakeFolders(relay, error)) return false;
  // The entry's own folder: a millisecond of its own, the next one when another program took it.
  std::string id;
  int64_t floor = 0;
  for (int attempt = 0;; ++attempt) {
    if (attempt == 1000) return Fail(error, FileProblem::Other, EEXIST);
    const int64_t ms = TakeMillisecond(floor);
    id = EntryId(ms, entry.kind);
    floor = ms + 1;
    int err = 0;
    if (MakeFolder(relay + "/" + id, err)) {
      // Its name is the relay's alone: not taken in the folder an older version named it by.
      const std::vector<std::string> folders = RelayFolders(entry.serialNumber);
      if (std::any_of(folders.begin() + 1, folders.end(), [&](const std::string& other) {
            return NodeAt(JoinPath(root, other) + "/" + id, false).kind != NodeKind::Missing;
          })) {
        RemoveEmptyFolder(relay + "/" + id);
        continue;
      }
      entry.time = LocalTimeText(ms);
      break;
    }
    if (err != EEXIST) return Fail(error, FolderProblem(err), err);
  }
  const std::string folder = relay + "/" + id;
  const auto undo = [&folder] {
    std::error_code ignored;
    fs::remove_all(Utf8Path(folder), ignored);
    return false;
  };
  if (!SyncJournalFolder(relay, error)) return undo();
  // The backups first, then the record that names them: an entry.txt on disk is a whole entry.
  for (const JournalBackup& backup : entry.backups) {
    if (!WriteFileAtomically(folder + "/" + backup.name, backup.bytes, error)) return undo();
  }
  entry.id = id;
  if (!WriteFileAtomically(folder + "/" + std::string(kRecordName), BytesOf(RecordText(entry)),
                           error)) {
    entry.id.clear();
    return undo();
  }
  return true;
}

bool CloseJournalEntry(const std::string& root, JournalEntry& entry, FileError& error) {
  if (entry.damaged) return Fail(error, FileProblem::Other, EBADMSG);
  if (!KindOfEntryId(entry.id) || FolderOf(entry).empty())
    return Fail(error, FileProblem::NotFound, ENOENT);
  const std::string path =
      root + "/" + FolderOf(entry) + "/" + entry.id + "/" + std::string(kRecordName);
  if (NodeAt(path, false).kind != NodeKind::File) return Fail(error, FileProblem::NotFound, ENOENT);
  CleanEntry(entry);
  // A disk that failed once (a stick pulled and put back, a network home that blinked) is given
  // a second try before the entry is left pending.
  const std::string text = RecordText(entry);
  return WriteFileAtomically(path, BytesOf(text), error) ||
         WriteFileAtomically(path, BytesOf(text), error);
}

std::vector<JournalEntry> ListJournal(const std::string& root,
                                      std::optional<int32_t> serialNumber) {
  std::vector<std::pair<int32_t, std::string>> relays;
  if (serialNumber) {
    const int32_t serial = JournalSerial(*serialNumber);
    for (std::string& name : RelayFolders(serial)) relays.emplace_back(serial, name);
  } else {
    for (std::string& name : SubFolders(root, true)) {
      if (const std::optional<int32_t> serial = SerialOfText(name))
        relays.emplace_back(*serial, std::move(name));
    }
  }
  std::vector<JournalEntry> entries;
  for (const auto& [serial, name] : relays) {
    for (const std::string& id : SubFolders(root + "/" + name, false))
      entries.push_back(ReadEntry(root, name, serial, id));
  }
  std::sort(entries.begin(), entries.end(), [](const JournalEntry& a, const JournalEntry& b) {
    if (a.id != b.id) return a.id > b.id;
    if (a.serialNumber != b.serialNumber) return a.serialNumber < b.serialNumber;
    return a.relayFolder < b.relayFolder;
  });
  return entries;
}

bool ReadJournalBackup(const std::string& root, const JournalEntry& entry, std::string_view name,
                       std::vector<uint8_t>& bytes, FileError& error) {
  bytes.clear();
  if (entry.damaged) return Fail(error, FileProblem::Other, EBADMSG);
  const auto backup = std::find_if(entry.backups.begin(), entry.backups.end(),
                                   [name](const JournalBackup& b) { return b.name == name; });
  if (backup == entry.backups.end() || !IsBackupName(name) || !KindOfEntryId(entry.id) ||
      FolderOf(entry).empty())
    return Fail(error, FileProblem::NotFound, ENOENT);
  const std::string path = root + "/" + FolderOf(entry) + "/" + entry.id + "/" + backup->name;
  std::vector<uint8_t> read;
  bool tooLarge = false;
  if (!ReadWholeFile(path, backup->size, read, error, tooLarge)) {
    return tooLarge ? Fail(error, FileProblem::Other, EBADMSG) : false;
  }
  if (read.size() != backup->size || Crc32(read) != backup->crc32)
    return Fail(error, FileProblem::Other, EBADMSG);
  bytes = std::move(read);
  return true;
}

}  // namespace nx480