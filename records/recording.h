// The recording: every live snapshot kept while a relay is connected, one CSV file per relay and
// day. No Qt.
//
// Files: <root>/<serial number>/<YYYY-MM-DD>.csv, root $XDG_DATA_HOME/nx480-pc/recordings (else
// ~/.local/share/nx480-pc/recordings), the folder "unknown" for a relay without a serial number,
// the date the PC's local date of the samples. UTF-8, LF line ends, "," between the cells, a
// decimal point. One header line (RecordingHeader), then one line per sample:
//
//   time                      2026-12-10T14:03:07.250+01:00 (the PC's local time and offset)
//   U1 [V] U2 [V] U3 [V]      one decimal
//   f [Hz]                    two decimals
//   U1..U3 10min [V]          one decimal; empty where the firmware has no 10-minute averages
//   countdown [s]             one decimal; 0 when no reconnection countdown runs
//   temperature [C]           one decimal; empty where the relay has none
//   <stage> picked up, <stage> tripped    0 or 1, for Uu1 Uu2 Uo1 Uo2 Uo3 Fu1 Fu2 Fo1 Fo2
//
// A day file is only ever appended to (the one exception to the atomic writer: a log that a
// rename would have to copy every few seconds). The writer keeps what it has not written in a
// buffer that goes to the file at least every 2 s, so a killed program loses a few seconds at
// most; the reader skips (and counts) the line such a kill may leave cut.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "atomic_file.h"
#include "folder_calls.h"
#include "live_image.h"
#include "places.h"
#include "recording_sample.h"

namespace nx480 {

// ---- A sample from a live snapshot ----

// The values of one good snapshot in units, at the finest resolution the firmware delivers
// (tenths of a volt where it has them, whatever the window's 0,1 V box says); the frequency the
// mean of its two readings as the window shows it; the temperature only where the window would
// show one (the relay variant with a temperature, or a firmware whose box comes up by itself).
// The time is left 0: StampNow sets it.
RecordingSample SampleOf(const LiveImage& image, uint32_t stageFlags, bool hasTemperature);

// The PC's time now (milliseconds since 1970 UTC) and its present offset from UTC.
void StampNow(RecordingSample& sample);

// ---- The file format ----

std::string RecordingHeader();                             // with its "\n"
std::string RecordingLine(const RecordingSample& sample);  // with its "\n"
// "2026-12-10T14:03:07.250+01:00"; the local date part "2026-12-10" is the day file's name.
std::string RecordingTime(int64_t pcMillis, int utcOffsetMinutes);
std::string RecordingDay(const RecordingSample& sample);

struct RecordingRead {
  std::vector<RecordingSample> samples;  // in the file's order
  int badLines = 0;    // cut, wrong number of cells, a value or time that does not parse, a header
                       // other than this program's
  int clockSteps = 0;  // samples earlier than the one before: the PC's clock was set back (they
                       // are kept; ClockStepLine in trend.h places them for the plot)
  uint64_t fileSize = 0;  // ReadRecording's file
};
// Parses a file's text; never throws. A last line without its line end is one a kill cut off.
RecordingRead ParseRecording(std::string_view text);

// The largest file ReadRecording reads: well above a day file's size (a day at 5 samples a
// second takes about 45 MB).
inline constexpr uint64_t kRecordingReadLimit = uint64_t{64} * 1000 * 1000;
// Reads and parses the day file `path` (a regular file only) a piece at a time. A file larger
// than kRecordingReadLimit is refused unread: false, error {Other, EFBIG}, read.fileSize its
// size. `progress`, when given, is told the bytes read of the file's size after each piece;
// false from it ends the read (false, error {Other, ECANCELED}). Any thread may call it.
bool ReadRecording(const std::string& path, RecordingRead& read, FileError& error,
                   const std::function<bool(uint64_t done, uint64_t size)>& progress = {});

// ---- Where the files are, the disk cap ----

// The recordings' folder in the data folder (places.h): $XDG_DATA_HOME/nx480-pc/recordings, else
// $HOME/.local/share/nx480-pc/recordings (Windows: %LOCALAPPDATA%\nx480-pc\recordings);
// nullopt when there is no data folder.
std::optional<std::string> RecordingRoot(const EnvironmentLookup& env = ProcessEnvironment);
// "1234", "unknown" for -1: RelayFolderName with kRecordingFolderDigits.
std::string RecordingFolderName(int32_t serialNumber);

inline constexpr int kDefaultCapMb = 500;
struct RecordingConfig {
  uint64_t capBytes = uint64_t{kDefaultCapMb} * 1000 * 1000;
  std::string path;      // the configuration file asked
  bool invalid = false;  // the file has a cap-mb line that is no whole number from 1 on (or a
                         // line that is none of its settings): the default applies
};
// recording.conf in the configuration folder (places.h: $XDG_CONFIG_HOME/nx480-pc, else
// ~/.config/nx480-pc; Windows: %APPDATA%\nx480-pc): "cap-mb = N", N megabytes
// (10^6 bytes); blank lines and lines starting with "#" are ignored. No file: the default.
RecordingConfig ReadRecordingConfig(const EnvironmentLookup& env = ProcessEnvironment);

// What the cap counts and removes is only what this program makes: the folders named as
// RecordingFolderName names a relay's (real folders, never a link), and in them the regular
// files (never a link) named as a day file, "YYYY-MM-DD.csv" with a valid date.
bool IsRecordingFolderName(std::string_view name);
bool IsDayFileName(std::string_view name);
std::string RecordingToday();  // the PC's local date, "2026-12-10"

// Removes the oldest day files (by their date, across all relays' folders; among files of the
// same day the larger serial folder name first) until the day files under `root` take at most
// `capBytes`. `keep` (the file being written) and the files of `today` (empty: the PC's date) or
// later are never removed. Returns the removed paths.
std::vector<std::string> EnforceRecordingCap(const std::string& root, uint64_t capBytes,
                                             const std::string& keep = {},
                                             const std::string& today = {});
// nx480ctl's line for a removed day file: "recording cap of 500 MB: removed <path>".
std::string RecordingRemovedMessage(const std::string& path, uint64_t capBytes);

// ---- The writer ----

class RecordingWriter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFlushPeriod{2000};

  RecordingWriter(std::string root, uint64_t capBytes);
  ~RecordingWriter();  // flushes
  RecordingWriter(const RecordingWriter&) = delete;
  RecordingWriter& operator=(const RecordingWriter&) = delete;

  // Appends a sample of relay `serialNumber`: to its day file (a new one, after the cap was
  // enforced, for a new day or another relay; the header into a new or empty file). The buffer
  // goes to the file when kFlushPeriod has passed since it last did. False once stopped.
  bool Append(int32_t serialNumber, const RecordingSample& sample, Clock::time_point now);
  bool Append(int32_t serialNumber, const RecordingSample& sample) {
    return Append(serialNumber, sample, Clock::now());
  }
  // Writes the buffer if kFlushPeriod has passed (the callers' timers call it between samples).
  void FlushIfDue(Clock::time_point now);
  void FlushIfDue() { FlushIfDue(Clock::now()); }
  bool Flush();

  // After a failed open or write (full disk, too large a file, no rights) the writer writes
  // nothing more; Error() says why, Path() names the file.
  bool Stopped() const { return error_.problem != FileProblem::None; }
  const FileError& Error() const { return error_; }
  const std::string& Path() const { return path_; }
  // The day files the cap removed since the last call (at the start and at each new file).
  std::vector<std::string> TakeRemoved() { return std::exchange(removed_, {}); }
  uint64_t CapBytes() const { return capBytes_; }

 private:
  bool Open(int32_t serialNumber, const std::string& day);
  void Close();
  bool Fail(int err, bool creating);

  std::string root_;
  uint64_t capBytes_;
  OpenFile file_;
  int32_t serial_ = 0;
  std::string day_;
  std::string path_;
  std::string buffer_;
  Clock::time_point lastFlush_{};
  FileError error_;
  std::vector<std::string> removed_;
};

// The window's notice ("Záznam zastaven: disk je plný") and nx480ctl's message
// ("recording stopped: the disk is full (No space left on device): <path>").
std::string RecordingStoppedText(const FileError& error);
std::string RecordingStoppedMessage(const FileError& error, const std::string& path);

}  // namespace nx480
