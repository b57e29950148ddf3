#include "upload_transaction.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>

#include "calibration_transactions.h"
#include "frames.h"
#include "modbus.h"
#include "settings_transactions.h"

namespace nx480 {

namespace {

using namespace std::chrono_literals;

constexpr int kSlicesPerBlock = 8;
constexpr size_t kSliceBytes = kImageBlockData / kSlicesPerBlock;  // 32
constexpr size_t kSliceWords = kSliceBytes / 2;                    // 16
constexpr auto kReplyPause = 5ms;                                  // after each data frame
constexpr auto kRepeatPause = 50ms;  // after the drain, and again after the repeat
constexpr auto kStatusPause = 20ms;  // before the second Status read
constexpr auto kRunPause = 100ms;    // before and after Run
constexpr size_t kStatusValueLow = 4;

bool Acknowledged(TModbus& link, const FrameTemplate& tmpl);

// An end before the upload went (no journal entry to close).
void Failed(TModbus& link, UploadWindow& window, LinkError error) {
  link.Synchronize([&] { window.UploadFailed(error); });
}

// An end after JournalBefore let the upload go: the entry closed, then the failure completion.
void FailedAfterGo(TModbus& link, UploadWindow& window, const UploadEnd& end) {
  link.Synchronize([&] {
    window.JournalAfter(end, std::nullopt);
    window.UploadFailed(end.error);
  });
}

// A failure before Run: the old firmware kept (an exception reply is the relay's refusal).
Outcome FailureOutcome(LinkError error) {
  return Outcome{OutcomeKind::CommunicationError, error};
}

// The end of an upload at `step`, its error the link's last one; stopped when the abort flag or a
// pause ended it rather than the exchange itself.
UploadEnd EndAt(TModbus& link, const UploadWindow& window, UploadEnd::Step step, size_t blocks,
                size_t blocksSent) {
  UploadEnd end;
  end.step = step;
  end.blocks = blocks;
  end.blocksSent = blocksSent;
  end.aborted = window.AbortRaised();
  end.stopped = end.aborted || link.StopRequested();
  end.error = end.stopped ? LinkError::None : link.LastError();
  end.outcome = FailureOutcome(end.error);
  return end;
}

size_t BlocksOf(std::span<const uint8_t> image) {
  return (image.size() + kImageBlockBytes - 1) / kImageBlockBytes;
}

// Cancel, its reply read and not judged beyond the entry's word on it; the input drained when it
// is not a good one. Sent even while a pause is pending: a write is not cut short before it is
// handed over, so the relay leaves upload mode; only the wait for its reply ends at once.
void SendCancel(TModbus& link, UploadEnd& end) {
  link.SendRequest(link.BuildRequest(templates::kUploadAbort));
  if (!link.SentWhole()) {
    end.cancel = UploadEnd::Cancel::NotSent;
  } else if (Acknowledged(link, templates::kUploadAbort)) {
    end.cancel = UploadEnd::Cancel::Acknowledged;
    return;
  } else {
    const bool cut =
        link.LastError() == LinkError::Stopped || link.LastError() == LinkError::PortClosed;
    end.cancel = cut ? UploadEnd::Cancel::NotAwaited : UploadEnd::Cancel::NotAcknowledged;
  }
  end.cancelError = link.LastError();
  link.DrainInput();
}

// Ends an upload unsuccessfully once the relay is in upload mode: Cancel, then the entry closed
// with how it ended and the failure completion.
void Abort(TModbus& link, UploadWindow& window, UploadEnd end) {
  SendCancel(link, end);
  FailedAfterGo(link, window, end);
}

// What the upload replaces, read right now (an earlier read may be stale): false on the first
// read that fails.
bool ReadBackup(TModbus& link, UploadBackup& backup) {
  if (!link.Identify(backup.identText)) return false;
  if (ReadSettingsWords(link, backup.settings) < kSettingsWords) return false;
  if (link.Session().serviceMode) {
    CalibrationWords calibration{};
    if (!ReadCalibrationWords(link, calibration)) return false;
    backup.calibration = calibration;
  }
  return true;
}

// The restarted relay's settings.
void ReadSettingsAfterRestart(TModbus& link, RestartedRelay& relay) {
  SettingsWords now{};
  if (ReadSettingsWords(link, now) < kSettingsWords) {
    link.DrainInput();
    return;
  }
  relay.settings = now;
}

void Progress(TModbus& link, UploadWindow& window, uint32_t bytes) {
  link.Synchronize([&] { window.ShowUploadProgress(bytes); });
}

// A write acknowledged with the echo of its request.
bool Acknowledged(TModbus& link, const FrameTemplate& tmpl) {
  return link.CheckReply(kMainReply, tmpl.replyLength) && link.CheckEcho();
}

// Slice k of block b as a data frame in the request buffer; returns its length.
size_t BuildSlice(TModbus& link, std::span<const uint8_t> image, size_t block, int slice) {
  const uint8_t* data = image.data() + block * kImageBlockBytes + kImageDataOffset +
                        static_cast<size_t>(slice) * kSliceBytes;
  // The file holds each word low byte first; the frame carries it high byte first.
  std::array<uint16_t, kSliceWords> words{};
  for (size_t i = 0; i < kSliceWords; ++i)
    words[i] = static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  RequestPatch patch;
  // A byte address, and the relay's registers are words; the sum may pass 0xFFFF, its half not.
  patch.address =
      static_cast<int>((uint32_t{BlockAddress(image, block)} + kSliceBytes * slice) / 2);
  patch.words = words.data();
  patch.wordCount = words.size();
  return link.BuildRequest(templates::kUploadBlock, patch);
}

// One data frame, with the single repeat of a frame whose reply is bad. `meanwhile` runs during
// the pause after the frame has left, which it shortens by its own time.
bool SendSlice(TModbus& link, size_t length, const std::function<void()>& meanwhile) {
  link.SendRequest(length);
  const auto sent = link.Now();
  meanwhile();
  const auto pause = std::max(kReplyPause - (link.Now() - sent),
                              std::chrono::steady_clock::duration::zero());
  if (link.Sleep(std::chrono::ceil<std::chrono::microseconds>(pause)) &&
      Acknowledged(link, templates::kUploadBlock))
    return true;
  if (link.StopRequested()) return false;
  link.DrainInput();
  // The request buffer still holds the frame: the drain does not touch it.
  if (!link.Sleep(kRepeatPause)) return false;
  link.SendRequest(length);
  return link.Sleep(kRepeatPause) && Acknowledged(link, templates::kUploadBlock);
}

// Status: ready (low byte 0); or, after a drain, any good reply to the second read.
bool RelayReady(TModbus& link) {
  const FrameTemplate& status = templates::kUploadStatus;
  link.SendRequest(link.BuildRequest(status));
  if (link.CheckReply(kMainReply, status.replyLength) &&
      link.ReplyBuffer[kMainReply + kStatusValueLow] == 0)
    return true;
  if (!link.Sleep(kStatusPause)) return false;
  link.DrainInput();
  link.SendRequest(link.BuildRequest(status));
  return link.CheckReply(kMainReply, status.replyLength);
}

// After Run: the restarting relay identified, up to `attempts` times, kIdentifyPause apart; then
// its serial number. Nothing when it does not answer, or the abort flag, a pause or a gone
// device ends the waiting.
std::optional<RestartedRelay> AwaitRestart(TModbus& link, const UploadWindow& window,
                                           int attempts) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0 && !link.Sleep(kIdentifyPause)) return std::nullopt;
    if (window.AbortRaised() || link.StopRequested()) return std::nullopt;
    RestartedRelay relay;
    if (link.Identify(relay.identText)) {
      relay.serialNumber = link.ReadSerialNumber();
      // A reply still on its way would be read as the settings that follow (of the same
      // length): a failed read is drained first.
      if (link.LastError() != LinkError::None && !link.StopRequested()) link.DrainInput();
      return relay;
    }
    if (link.LastError() == LinkError::DeviceGone) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

void AbortUpload(TModbus& link, UploadWindow& window) {
  UploadEnd end = EndAt(link, window, UploadEnd::Step::Unknown, BlocksOf(window.ImageToSend()), 0);
  Abort(link, window, end);
}

void UploadFirmware(TModbus& link, UploadWindow& window, int identifyAttempts) {
  // Stopped while it waited (a disconnect, the Stop button): nothing is sent.
  if (window.AbortRaised() || link.StopRequested()) {
    Failed(link, window, LinkError::None);
    return;
  }
  UploadBackup backup;
  if (!ReadBackup(link, backup)) {
    const LinkError error = link.LastError();
    link.DrainInput();
    Failed(link, window, error);
    return;
  }
  // Stopped during the reads: no entry is kept for an upload that never went.
  if (window.AbortRaised() || link.StopRequested()) {
    Failed(link, window, LinkError::None);
    return;
  }
  bool goOn = false;
  link.Synchronize([&] { goOn = window.JournalBefore(backup); });
  if (!goOn) {
    Failed(link, window, LinkError::None);
    return;
  }
  const std::span<const uint8_t> image = window.ImageToSend();
  const size_t blocks = BlocksOf(image);
  // The step may have waited for the user meanwhile.
  if (window.AbortRaised() || link.StopRequested()) {
    UploadEnd end = EndAt(link, window, UploadEnd::Step::BeforeStart, blocks, 0);
    end.outcome = kChangeHeldBack;
    FailedAfterGo(link, window, end);
    return;
  }

  link.SendRequest(link.BuildRequest(templates::kUploadStart));
  if (!Acknowledged(link, templates::kUploadStart)) {
    // The exchange's own failure, even when a pause cut it: no Cancel follows.
    UploadEnd end = EndAt(link, window, UploadEnd::Step::Start, blocks, 0);
    end.error = link.LastError();
    end.outcome = FailureOutcome(end.error);
    link.DrainInput();
    FailedAfterGo(link, window, end);
    return;
  }

  size_t blocksSent = 0;
  for (size_t block = 0; block * kImageBlockBytes < image.size(); ++block) {
    // A frame's progress is shown during the next frame's pause, so that the hand-over to the
    // window costs the line no time; the block's last one before the block ends, as the abort
    // flag is looked at.
    std::optional<uint32_t> unshown;  // progress of the frame acknowledged last
    auto showProgress = [&] {
      if (unshown) Progress(link, window, *std::exchange(unshown, std::nullopt));
    };
    for (int slice = 0; slice < kSlicesPerBlock; ++slice) {
      if (!SendSlice(link, BuildSlice(link, image, block, slice), showProgress)) {
        Abort(link, window, EndAt(link, window, UploadEnd::Step::Blocks, blocks, blocksSent));
        return;
      }
      unshown = static_cast<uint32_t>(block * kImageBlockBytes + kImageDataOffset +
                                      static_cast<size_t>(slice) * kSliceBytes);
    }
    blocksSent = block + 1;
    showProgress();
    if (window.AbortRaised() || link.StopRequested()) {
      Abort(link, window, EndAt(link, window, UploadEnd::Step::Blocks, blocks, blocksSent));
      return;
    }
  }

  if (!RelayReady(link)) {
    Abort(link, window, EndAt(link, window, UploadEnd::Step::Status, blocks, blocksSent));
    return;
  }
  Progress(link, window, static_cast<uint32_t>(image.size()));

  // A pause before Run leaves the old firmware running: the relay is told to cancel.
  if (!link.Sleep(kRunPause)) {
    Abort(link, window, EndAt(link, window, UploadEnd::Step::Run, blocks, blocksSent));
    return;
  }
  link.SendRequest(link.BuildRequest(templates::kUploadRun));
  if (!link.SentWhole()) {
    // Run never left (the adapter pulled out, the port closed): the relay still waits in upload
    // mode with the old firmware, and nothing can tell it to cancel.
    UploadEnd end = EndAt(link, window, UploadEnd::Step::Run, blocks, blocksSent);
    end.stopped = false;
    end.error = link.DeviceGone() ? LinkError::DeviceGone : LinkError::PortClosed;
    end.outcome = FailureOutcome(end.error);
    FailedAfterGo(link, window, end);
    return;
  }
  link.Sleep(kRunPause);  // the relay restarts whether or not this wait is cut short
  link.Synchronize([&] { window.UploadRestarting(); });
  std::optional<RestartedRelay> relay = AwaitRestart(link, window, identifyAttempts);
  if (relay) ReadSettingsAfterRestart(link, *relay);
  UploadEnd end;
  end.step = UploadEnd::Step::Restart;
  end.blocks = blocks;
  end.blocksSent = blocksSent;
  end.outcome = Outcome::Ok;
  if (!relay) {
    end.aborted = window.AbortRaised();
    end.stopped = end.aborted || link.StopRequested();
    end.error = end.stopped ? LinkError::None : link.LastError();
    // A relay that did not identify itself may run the new firmware or not.
    end.outcome = Outcome{OutcomeKind::Unknown, end.error};
  }
  link.Synchronize([&] {
    window.JournalAfter(end, relay);
    window.UploadSucceeded(relay);
  });
}

}  // namespace nx480
