// The firmware upload: the image goes into the relay through its upload control register,
// holding register 0x8000 (Start = 1, Run = 2, Cancel = 0; a read is the Status, 0 ready).
//
// Wire, for an image of B blocks:
//   backup                    identification, registers 0-7 and 8-23 (the settings), in service
//                             mode registers 0x18-0x1F (the calibration): what the upload
//                             replaces, handed to JournalBefore; nothing more without its yes
//   Start                     write 0x8000 := 1, acknowledged with the request's echo
//   8 x B data frames         block b, slice k (k = 0..7): 16 registers at
//                             (block address + 32 k) / 2, the block's data bytes 4 + 32 k ..
//                             35 + 32 k as 16 words (each stored low byte first in the file, so
//                             sent with its two bytes exchanged); 5 ms before each reply is
//                             read; a bad reply is answered by one repeat after a drain
//   Status                    read 0x8000: value 0 (low byte) goes on; else one more read after
//                             a drain, whose value is not examined
//   Run                       write 0x8000 := 2, 100 ms before and after it, no reply
//   identification            the restarting relay, up to 100 times, 100 ms apart, until it
//                             answers; then its serial number (the calibration read) and
//                             its settings (registers 0-7, 8-23), compared with the backup's
//
// Between blocks the upload ends when the window raised its abort flag or the worker is asked to
// pause (a disconnect, the program closing): the relay is then told to Cancel. After Run the
// same two end the waiting for the restarted relay, between its attempts. Progress is
// reported for every data frame: within a block during the next frame's 5 ms pause (which the
// report's time shortens, so it costs the line nothing), for the block's last frame before the
// abort flag is looked at.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "calibration_words.h"
#include "image_file.h"
#include "journal_changes.h"
#include "link_error.h"
#include "settings_words.h"

namespace nx480 {

class TModbus;

// What an upload replaces, read from the relay right before Start.
struct UploadBackup {
  std::string identText;  // its identification text, as the relay sends it
  SettingsWords settings{};
  std::optional<CalibrationWords> calibration;  // read in service mode only
};

// The relay after its restart into the new firmware.
struct RestartedRelay {
  std::string identText;      // its identification text, as the relay sends it
  int32_t serialNumber = -1;  // -1 when it could not be read
  // Its settings read again (registers 0-23) once it identified itself; nullopt when that read
  // failed.
  std::optional<SettingsWords> settings;
  // The names of what the new firmware changed in them against the backup (DifferingNames);
  // empty when nothing, or when they were not read.
  std::vector<std::string> changed;
};

// The upload page as the transaction sees it. ImageToSend() and AbortRaised() are called on the
// worker thread; the other operations run on the user-interface thread through
// TModbus::Synchronize, while the worker waits.
class UploadWindow {
 public:
  // Worker thread, while the upload request is set: the image, checked, of whole blocks. The
  // window does not touch it until the request is cleared.
  virtual std::span<const uint8_t> ImageToSend() const = 0;
  // Worker thread, between blocks and between the attempts to identify the restarted relay: the
  // user asked for the upload, or the waiting for the relay, to stop.
  virtual bool AbortRaised() const = 0;
  // Bytes of the image sent so far (262 b + 4 + 32 k after slice k of block b; the image length
  // once the relay has reported ready).
  virtual void ShowUploadProgress(uint32_t bytes) = 0;
  // The upload ended without success: `error` is that of the exchange or wait that ended it
  // (an exception reply: the relay refused a frame); None when the abort flag or a pause ended
  // it between exchanges, or JournalBefore said no.
  virtual void UploadFailed(LinkError error) = 0;
  // Run was sent: the relay restarts into the new firmware, and the worker waits for it.
  virtual void UploadRestarting() = 0;
  // The end of a successful upload: the restarted relay, or nothing when it did not identify
  // itself within the attempts or the waiting was stopped.
  virtual void UploadSucceeded(const std::optional<RestartedRelay>& relay) = 0;
  // Before Start: what the relay holds right now. Keeps it (the change journal), or asks
  // whether to go on without; false: nothing is sent, and the upload ends with
  // UploadFailed(None).
  virtual bool JournalBefore(const UploadBackup& backup) = 0;
  // Every end after JournalBefore let the upload go (and any end through AbortUpload), in the
  // step of its completion and before it, after the Cancel that ends a failed upload: how it
  // ended for the journal (UploadEnd: not-sent when the abort flag or a pause came before Start;
  // failed or refused, at which step, after how many blocks, and what became of the Cancel; done
  // with the restarted relay, unknown when it did not identify itself).
  virtual void JournalAfter(const UploadEnd& end, const std::optional<RestartedRelay>& relay) = 0;

 protected:
  ~UploadWindow() = default;
};

inline constexpr int kIdentifyAttempts = 100;
inline constexpr std::chrono::milliseconds kIdentifyPause{100};

// The upload transaction (worker thread, for the upload request). Ends with exactly one of the
// two completions; a success with UploadRestarting() before it, once Run has gone out. First the
// backup is read; a failed read ends it with the read's error, after a drain, before Start.
// JournalBefore decides whether Start goes out; an abort flag or a pause raised meanwhile ends it
// there as well. A Start that is not acknowledged ends it after a drain, without Cancel; a data
// frame unanswered twice, a Status unanswered twice, a raised abort flag or a pause end it with
// a Cancel, as AbortUpload does, the entry told the step and the blocks acknowledged. An abort
// raised before the backup (the request waited while the user stopped it) ends it before anything
// is sent. A Run that could not be written (the device gone, the port closed) ends it as failed
// (DeviceGone, PortClosed): the relay is left in upload mode with its old firmware, and nothing
// could tell it to cancel. After Run the relay is identified up to `identifyAttempts` times,
// kIdentifyPause apart (a wait that a pause cuts short); a raised abort flag, a pause or a gone
// device end the attempts. The identified relay's settings are read and compared with the backup's
// (a failed read is drained, and the upload is still a success).
void UploadFirmware(TModbus& link, UploadWindow& window, int identifyAttempts = kIdentifyAttempts);

// Ends an upload unsuccessfully once the relay is in upload mode (the request's failure report,
// when a step threw): Cancel (its reply read and not judged beyond the entry's word on it; the
// input drained when it is not a good one), then JournalAfter (refused after an exception reply,
// else failed; the step unknown) and the failure completion.
void AbortUpload(TModbus& link, UploadWindow& window);

}  // namespace nx480
