#include "upload_command.h"

#include <algorithm>
#include <atomic>
#include <optional>

#include "command_table.h"
#include "commands.h"
#include "identity.h"
#include "journal_changes.h"
#include "journal_entry.h"
#include "output.h"
#include "relay_link.h"
#include "relay_search.h"
#include "settings_record.h"
#include "text_codec.h"
#include "upload_transaction.h"

namespace nx480::ctl {

namespace {

// The "Upload FW" page as the upload transaction sees it; every step runs on the worker.
class UploadPage : public UploadWindow {
 public:
  std::span<const uint8_t> ImageToSend() const override {
    const auto length = static_cast<size_t>(std::max(request.Value(), 0));
    return {image.data(), std::min(length, image.size())};
  }
  bool AbortRaised() const override { return abort.load(); }

  // The progress goes to standard error, and a write that fails there (a reader that has gone,
  // a terminal that was closed) is not looked at: the upload goes on to its end or its Cancel.
  void ShowUploadProgress(uint32_t bytes) override {
    const auto total = static_cast<uint32_t>(std::max(request.Value(), 0));
    if (terminal) {
      (void)std::fprintf(stderr, "\r%s", ProgressBar(bytes, total).c_str());
      (void)std::fflush(stderr);
    } else if (const int tenth = ProgressTenth(bytes, total); tenth > shownTenth) {
      shownTenth = tenth;
      Say("upload " + std::to_string(tenth * 10) + " % (" + std::to_string(bytes) + " of " +
          std::to_string(total) + " bytes)");
    }
  }
  void UploadFailed(LinkError error) override {
    EndBar();
    refused = error == LinkError::Exception;  // the relay refused a frame
  }
  void UploadRestarting() override {
    EndBar();
    succeeded = true;
    Say("upload done; the relay restarts");
  }
  void UploadSucceeded(const std::optional<RestartedRelay>& relay) override {
    identified = relay.has_value();
    if (!relay) return;
    TakeIdentification(relay->identText, newSession);
    newSession.serialNumber = relay->serialNumber;
    settingsRead = relay->settings.has_value();
    if (relay->settings) changed = DifferingNames(saved_, *relay->settings);
  }
  // The upload's journal entry, as the window keeps it; without it nothing is sent (no question).
  bool JournalBefore(const UploadBackup& backup) override {
    JournalEntry entry = NewJournalEntry(*session, ChangeKind::FirmwareUpload,
                                         Keyed("upload-ctl", {"nx480ctl upload"}));
    entry.details.push_back(imageDetail);
    entry.backups =
        FirmwareUploadBackups(Cp1250ToUtf8(backup.identText), backup.settings, backup.calibration);
    if (!journal.Open(std::move(entry))) return false;
    went = true;
    saved_ = backup.settings;
    entryId = journal.Entry()->id;
    return true;
  }
  void JournalAfter(const UploadEnd& end, const std::optional<RestartedRelay>& relay) override {
    if (relay) {
      afterRestart =
          SettingsAfterRestartDetails(saved_, session->firmware, relay->settings,
                                      FirmwareFeaturesOf(FirmwareMinorOf(relay->identText)));
    }
    // Only the command's interrupt raises the abort flag.
    results = UploadResults(end, StopCause::Interrupt,
                            relay ? Cp1250ToUtf8(relay->identText) : std::string());
    journal.Close(UploadJournalOutcome(end), results, afterRestart);
  }

  ImageBuffer image{};
  std::atomic<bool> abort{false};
  bool terminal = false;
  bool succeeded = false;
  bool refused = false;
  bool identified = false;
  bool went = false;                      // JournalBefore let the upload go
  bool settingsRead = false;              // the restarted relay's settings were read
  std::vector<std::string> changed;       // what the new firmware changed in them
  JournalText imageDetail;                // the journal's line of the image
  JournalEntryKeeper journal;             // the upload's entry; without it nothing is sent
  std::string entryId;                    // the entry, once opened
  std::vector<JournalText> afterRestart;  // its detail lines of the settings after the restart
  std::vector<JournalText> results;       // what came of the upload, as its entry says
  const RelaySession* session = nullptr;  // the relay's before the upload
  RelaySession newSession;
  Request request;  // UploadLength: its value is the image's length

 private:
  void EndBar() {
    if (terminal) (void)std::fputc('\n', stderr);
  }
  int shownTenth = 0;
  SettingsWords saved_{};
};

// What the new firmware did to the settings, and how to restore them; the exit code stays.
void ReportSettingsAfterRestart(const UploadPage& page) {
  const std::string restore = "nx480ctl journal restore " + page.entryId;
  if (!page.settingsRead) {
    Say("the settings could not be read after the restart: compare them with the saved ones "
        "(nx480ctl journal show " +
        page.entryId + ")");
    return;
  }
  if (page.changed.empty()) return;
  Say("the new firmware changed the settings:");
  for (const JournalText& line : page.afterRestart)
    Say("  " + RenderJournalText(line, TextLanguage::English));
  Say("to write the saved settings back: " + restore);
}

}  // namespace

std::string ImageFaultText(const ImageCheck& check, uint64_t bytes) {
  switch (check.fault) {
    case ImageFault::None:
      return "";
    case ImageFault::Length:
      return std::to_string(bytes) + " bytes is not a whole number of " +
             std::to_string(kImageBlockBytes) + "-byte blocks (at most " +
             std::to_string(kImageMaxBlocks) + ")";
    case ImageFault::HighHalf:
      return "block " + std::to_string(check.badBlock) + ": its address does not fit 16 bits";
    case ImageFault::BadCrc:
      return "block " + std::to_string(check.badBlock) + ": bad CRC";
  }
  return "bad image";
}

std::string ProgressBar(uint32_t bytes, uint32_t total, int width) {
  const uint64_t shown = total == 0 ? 0 : std::min<uint64_t>(bytes, total);
  const int filled = total == 0 ? 0 : static_cast<int>(shown * width / total);
  const int percent = total == 0 ? 0 : static_cast<int>(shown * 100 / total);
  char tail[64];
  std::snprintf(tail, sizeof tail, "] %3d %%  %u/%u bytes", percent, static_cast<unsigned>(shown),
                static_cast<unsigned>(total));
  // Appended in place (MinGW's GCC 12 warns falsely on the same built with operator+).
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#').append(static_cast<size_t>(width - filled), ' ');
  return bar.append(tail);
}

int ProgressTenth(uint32_t bytes, uint32_t total) {
  if (total == 0) return 0;
  return static_cast<int>(std::min<uint64_t>(bytes, total) * 10 / total);
}

Exit RunUpload(const Invocation& invocation) {
  UploadPage page;
  uint64_t size = 0;
  const long read = ReadImageFile(invocation.file, page.image, &size);
  if (read < 0) {
    Say("bad file: " + invocation.file + ": it cannot be read");
    return Exit::BadFile;
  }
  ImageCheck check = CheckImage({page.image.data(), static_cast<size_t>(read)});
  // A file larger than any image was read only in part: it is named by its own size.
  if (size > static_cast<uint64_t>(read)) check.fault = ImageFault::Length;
  if (check.fault != ImageFault::None) {
    Say("bad file: " + invocation.file + ": " +
        ImageFaultText(check, std::max<uint64_t>(size, static_cast<uint64_t>(read))));
    return Exit::BadFile;
  }
  // The image's own texts: its control characters escaped, never sent to the terminal.
  Say("image " + invocation.file + ": application " + QuotedText(Cp1250ToUtf8(check.name)) +
      ", version " + QuotedText(Cp1250ToUtf8(check.version)) + ", " + std::to_string(check.blocks) +
      " blocks");
  if (invocation.checkOnly) return Exit::Ok;
  page.imageDetail =
      FirmwareImageDetail(invocation.file, Cp1250ToUtf8(check.name), Cp1250ToUtf8(check.version),
                          static_cast<size_t>(read), check.blocks);

  RelayLink relay(invocation);
  page.session = &relay.Session();
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  Say("current version: " + Cp1250ToUtf8(relay.Session().identText));
  page.terminal = StandardErrorIsTerminal();
  page.newSession = relay.Session();
  relay.Start({{.slot = kUploadLength,
                .request = &page.request,
                .transaction = [&page](TModbus& link) { UploadFirmware(link, page); },
                .onException = [&page](TModbus& link) { AbortUpload(link, page); }}});
  // Ctrl-C as the page's Stop: the upload ends after the block in progress with a Cancel, or
  // the attempts to identify the restarting relay end. A second one ends the upload at once,
  // the Cancel still handed to the port.
  if (!relay.MaySend()) return Exit::Interrupted;
  page.request.Post(static_cast<int32_t>(read));
  // Served, or stopped by a second Ctrl-C: either way the transaction has returned.
  const Exit served = relay.Await(page.request, [&page] { page.abort.store(true); });
  if (!page.journal.openError.empty()) {
    Say("bad file: journal: " + page.journal.openError +
        "; nothing uploaded (the backup of the relay's settings must be kept first)");
    return Exit::BadFile;
  }
  if (!page.journal.closeError.empty())
    Say("bad file: journal: " + page.journal.closeError + " (the entry stays pending)");
  if (served == Exit::Communication) return Exit::Communication;

  if (page.succeeded) {
    if (!page.identified && page.abort.load()) {
      Say("upload done; stopped waiting for the relay");
      return Exit::Interrupted;
    }
    if (!page.identified) {
      Say("communication error: the relay did not identify itself after its restart");
      return Exit::Communication;
    }
    Say("new version: " + Cp1250ToUtf8(page.newSession.identText));
    ReportSettingsAfterRestart(page);
    return Exit::Ok;
  }
  if (page.abort.load()) {
    Say("upload " + RenderJournalTexts(page.results, TextLanguage::English));
    return Exit::Interrupted;
  }
  if (!page.went) {
    Say("communication error: reading what the upload replaces; nothing was sent");
    return Exit::Communication;
  }
  Say(page.refused ? "refused by the relay: the upload was not taken"
                   : "communication error: the upload failed");
  return page.refused ? Exit::Refused : Exit::Communication;
}

namespace {

std::string ParseUpload(const CommandWords& given, Invocation& inv) {
  const std::vector<std::string>& words = given.words;
  inv.command = Command::Upload;
  inv.checkOnly = given.Has("--check");
  if (const std::string error = given.Count(1, "firmware image (IMAGE.bn6)"); !error.empty())
    return error;
  inv.file = words[0];
  return "";
}

}  // namespace

const CommandRow kUploadCommandRow = {
    .name = "upload",
    .options = {{"--check", false}},
    .parse = ParseUpload,
    .run = RunUpload,
    .overview = {{"upload IMAGE.bn6", "firmware upload"}},
    .help =
        "Usage: nx480ctl upload IMAGE.bn6 [--check]\n"
        "\n"
        "Checks a firmware image (length, every block's address and CRC) and uploads it\n"
        "into the relay: Start, eight data frames per block (a frame whose reply is bad\n"
        "is sent once more), Status, Run; then the relay restarts and is identified\n"
        "again. A progress bar on a terminal, a line every 10 % otherwise. Ctrl-C (or\n"
        "SIGTERM, SIGHUP) ends the upload after the block in progress and tells the\n"
        "relay to cancel, or stops waiting for the restarted relay; a second one ends it\n"
        "at once, the Cancel still sent. An output nobody reads any more does not end it.\n"
        "\n"
        "  --check   only checks the image; no relay needed\n"
        "\n"
        "The relay's identification, settings and (with --service) calibration are kept\n"
        "in the change journal before Start (exit code 5, nothing sent, when they cannot\n"
        "be). Settings that the new firmware changed are listed afterwards with the\n"
        "journal restore command that writes the saved ones back.\n"
        "\n"
        "Exit code 5 for a bad image, 6 when the relay refuses a frame.\n",
};

}  // namespace nx480::ctl
