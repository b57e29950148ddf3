// `nx480ctl report FILE.pdf [--profile PROFILE] [--technician NAME] [--site TEXT]`: the
// commissioning record (records/commissioning_record.h) of the connected relay.
#include <QGuiApplication>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>

#include "commands.h"
#include "commissioning_record.h"
#include "journal.h"
#include "language.h"
#include "output.h"
#include "record_transaction.h"
#include "relay_link.h"
#include "relay_time.h"

namespace nx480::ctl {

namespace {

// The record's window: its steps run on the worker, and the main thread reads the record once
// the request is served.
class RecordPage : public RecordWindow {
 public:
  double PcNow() const override { return LocalNow(); }
  bool RecordWanted() const override { return request.Pending(); }
  void StoreClock(double relayTime, double pcTime) override {
    record.relayTime = relayTime;
    record.pcTime = pcTime;
  }
  void StoreSettings(const SettingsWords& words) override { record.settings = words; }
  void StoreCalibration(const CalibrationWords& words) override { record.calibration = words; }
  void StoreHistoryRecord(const HistoryRecord& event) override { record.events.push_back(event); }
  void RecordProgress(RecordPart part, int events) override {
    if (part == RecordPart::History) eventsRead.store(events);
    ShowProgress("reading the record: " + std::string(RecordPartName(part)) +
                 (part == RecordPart::History ? ", " + std::to_string(events) + " of at most " +
                                                    std::to_string(kRecordEvents) + " events"
                                              : std::string()));
  }
  void RecordDone(const RecordEnd& ended) override {
    end = ended;
    done.store(true, std::memory_order_release);
  }

  std::vector<RequestDecl> Requests() {
    return {{.slot = kRecordRequest,
             .request = &request,
             .transaction = [this](TModbus& link) { ReadRecord(link, *this); },
             .onException =
                 [this](TModbus&) {
                   end.outcome = Outcome::CommunicationError;
                   done.store(true, std::memory_order_release);
                 }}};
  }

  CommissioningRecord record;
  // Until RecordDone: a transaction that never ended is no record.
  RecordEnd end{.outcome = Outcome::CommunicationError};
  // Set by the last step: Ctrl-C clears the request, and the walk ends after the exchange in
  // progress; the main thread waits for this rather than for the request.
  std::atomic<bool> done{false};
  std::atomic<int> eventsRead{0};
  Request request;
};

// The offscreen platform's note that XDG_RUNTIME_DIR is not set means nothing for a PDF; every
// other message goes on as before (the frame log among them).
QtMessageHandler previousHandler = nullptr;
void QuietRuntimeDirNote(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtWarningMsg && text.startsWith(QLatin1String("QStandardPaths: "))) return;
  if (previousHandler) previousHandler(type, context, text);
}

// QPdfWriter and QTextDocument need a QGuiApplication; the record needs no display, so the
// offscreen platform unless the user chose one (QT_QPA_PLATFORM).
std::unique_ptr<QGuiApplication> MakeGuiApplication() {
  static int argc = 1;
  static char name[] = "nx480ctl";
  static char platformOption[] = "-platform";
  static char offscreen[] = "offscreen";
  static char* argv[] = {name, platformOption, offscreen, nullptr};
  const char* chosen = std::getenv("QT_QPA_PLATFORM");
  argc = chosen && *chosen ? 1 : 3;
  previousHandler = qInstallMessageHandler(QuietRuntimeDirNote);
  return std::make_unique<QGuiApplication>(argc, argv);
}

// The rows of the record outside the profile, said on standard error; how many.
size_t SayOutside(const CommissioningRecord& record) {
  size_t outside = 0;
  for (const RowCheck& check :
       CheckSettings(*record.profile, record.settings, record.session.firmware)) {
    if (check.verdict != RowVerdict::Outside) continue;
    ++outside;
    Say(std::string(check.row->parameter->name) + " " + check.valueText + " is outside " +
        check.rangeText);
  }
  return outside;
}

}  // namespace

Exit RunReport(const Invocation& invocation) {
  std::optional<ParsedProfile> parsed;
  if (!invocation.profile.empty()) {
    parsed = ProfileOf(invocation.profile);
    if (!parsed) return Exit::BadFile;  // nothing read from the relay, nothing written
  }
  const std::unique_ptr<QGuiApplication> application = MakeGuiApplication();
  // The record's language as the windows choose theirs; nx480ctl's own words stay English.
  const std::optional<Language> asked = LanguageNamed(invocation.language);
  if (!UseLanguage(asked.value_or(LanguageOfLocale(QLocale::system()))) && asked)
    Say("the English translation could not be loaded; the record is in Czech");

  RecordPage page;  // outlives the relay's worker, which serves its request
  RelayLink relay(invocation);
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  relay.Start(page.Requests());
  bool interrupted = false;
  if (!relay.MaySend()) return Exit::Interrupted;
  page.request.Post();
  // Ctrl-C as the record window's closing: the read ends after the exchange in progress.
  if (const Exit served =
          relay.AwaitWhile([&page] { return !page.done.load(std::memory_order_acquire); },
                           [&] {
                             interrupted = true;
                             page.request.Clear();
                           },
                           [&page] { page.request.Clear(); });
      served != Exit::Ok) {
    EndProgress();
    return served;
  }
  EndProgress();
  if (interrupted) {
    Say("interrupted after " + Counted(static_cast<size_t>(page.eventsRead.load()), "event") +
        "; no record written");
    return Exit::Interrupted;
  }
  if (page.end.outcome != Outcome::Ok) {
    Say("communication error: " + std::string(RecordPartName(page.end.failed)) + " read failed (" +
        LinkErrorText(page.end.outcome.error) + "); no record written");
    return ResultOf(page.end.outcome);
  }

  CommissioningRecord& record = page.record;
  CompleteRecord(record, relay.Session());
  record.site = invocation.site;
  record.technician = invocation.technician;
  if (parsed) record.profile = parsed->profile;

  FileError error;
  if (!WriteCommissioningPdf(invocation.file, record, error)) {
    Say("bad file: " + invocation.file + ": " + FileErrorText(error) + "; no record written");
    return Exit::BadFile;
  }
  Print("record: " + invocation.file + "\n" + "events: " + std::to_string(record.events.size()) +
        "\n" + "settings sha256: " + SettingsImageSha256(record.settings) + "\n");
  if (record.profile && SayOutside(record) > 0) return Exit::Differs;
  return Exit::Ok;
}

}  // namespace nx480::ctl
