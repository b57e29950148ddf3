// The relay's firmware upload, driven through holding register 0x8000:
//
//   write 1   Start: upload mode; the image buffer is emptied
//   write 0   Cancel: back to normal operation, the image is dropped
//   write 2   Run (upload mode only): the relay restarts into the image; it is silent for
//             the restart time and then identifies with the name and version of the image
//   read      Status: 0 ready, 1 busy
//
// In upload mode every register write but one of 0x8000 is a data frame: 16 registers
// (function 0x10), kept in the image buffer at their register addresses. The image's name and
// version are read where the image file carries them: 16 and 8 bytes at byte 16 and byte 32 of
// the data of its first block, taken to be the block of the first data frame after Start
// (relay byte address = 2 x register address; the low byte of a register comes first).
//
// Faults for tests, each acting once: the reply of the N-th data frame after Start is lost (the
// frame is kept); the N-th and (N+1)-th data frames are refused with exception 4 (a frame and
// its repetition); the next Status read answers busy.
//
// Not thread-safe; the relay model keeps it under the relay's lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nx480::sim {

inline constexpr std::uint16_t kRegUpload = 0x8000;
inline constexpr std::uint16_t kUploadCancel = 0;
inline constexpr std::uint16_t kUploadStart = 1;
inline constexpr std::uint16_t kUploadRun = 2;
inline constexpr std::uint16_t kUploadFrameWords = 16;
inline constexpr std::uint16_t kUploadReady = 0;
inline constexpr std::uint16_t kUploadBusy = 1;

enum class UploadMode : std::uint8_t { kNormal, kReceiving, kRestarting };
const char* UploadModeName(UploadMode mode);  // "normal", "receiving", "restarting"

struct UploadFaults {
  int lose_reply_at = 0;   // data frame number (from 1 after Start) whose reply is lost; 0: none
  int refuse_at = 0;       // this data frame and the next one are refused; 0: none
  bool busy_once = false;  // the next Status read answers busy
};

class FirmwareUpload {
 public:
  using Steady = std::chrono::steady_clock;

  enum class Verdict : std::uint8_t {
    kAccepted,   // kept, acknowledged
    kLoseReply,  // kept, no reply
    kRefused,    // not kept, exception 4
    kBadFrame,   // not 16 registers: exception 3
  };

  void Start();
  void Cancel();
  // A data frame in upload mode.
  Verdict Data(std::uint16_t first, std::span<const std::uint16_t> values);
  // The value a Status read shows now.
  std::uint16_t Status();
  // Run: silent until `now + restart_time`. False outside upload mode (nothing happens).
  bool Run(Steady::time_point now, std::chrono::milliseconds restart_time);
  // True while the relay restarts at `now`.
  bool Silent(Steady::time_point now) const;
  // Once a restart is over at `now`: back to normal operation; returns the moment it ended,
  // once.
  std::optional<Steady::time_point> FinishRestart(Steady::time_point now);

  UploadMode Mode() const { return mode_; }
  int Frames() const { return frames_; }  // data frames since Start, repetitions included
  UploadFaults& Faults() { return faults_; }
  const UploadFaults& Faults() const { return faults_; }
  // The image as received (undefined registers read as 0).
  std::uint16_t Word(std::uint16_t address) const;
  bool Written(std::uint16_t address) const;
  // The texts of the image; empty when the first block did not carry one.
  std::string ImageName() const { return Text(16, 16); }
  std::string ImageVersion() const { return Text(32, 8); }

 private:
  std::uint8_t Byte(std::uint32_t address) const;
  std::string Text(std::uint32_t offset, std::uint32_t size) const;

  UploadMode mode_ = UploadMode::kNormal;
  std::vector<std::uint16_t> image_;
  std::vector<bool> written_;
  std::optional<std::uint16_t> first_frame_;
  int frames_ = 0;
  int refused_left_ = 0;
  UploadFaults faults_;
  Steady::time_point restart_end_{};
};

}  // namespace nx480::sim
