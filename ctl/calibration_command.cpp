// `nx480ctl --service calibration [show | set NAME=VALUE ... | clear-history]`.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

#include "calibration_record.h"
#include "calibration_transactions.h"
#include "command_table.h"
#include "commands.h"
#include "history_command.h"
#include "journal_changes.h"
#include "journal_entry.h"
#include "output.h"
#include "relay_link.h"

namespace nx480::ctl {

namespace {

// The "Kalibrace" page as the calibration transactions see it; its steps run on the worker, and
// the main thread reads what they left once the request is served.
class CalibrationPage : public CalibrationWindow {
 public:
  // The session of the relay the journal entries are for; set before the first request.
  const RelaySession* session = nullptr;
  // The description of a write's journal entry.
  JournalText description = Keyed("calibration-ctl", {"nx480ctl calibration set"});
  void StoreCalibration(const CalibrationWords& words) override { record = words; }
  void CalibrationToBoxes() override {}
  void StoreDifferences(const CalibrationWords&, const CalibrationWords&) override {}
  void ShowResult(Outcome shown) override { outcome = shown; }
  const CalibrationWords& WriteHandOver() const override { return writeRequest.Data(); }
  uint16_t ClearHistoryCode() const override { return kClearHistoryCode; }
  bool ClearingAsked() const override { return !dropped.load(std::memory_order_acquire); }

  // The change's journal entry, as the window keeps it; without it nothing is sent (no
  // question).
  bool JournalBefore(const CalibrationWords& held, const CalibrationWords& toWrite) override {
    JournalEntry entry = NewJournalEntry(*session, ChangeKind::Calibration, description);
    entry.details = CalibrationChangeDetails(held, toWrite);
    entry.backups.push_back(CalibrationBackup(held));
    written_ = toWrite;
    return journal.Open(std::move(entry));
  }
  void JournalAfter(Outcome shown, const CalibrationWords& held) override {
    journal.Close(shown, shown == Outcome::Differs ? CalibrationHeldDetails(written_, held)
                                                   : std::vector<JournalText>{});
  }
  std::optional<std::vector<uint8_t>> HistoryExport(
      const std::vector<HistoryRecord>& ring) override {
    std::string bytes;
    if (!HistoryCsv(HistoryTable(ring), bytes)) return std::nullopt;
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }
  bool JournalBeforeClearing(const std::optional<std::vector<uint8_t>>& historyCsv,
                             size_t records) override {
    EndProgress();
    if (!historyCsv) {
      journal.openError = "the history holds a character that Windows-1250 cannot write";
      return false;
    }
    JournalEntry entry =
        NewJournalEntry(*session, ChangeKind::HistoryClearing,
                        Keyed("clearing-ctl", {"nx480ctl calibration clear-history"}));
    entry.details.push_back(HistoryClearingDetail(records));
    entry.backups.push_back(HistoryBackup(*historyCsv));
    if (!journal.Open(std::move(entry))) return false;
    clearingSent.store(true);
    ShowProgress("clearing the event history (" + Counted(records, "record") +
                 " kept in the journal)");
    return true;
  }
  void JournalAfterClearing(Outcome shown) override {
    EndProgress();
    journal.Close(shown);
  }
  void ClearingProgress(int records, int slots) override {
    backupRecords.store(static_cast<size_t>(records));
    ShowProgress("reading the event history for the journal: " +
                 Counted(static_cast<size_t>(records), "record") +
                 (slots > 0 ? " of " + std::to_string(slots) : std::string()));
  }

  std::vector<RequestDecl> Requests() {
    auto failed = [this](TModbus&) { result = Exit::Communication; };
    auto judged = [this](void (*transaction)(TModbus&, CalibrationWindow&)) {
      return [this, transaction](TModbus& link) {
        transaction(link, *this);
        result = ResultOf(outcome);
      };
    };
    return {{.slot = kReadCalibrationRequest,
             .request = &readRequest,
             .transaction = judged(ReadCalibration),
             .onException = failed},
            {.slot = kWriteCalibrationRequest,
             .request = &writeRequest,
             .transaction = judged(WriteCalibration),
             .onException = failed},
            {.slot = kClearHistoryRequest,
             .request = &clearRequest,
             .transaction = judged(ClearHistory),
             .onException = failed}};
  }

  CalibrationWords record{};
  Outcome outcome = Outcome::CommunicationError;
  Exit result = Exit::Communication;
  Request readRequest;
  RequestWith<CalibrationWords> writeRequest;
  Request clearRequest;
  std::atomic<bool> dropped{false};       // Ctrl-C before the clearing went out: it is not sent
  std::atomic<size_t> backupRecords{0};   // read by the walk before the clearing
  std::atomic<bool> clearingSent{false};  // the walk was read whole and the entry kept
  JournalEntryKeeper journal;             // the change's entry; without it nothing is sent

 private:
  CalibrationWords written_{};
};

// Without a journal entry nothing was sent: the message, and the file error's exit code. An
// entry that could not be closed is told too.
std::optional<Exit> JournalFailed(const CalibrationPage& page, const char* what) {
  if (!page.journal.closeError.empty())
    Say("bad file: journal: " + page.journal.closeError + " (the entry stays pending)");
  if (page.journal.openError.empty()) return std::nullopt;
  Say("bad file: journal: " + page.journal.openError + "; nothing " + what + " (the backup of " +
      "what it replaces must be kept first)");
  return Exit::BadFile;
}

// The message of a transaction that failed with `result`.
Exit Failed(Exit result, const std::string& what) {
  Say((result == Exit::Refused ? "refused by the relay: " : "communication error: ") + what);
  return result;
}

// Posts and serves `request`; a message when it fails.
Exit Served(RelayLink& relay, CalibrationPage& page, Request& request,
            const std::function<void()>& post, const std::string& what) {
  if (const Exit served = relay.Serve(request, post); served != Exit::Ok) return served;
  return page.result == Exit::Ok ? Exit::Ok : Failed(page.result, what);
}

// The page's boxes: "KalU1   1.000" ..., "serial  001234".
std::string CalibrationTable(const CalibrationWords& record) {
  CalibrationBoxes boxes;
  CalibrationToBoxes(record, boxes);
  std::string text;
  for (int i = 0; i < kFactorCount; ++i)
    text += Column(kFactorNames[i], 8) + boxes.factor[i] + "\n";
  return text + Column("serial", 8) + (boxes.serial.empty() ? "none" : boxes.serial) + "\n";
}

// Writes `wanted` (the journal entry first), reads it back and prints it; the exit code.
Exit WriteRecord(RelayLink& relay, CalibrationPage& page, const CalibrationWords& wanted) {
  // The write reads the calibration back itself: Ok when equal, Differs with page.record
  // holding the relay's, Unknown when the read-back failed.
  page.result = Exit::Communication;
  page.outcome = Outcome::CommunicationError;
  const Exit served = relay.Serve(page.writeRequest, [&] { page.writeRequest.Post(wanted); });
  if (const std::optional<Exit> journal = JournalFailed(page, "written")) return *journal;
  if (served != Exit::Ok) return served;
  if (const std::optional<Exit> held = relay.HeldBack(page.outcome, "the calibration"))
    return *held;
  if (page.outcome == Outcome::CommunicationError)
    return Failed(page.result, "writing the calibration; nothing was written");
  if (page.outcome == Outcome::Unknown && !page.outcome.acknowledged)
    return Failed(page.result,
                  "writing the calibration, no valid acknowledgement (the relay may hold it: "
                  "read it back)");
  relay.SayIfInterruptedLate("the calibration");
  if (page.outcome == Outcome::Unknown) return Failed(page.result, "reading the calibration back");
  const bool differs = page.outcome == Outcome::Differs;
  Print(CalibrationTable(differs ? page.record : wanted));  // as read back
  if (differs) {
    Say("refused by the relay: the calibration read back differs from the values written");
    return Exit::Refused;
  }
  Say("calibration written, read back and equal");
  return Exit::Ok;
}

}  // namespace

Exit RunCalibration(const Invocation& invocation) {
  CalibrationPage page;  // outlives the relay's worker, which serves its requests
  RelayLink relay(invocation);
  page.session = &relay.Session();
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  relay.Start(page.Requests());

  if (invocation.command == Command::ClearHistory) {
    // Ctrl-C while the ring is read for the backup: the walk ends, and nothing is cleared.
    const Exit served = relay.Serve(
        page.clearRequest, [&page] { page.clearRequest.Post(); },
        [&page] { page.dropped.store(true, std::memory_order_release); });
    EndProgress();
    if (const std::optional<Exit> journal = JournalFailed(page, "cleared")) return *journal;
    // Stopped in the walk: nothing was sent. A clearing whose journal step had ended is held
    // back (below) or, sent already, was waited for.
    if (page.dropped.load() && !page.clearingSent.load()) {
      Say("interrupted after " + Counted(page.backupRecords.load(), "record") +
          " of the journal's backup; nothing cleared");
      return Exit::Interrupted;
    }
    if (served != Exit::Ok) return served;
    if (const std::optional<Exit> held = relay.HeldBack(page.outcome, "the clearing code"))
      return *held;
    relay.SayIfInterruptedLate("the clearing code");
    if (page.outcome == Outcome::Unknown)
      return Failed(page.result,
                    "clearing the event history, no valid answer (the relay may have cleared it)");
    if (page.result != Exit::Ok) return Failed(page.result, "clearing the event history");
    Say("event history cleared");
    return Exit::Ok;
  }

  if (const Exit read = Served(
          relay, page, page.readRequest, [&page] { page.readRequest.Post(); },
          "reading the calibration");
      read != Exit::Ok)
    return read;
  if (invocation.command == Command::Calibration) {
    Print(CalibrationTable(page.record));
    return Exit::Ok;
  }

  // The page's way: the boxes filled from the record read, the named ones changed, the record
  // built from all of them (words 4 and 7 as the relay has them).
  CalibrationBoxes boxes;
  CalibrationToBoxes(page.record, boxes);
  for (const auto& [name, value] : invocation.assignments) {
    if (name == "serial") boxes.serial = value;
    for (int i = 0; i < kFactorCount; ++i)
      if (name == kFactorNames[i]) boxes.factor[i] = value;
  }
  CalibrationWords wanted = page.record;
  std::string error;
  if (!BoxesToCalibration(boxes, wanted, error)) {
    Say("bad value: " + error);
    return Exit::Usage;
  }
  return WriteRecord(relay, page, wanted);
}

Exit WriteCalibrationRecord(
    const Invocation& invocation, CalibrationWords record, const JournalText& description,
    const std::function<Exit(const RelaySession&, const CalibrationWords& held,
                             CalibrationWords& record)>& prepare) {
  CalibrationPage page;  // outlives the relay's worker, which serves its requests
  RelayLink relay(invocation);
  page.session = &relay.Session();
  page.description = description;
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  relay.Start(page.Requests());
  if (const Exit read = Served(
          relay, page, page.readRequest, [&page] { page.readRequest.Post(); },
          "reading the calibration; nothing written");
      read != Exit::Ok)
    return read;
  if (prepare) {
    if (const Exit ready = prepare(relay.Session(), page.record, record); ready != Exit::Ok)
      return ready;
  }
  return WriteRecord(relay, page, record);
}

namespace {

constexpr const char* kCalibrationNames[] = {"KalU1", "KalU2", "KalU3", "KalF", "serial"};

// The calibration's forms, before the service check.
std::string CalibrationForm(const CommandWords& given, Invocation& inv) {
  const std::vector<std::string>& words = given.words;
  const std::string sub = words.empty() ? "show" : words[0];
  if (sub == "show") {
    inv.command = Command::Calibration;
    return given.AtMost(1);
  }
  if (sub == "clear-history") {
    inv.command = Command::ClearHistory;
    return given.AtMost(1);
  }
  if (sub != "set") return "unknown calibration command '" + sub + "'";
  inv.command = Command::CalibrationSet;
  if (words.size() < 2)
    return "calibration set needs NAME=VALUE (KalU1, KalU2, KalU3, KalF, serial)";
  for (size_t i = 1; i < words.size(); ++i) {
    const size_t equals = words[i].find('=');
    const std::string name = words[i].substr(0, equals);
    if (equals == std::string::npos ||
        std::find(std::begin(kCalibrationNames), std::end(kCalibrationNames), name) ==
            std::end(kCalibrationNames))
      return "'" + words[i] + "' is not NAME=VALUE with NAME KalU1, KalU2, KalU3, KalF or serial";
    for (const auto& [seen, value] : inv.assignments)
      if (seen == name) return name + " is given twice";
    inv.assignments.emplace_back(name, words[i].substr(equals + 1));
  }
  return "";
}

std::string ParseCalibration(const CommandWords& given, Invocation& inv) {
  std::string error = CalibrationForm(given, inv);
  if (error.empty() && !inv.service) error = "calibration is a service command: add --service";
  return error;
}

}  // namespace

const CommandRow kCalibrationCommandRow = {
    .name = "calibration",
    .options = {},
    .parse = ParseCalibration,
    .run = RunCalibration,
    .overview = {{"calibration [set|clear-history]", "calibration factors (with --service)"}},
    .help =
        "Usage: nx480ctl --service calibration [show]\n"
        "       nx480ctl --service calibration set NAME=VALUE ...\n"
        "       nx480ctl --service calibration clear-history\n"
        "\n"
        "Service commands (they need --service, as the window's \"Kalibrace\" page needs\n"
        "service mode).\n"
        "\n"
        "  show           the calibration factors KalU1-KalU3 and KalF and the serial\n"
        "                 number\n"
        "  set            writes the named values (KalU1, KalU2, KalU3 e.g. 1.002, KalF\n"
        "                 e.g. 1.0001, serial e.g. 1234), keeps the others, reads back\n"
        "  clear-history  empties the relay's event history with the access code;\n"
        "                 exit code 6 when the relay refuses it\n"
        "\n"
        "set keeps the calibration block, clear-history the whole event history (as\n"
        "history --csv writes it; nothing is cleared when it cannot be read to its end),\n"
        "in the change journal first: exit code 5 and nothing sent when it cannot.\n"
        "clear-history counts the records read on standard error while it is a terminal.\n",
};

}  // namespace nx480::ctl
