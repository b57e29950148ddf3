// The firmware upload transaction against the simulated relay, run by the worker as the tool
// runs it. The frames on the line are taken from the link's trace.
#include "upload_transaction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firmware_image.h"
#include "frames.h"
#include "recording_windows.h"
#include "relay_fixture.h"

using namespace nx480;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;
using Outcomes = std::vector<std::string>;

// The upload page as the transaction sees it. Its steps run on the worker here (no
// user-interface thread); the test reads what they recorded once the request is cleared.
class FakeUploadWindow : public UploadWindow {
 public:
  std::span<const uint8_t> ImageToSend() const override { return image; }
  bool AbortRaised() const override { return abort.load(); }
  void ShowUploadProgress(uint32_t bytes) override {
    progress.push_back(bytes);
    if (onProgress) onProgress(bytes);
    shown.store(progress.size());
  }
  void UploadFailed(LinkError) override { ++failed; }
  void UploadRestarting() override { ++restarting; }
  void UploadSucceeded(const std::optional<RestartedRelay>& relay) override {
    ++succeeded;
    restarted = relay;
  }
  bool JournalBefore(const UploadBackup& backup) override {
    backups.push_back(backup);
    if (duringJournalBefore) duringJournalBefore();
    return keep;
  }
  void JournalAfter(const UploadEnd& end, const std::optional<RestartedRelay>&) override {
    outcomes.push_back(std::string(recording::OutcomeName(end.outcome)) + ": " +
                       LinkErrorText(end.outcome.error));
    ends.push_back(end);
  }

  // A new upload with `image`.
  void Reset(Bytes next) {
    image = std::move(next);
    abort = false;
    onProgress = nullptr;
    progress.clear();
    shown = 0;
    failed = succeeded = restarting = 0;
    restarted.reset();
    keep = true;
    duringJournalBefore = nullptr;
    backups.clear();
    outcomes.clear();
    ends.clear();
  }

  Bytes image;
  std::atomic<bool> abort{false};
  std::function<void(uint32_t)> onProgress;
  std::vector<uint32_t> progress;
  std::atomic<size_t> shown{0};
  int failed = 0;
  int succeeded = 0;
  int restarting = 0;
  std::optional<RestartedRelay> restarted;
  bool keep = true;  // JournalBefore's answer
  std::function<void()> duringJournalBefore;
  std::vector<UploadBackup> backups;
  std::vector<std::string> outcomes;  // "kind: error", as JournalAfter had them
  std::vector<UploadEnd> ends;
};

struct Sent {
  std::string frame;
  Bytes bytes;
};

class UploadTransaction : public RelayLinkTest<> {
 protected:
  void SetUp() override {
    sim::RelayConfig config;
    config.version = "1.04";
    config.restart_time = 300ms;
    config.history_fill = 0;
    Connect(config);
    link_.SetTraceHook([this](const FrameEvent& e) {
      const auto now = Now();
      const bool identification = std::string(e.frame) == "identification";
      if (e.direction == FrameDirection::Sent) {
        sent_.push_back({e.frame, Bytes(e.bytes.begin(), e.bytes.end())});
        if (identification && identifications_++ > 0)
          identifyPauses_.push_back(now - identifyReply_);
        if (identification && onIdentification_) onIdentification_(identifications_);
      }
      if (e.direction == FrameDirection::Received && identification) identifyReply_ = now;
      if (e.direction == FrameDirection::Received && std::string(e.frame) == "upload block")
        blockReplies_.push_back(e.sinceRequest);
    });
    link_.Bind(
        {.slot = kUploadLength,
         .request = &request_,
         .transaction = [this](TModbus& link) { UploadFirmware(link, window_, identifyAttempts_); },
         .onException = [this](TModbus& link) { AbortUpload(link, window_); }});
  }

  // Posts the upload and waits until the worker has cleared the request.
  void Upload() { Serve(request_, static_cast<int32_t>(window_.image.size()), 10s); }
  std::vector<std::string> Frames() const {
    std::vector<std::string> names;
    for (const Sent& s : sent_) names.push_back(s.frame);
    return names;
  }
  size_t Count(const std::string& frame) const {
    size_t n = 0;
    for (const Sent& s : sent_) n += s.frame == frame;
    return n;
  }
  sim::UploadMode Mode() const {
    return relay_->WithModel([](sim::RelayModel& m) { return m.Upload().Mode(); });
  }
  int DataFramesKept() const {
    return relay_->WithModel([](sim::RelayModel& m) { return m.Upload().Frames(); });
  }
  void Faults(const sim::UploadFaults& faults) {
    relay_->WithModel([&](sim::RelayModel& m) { m.Upload().Faults() = faults; });
  }

  Request request_;
  FakeUploadWindow window_;
  std::vector<Sent> sent_;
  std::vector<std::chrono::microseconds> blockReplies_;  // read this long after their frame
  std::atomic<int> identifications_{0};                  // sent
  // From an identification's reply (or its time-out) to the next one leaving.
  std::chrono::steady_clock::time_point identifyReply_;
  std::vector<std::chrono::steady_clock::duration> identifyPauses_;
  int identifyAttempts_ = kIdentifyAttempts;
  // On the worker, as each identification leaves (with how many have left).
  std::function<void(int)> onIdentification_;
};

// What the upload replaces, read before Start.
const std::vector<std::string> kBackupFrames{"identification", "parameters read, low",
                                             "parameters read, high"};

const std::vector<uint32_t> kOneBlockProgress{4, 36, 68, 100, 132, 164, 196, 228, 262};

std::vector<std::string> OneBlockFrames() {
  std::vector<std::string> frames{"upload start"};
  for (int k = 0; k < 8; ++k) frames.push_back("upload block");
  frames.push_back("upload status");
  frames.push_back("upload run");
  return frames;
}

}  // namespace

TEST_F(UploadTransaction, OneBlockGoesToItsRegistersWordsSwappedAndTheRelayRestartsIntoIt) {
  // An odd block address: the registers start at its half, rounded down.
  window_.image =
      sim::WriteImage({.name = "NX480", .version = "1.16", .blocks = 1, .address = 0x0A01});
  window_.image[4] = 0x34;  // the first data word, low byte first
  window_.image[5] = 0x12;
  const uint16_t crc = ModbusCrc(window_.image.data(), 260);
  window_.image[260] = static_cast<uint8_t>(crc);
  window_.image[261] = static_cast<uint8_t>(crc >> 8);
  Upload();

  // The backup first. Then the identification of the restarting relay, until it answers, its
  // serial number and its settings.
  std::vector<std::string> frames = Frames();
  ASSERT_GE(frames.size(), 18u);
  EXPECT_EQ(std::vector<std::string>(frames.end() - 4, frames.end()),
            (std::vector<std::string>{"identification", "calibration read", "parameters read, low",
                                      "parameters read, high"}));
  EXPECT_EQ(std::vector<std::string>(frames.begin(), frames.begin() + 3), kBackupFrames);
  frames.erase(frames.begin(), frames.begin() + 3);
  frames.resize(11);
  EXPECT_EQ(frames, OneBlockFrames());
  for (int k = 0; k < 8; ++k) {
    const Bytes& frame = sent_[4 + k].bytes;
    EXPECT_EQ(WireWord(&frame[2]), 0x0500 + 16 * k) << "slice " << k;
    // Each slice carries its 32 bytes with the two bytes of every word exchanged.
    for (int i = 0; i < 32; i += 2) {
      ASSERT_EQ(frame[7 + i], window_.image[4 + 32 * k + i + 1]) << k << " " << i;
      ASSERT_EQ(frame[7 + i + 1], window_.image[4 + 32 * k + i]) << k << " " << i;
    }
  }
  EXPECT_EQ(sent_[4].bytes[7], 0x12);
  EXPECT_EQ(sent_[4].bytes[8], 0x34);
  EXPECT_EQ(relay_->WithModel([](sim::RelayModel& m) { return m.Upload().Word(0x0500); }), 0x1234);
  EXPECT_EQ(window_.progress, kOneBlockProgress);
  EXPECT_EQ(window_.failed, 0);
  EXPECT_EQ(window_.restarting, 1);
  EXPECT_EQ(window_.succeeded, 1);
  // The restarted relay identifies with the image's version.
  ASSERT_TRUE(window_.restarted);
  EXPECT_EQ(window_.restarted->identText, "NX480   1.16");
  EXPECT_EQ(window_.restarted->serialNumber, 1234);
  EXPECT_EQ(window_.outcomes, Outcomes{"ok: no error"});
}

// A frame's progress is shown while the next frame is on its way (in its 5 ms pause), so the
// hand-over costs the line nothing; a block's last one before the next block begins, when the
// abort flag is looked at.
TEST_F(UploadTransaction, ProgressIsShownWhileTheNextFrameIsOnItsWay) {
  window_.image = sim::WriteImage({.blocks = 2});
  std::vector<size_t> framesSentWhenShown;
  window_.onProgress = [this, &framesSentWhenShown](uint32_t) {
    framesSentWhenShown.push_back(Count("upload block"));
    std::this_thread::sleep_for(2ms);  // a window that takes its time
  };
  Upload();
  EXPECT_EQ(window_.succeeded, 1);
  EXPECT_EQ(framesSentWhenShown,
            (std::vector<size_t>{2, 3, 4, 5, 6, 7, 8, 8, 10, 11, 12, 13, 14, 15, 16, 16, 16}));
  // The hand-over shortens the pause before the reply is read, but never below 5 ms.
  ASSERT_EQ(blockReplies_.size(), 16u);
  for (const auto since : blockReplies_) EXPECT_GE(since, 5ms);
}

TEST_F(UploadTransaction, LostReplyIsRepeatedAndBusyStatusIsAskedOnceMore) {
  window_.image = sim::WriteImage({.blocks = 2});
  // The third frame's reply is lost, and both Status reads say busy: the repeated frame, and
  // the second Status whatever its value, carry the upload on.
  Faults({.lose_reply_at = 3, .busy_once = true});
  // (The two reads of the backup come first.)
  relay_->AddFault({.kind = sim::FaultKind::kBadEcho, .function = 0x03, .skip = 3, .param = 1});
  Upload();
  EXPECT_EQ(window_.failed, 0);
  EXPECT_EQ(window_.succeeded, 1);
  EXPECT_EQ(Count("upload block"), 17u);
  EXPECT_EQ(Count("upload status"), 2u);
  EXPECT_EQ(Count("upload run"), 1u);
  EXPECT_EQ(Count("upload abort"), 0u);
  EXPECT_EQ(window_.progress.size(), 17u);  // 16 frames, then the whole image
  EXPECT_EQ(window_.progress.back(), 2u * 262);
  // The repeat is the same frame.
  EXPECT_EQ(sent_[6].bytes, sent_[7].bytes);
}

TEST_F(UploadTransaction, FailuresEndItOnceAndCancelOnlyAfterStart) {
  window_.image = sim::WriteImage({.blocks = 2});
  // A frame refused, then its repeat refused too: the relay is told to cancel.
  Faults({.refuse_at = 3});
  Upload();
  EXPECT_EQ(window_.failed, 1);
  EXPECT_EQ(window_.succeeded, 0);
  EXPECT_EQ(window_.progress, (std::vector<uint32_t>{4, 36}));
  EXPECT_EQ(Frames().back(), "upload abort");
  EXPECT_EQ(Mode(), sim::UploadMode::kNormal);
  EXPECT_EQ(window_.outcomes, Outcomes{"error: exception reply"});

  // Start unanswered: no Cancel follows.
  window_.Reset(sim::WriteImage({.blocks = 2}));
  sent_.clear();
  relay_->AddFault({.kind = sim::FaultKind::kSilence, .function = 0x10, .count = 1});
  Upload();
  EXPECT_EQ(window_.failed, 1);
  std::vector<std::string> frames = kBackupFrames;
  frames.push_back("upload start");
  EXPECT_EQ(Frames(), frames);
  EXPECT_EQ(window_.outcomes, Outcomes{"error: no reply"});
}

TEST_F(UploadTransaction, AbortEndsItAfterTheCurrentBlockWithCancel) {
  window_.image = sim::WriteImage({.blocks = 4});
  // Raised during the first frame of block 1: that block is finished first.
  window_.onProgress = [this](uint32_t bytes) {
    if (bytes == 262 + 4) window_.abort = true;
  };
  Upload();
  EXPECT_EQ(window_.failed, 1);
  EXPECT_EQ(window_.succeeded, 0);
  EXPECT_EQ(Count("upload block"), 16u);
  EXPECT_EQ(window_.progress.back(), 262u + 228);
  EXPECT_EQ(Frames().back(), "upload abort");
  EXPECT_EQ(Mode(), sim::UploadMode::kNormal);
  EXPECT_EQ(window_.outcomes, Outcomes{"error: no error"});

  // Raised before the worker began: nothing is sent.
  window_.Reset(sim::WriteImage({.blocks = 1}));
  window_.abort = true;
  sent_.clear();
  Upload();
  EXPECT_EQ(window_.failed, 1);
  EXPECT_TRUE(sent_.empty());
  EXPECT_TRUE(window_.backups.empty());
  EXPECT_TRUE(window_.outcomes.empty());
}

TEST_F(UploadTransaction, PauseEndsItWithCancel) {
  window_.image = sim::WriteImage({.blocks = 20});
  // The pause is asked for on the worker as the 20th frame's progress is shown (as the
  // window's disconnect does on the other thread): the line's waits end at once.
  std::chrono::steady_clock::time_point asked{};
  window_.onProgress = [&](uint32_t) {
    if (window_.progress.size() != 20) return;
    asked = Now();
    EXPECT_FALSE(link_.Suspend());  // recorded; the worker cannot wait for itself
  };
  Upload();
  EXPECT_LT(Now() - asked, 100ms);  // not the rest of the image
  EXPECT_EQ(window_.failed, 1);
  EXPECT_EQ(window_.succeeded, 0);
  EXPECT_EQ(Count("upload block"), 21u);  // the one on its way when the pause came
  EXPECT_EQ(Frames().back(), "upload abort");
  // The relay received the Cancel.
  Settle(10ms);
  EXPECT_EQ(Mode(), sim::UploadMode::kNormal);
  EXPECT_GT(DataFramesKept(), 0);
}

// A relay that does not come back after Run: the attempts, kIdentifyPause apart, and no more;
// a raised abort flag or a pause ends them early.
TEST_F(UploadTransaction, WaitingForTheRestartedRelayEnds) {
  enum class End { Attempts, Abort, Pause };
  for (const End end : {End::Attempts, End::Abort, End::Pause}) {
    SCOPED_TRACE(static_cast<int>(end));
    // Silent after the backup's identification, which the counts below include.
    relay_->ClearFaults();
    relay_->AddFault({.kind = sim::FaultKind::kSilence, .function = 0x11, .count = -1, .skip = 1});
    window_.Reset(sim::WriteImage({.blocks = 1}));
    sent_.clear();
    identifications_ = 0;
    identifyPauses_.clear();
    identifyAttempts_ = end == End::Attempts ? 3 : kIdentifyAttempts;
    // The abort flag raised, or the pause asked for, as the third identification leaves.
    onIdentification_ = [&](int sent) {
      if (sent != 3) return;
      if (end == End::Abort) window_.abort = true;
      if (end == End::Pause) {
        EXPECT_FALSE(link_.Suspend());
      }
    };
    Upload();
    EXPECT_EQ(window_.failed, 0);
    EXPECT_EQ(window_.restarting, 1);
    EXPECT_EQ(window_.succeeded, 1);
    EXPECT_FALSE(window_.restarted);
    EXPECT_EQ(window_.outcomes,
              Outcomes{end == End::Attempts ? "unknown: no reply" : "unknown: no error"});
    // The one in progress when it was stopped, if any, and no more.
    EXPECT_LE(Count("identification"), 4u);
    EXPECT_GE(Count("identification"), end == End::Attempts ? 4u : 3u);
    EXPECT_EQ(Frames().back(), "identification");
    for (const auto pause : identifyPauses_) EXPECT_GE(pause, kIdentifyPause);
  }
}

// What the upload replaces is read right before Start and kept first: the identification, the
// settings and, in service mode only, the calibration, as the relay holds them then.
TEST_F(UploadTransaction, BackupIsReadAndKeptBeforeStartGoesOut) {
  for (const bool service : {false, true}) {
    SCOPED_TRACE(service ? "service mode" : "normal");
    window_.Reset(sim::WriteImage({.version = "1.16", .blocks = 1}));
    sent_.clear();
    RelaySession session = link_.Session();
    session.serviceMode = service;
    ASSERT_TRUE(link_.SetSession(session));
    relay_->SetRegister(sim::Table::kHolding, 8, service ? 201 : 200);
    const auto settings = HoldingRegisters<kSettingsWords>(0);
    const auto calibration = HoldingRegisters<kCalibrationWords>(0x18);
    std::vector<std::string> framesAtBackup;
    window_.duringJournalBefore = [&] { framesAtBackup = Frames(); };
    Upload();
    std::vector<std::string> expected = kBackupFrames;
    if (service) expected.push_back("calibration read");
    EXPECT_EQ(framesAtBackup, expected);
    ASSERT_EQ(window_.backups.size(), 1u);
    const UploadBackup& backup = window_.backups[0];
    // The second upload finds the first one's firmware.
    EXPECT_EQ(backup.identText, service ? "NX480   1.16" : "NX480   1.04");
    EXPECT_EQ(backup.settings, settings);
    EXPECT_EQ(backup.calibration, service ? std::optional(calibration) : std::nullopt);
    EXPECT_EQ(window_.outcomes, Outcomes{"ok: no error"});
    ASSERT_TRUE(window_.restarted);
    EXPECT_EQ(window_.restarted->settings, std::optional(settings));
  }
}

// A backup step that says no, or during which the upload was stopped: nothing of the upload
// goes out, and only a stopped one has an entry to close.
TEST_F(UploadTransaction, RefusedOrStoppedBackupStepSendsNothing) {
  for (const bool refused : {true, false}) {
    SCOPED_TRACE(refused ? "refused" : "stopped");
    window_.Reset(sim::WriteImage({.blocks = 1}));
    sent_.clear();
    if (refused)
      window_.keep = false;
    else
      window_.duringJournalBefore = [this] { window_.abort = true; };
    Upload();
    EXPECT_EQ(Frames(), kBackupFrames);
    EXPECT_EQ(window_.failed, 1);
    EXPECT_EQ(window_.succeeded, 0);
    EXPECT_EQ(window_.outcomes, refused ? Outcomes{} : Outcomes{"error: stopped"});
  }
}

// A relay whose new firmware starts with its factory settings: its settings are read again, for
// the window to compare with the backup's.
TEST_F(UploadTransaction, SettingsChangedByTheNewFirmwareAreNamed) {
  sim::RelayConfig config;
  config.version = "1.14.d";
  config.restart_time = 300ms;
  config.history_fill = 0;
  config.reset_on_upload = true;
  Connect(config);
  relay_->SetRegister(sim::Table::kHolding, 8, 200);    // Uu1
  relay_->SetRegister(sim::Table::kHolding, 15, 1200);  // tRel
  window_.image = sim::WriteImage({.version = "1.14", .blocks = 1});
  Upload();
  ASSERT_TRUE(window_.restarted);
  EXPECT_EQ(window_.restarted->settings, std::optional(HoldingRegisters<kSettingsWords>(0)));
  ASSERT_EQ(window_.backups.size(), 1u);
  EXPECT_EQ(window_.backups[0].settings[8], 200);
  EXPECT_NE(window_.restarted->settings, std::optional(window_.backups[0].settings));
  EXPECT_EQ(window_.outcomes, Outcomes{"ok: no error"});
}

// After the transfer, nothing but the relay's own answers counts: a late reply to the restarted
// relay's serial number is drained, not taken for its settings (of the same length); a Run that
// never left (the adapter pulled out as it was written) is a failure, the relay left in upload
// mode, not a success whose relay did not answer.
TEST_F(UploadTransaction, AfterTheTransferOnlyWhatTheRelayDidCounts) {
  window_.image = sim::WriteImage({.version = "1.16", .blocks = 1});
  // The backup's two settings reads and the Status go by; the serial number's reply is late.
  relay_->AddFault({.kind = sim::FaultKind::kLateReply, .function = 0x03, .skip = 3, .param = 150});
  Upload();
  ASSERT_TRUE(window_.restarted);
  EXPECT_EQ(window_.restarted->serialNumber, -1);
  EXPECT_EQ(window_.restarted->settings, std::optional(HoldingRegisters<kSettingsWords>(0)));

  window_.Reset(sim::WriteImage({.version = "1.17", .blocks = 1}));
  link_.SetTraceHook([this](const FrameEvent& e) {
    if (e.direction == FrameDirection::Sent && std::string(e.frame) == "upload run")
      relay_->Unplug();
  });
  Upload();
  EXPECT_EQ(window_.succeeded, 0);
  EXPECT_EQ(window_.failed, 1);
  EXPECT_EQ(window_.restarting, 0);
  EXPECT_EQ(window_.outcomes, Outcomes{"error: device gone"});
  EXPECT_EQ(Mode(), sim::UploadMode::kReceiving);
}
