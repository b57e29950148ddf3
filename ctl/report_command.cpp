// `nx480ctl report FILE.pdf [--profile PROFILE] [--technician NAME] [--site TEXT]`: the
// commissioning record (records/commissioning_record.h) of the connected relay.
#include <QGuiApplication>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>

#include "command_table.h"
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

namespace {

std::string ParseReport(const CommandWords& given, Invocation& inv) {
  const std::vector<std::string>& words = given.words;
  inv.command = Command::Report;
  if (given.Has("--profile")) {
    inv.profile = given.Value("--profile");
    if (inv.profile.empty()) return "--profile needs a profile (a file or a profile's name)";
  }
  if (given.Has("--technician")) inv.technician = given.Value("--technician");
  if (given.Has("--site")) inv.site = given.Value("--site");
  if (given.Has("--lang")) {
    inv.language = given.Value("--lang");
    if (inv.language != "cs" && inv.language != "en") return "--lang takes cs or en";
  }
  if (words.empty()) return "report needs a file (FILE.pdf)";
  if (words.size() > 1) return "unexpected argument '" + words[1] + "'";
  inv.file = words[0];
  return "";
}

}  // namespace

const CommandRow kReportCommandRow = {
    .name = "report",
    .options = {{"--profile", true}, {"--technician", true}, {"--site", true}, {"--lang", true}},
    .parse = ParseReport,
    .run = RunReport,
    .overview = {{"report FILE.pdf", "the commissioning record as a PDF"}},
    .help =
        "Usage: nx480ctl report FILE.pdf [--profile PROFILE] [--technician NAME]\n"
        "                       [--site TEXT] [--lang cs|en]\n"
        "\n"
        "The commissioning record as a PDF (A4; in Czech, or in English where the locale\n"
        "is neither Czech, Slovak nor C, as the windows choose): site, technician, date and\n"
        "time, the PC and this program's version; the relay's identification, serial\n"
        "number, firmware, temperature variant and port; its clock against the PC's;\n"
        "every settings row with its value (and % of 230 V); the calibration factors\n"
        "(with --service); the newest 100 events, newest first; this relay's change\n"
        "journal entries of the last 24 hours; the SHA-256 of the settings as a settings\n"
        "file holds them (what sha256sum prints for the file of settings read); and\n"
        "lines for the technician's and the operator's signature.\n"
        "\n"
        "  --profile PROFILE   each settings row with the profile's range and verdict\n"
        "                      (a file, or a profile's name as settings check takes it)\n"
        "  --technician NAME   the technician's name\n"
        "  --site TEXT         where the relay is installed\n"
        "  --lang cs|en        the record's language, whatever the locale\n"
        "\n"
        "The parts read are shown on standard error while it is a terminal. Nothing\n"
        "is written unless the whole record was read; an existing file is\n"
        "replaced whole. Exit code 1 when a row is outside the profile (the record is\n"
        "written), 4 when the relay stops answering (the part that failed is named),\n"
        "5 for a bad profile (nothing read) or a file that cannot be written.\n",
};

}  // namespace nx480::ctl
