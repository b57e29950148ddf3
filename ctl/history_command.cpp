#include "history_command.h"

#include <QDate>
#include <QTime>
#include <atomic>
#include <span>

#include "atomic_file.h"
#include "command_table.h"
#include "commands.h"
#include "date_time_text.h"
#include "history_transaction.h"
#include "output.h"
#include "relay_link.h"
#include "text_codec.h"

namespace nx480::ctl {

namespace {

// The history window as the walk sees it; its steps run on the worker.
class HistoryList : public HistoryWindow {
 public:
  void BeginReading(int32_t) override { records.clear(); }
  void ShowHistoryRecord(const HistoryRecord& record) override {
    records.push_back(record);
    ShowProgress("reading the event history: " + Counted(records.size(), "record"));
  }
  int32_t RequestedReading() const override { return request.Value(); }

  std::vector<HistoryRecord> records;
  HistoryWalk walk;
  bool failed = false;  // the walk threw
  std::atomic<bool> done{false};
  Request request;
};

std::string EndText(HistoryEnd end) {
  switch (end) {
    case HistoryEnd::PointerFailed:
      return "the history pointer could not be read";
    case HistoryEnd::BadSize:
      return "the history size code gives no ring";
    case HistoryEnd::BadPointer:
      return "the history pointer is outside the ring";
    case HistoryEnd::RecordFailed:
      return "a record could not be read";
    case HistoryEnd::Interrupted:
      return "the reading was stopped";
    case HistoryEnd::EmptySlot:
    case HistoryEnd::Closed:
    case HistoryEnd::AllRead:
      break;
  }
  return "";
}

}  // namespace

std::vector<HistoryRow> HistoryTable(const std::vector<HistoryRecord>& records) {
  return nx480::HistoryTable(records, [](const EventStamp& t) {
    return DateAndTimeText(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second))
        .toStdString();
  });
}

Exit RunHistory(const Invocation& invocation) {
  HistoryList list;
  RelayLink relay(invocation);
  if (const Exit connected = relay.Connect(); connected != Exit::Ok) return connected;
  relay.Start({{.slot = kHistoryRequest,
                .request = &list.request,
                .transaction =
                    [&list](TModbus& link) {
                      list.walk = ReadHistory(link, list);
                      list.done.store(true);
                    },
                .onException =
                    [&list](TModbus&) {
                      list.failed = true;
                      list.done.store(true);
                    }}});
  if (!relay.MaySend()) return Exit::Interrupted;
  list.request.Set(1);
  // Ctrl-C as the window's closing: the walk ends after the record in progress. Its records are
  // counted once the walk has returned (or the worker is parked, after a second one).
  const Exit served =
      relay.AwaitWhile([&list] { return !list.done.load(); }, [&list] { list.request.Clear(); },
                       [&list] { list.request.Clear(); });
  EndProgress();
  if (served == Exit::Interrupted || list.walk.end == HistoryEnd::Closed) {
    Say("interrupted after " + Counted(list.records.size(), "record") + "; " +
        (invocation.file.empty() ? "nothing written" : "no file written"));
    return Exit::Interrupted;
  }
  if (served != Exit::Ok) return served;
  if (list.failed || !EndText(list.walk.end).empty()) {
    Say("communication error: " + (list.failed ? "the reading failed" : EndText(list.walk.end)) +
        "; nothing written");
    return Exit::Communication;
  }

  std::string bytes;
  if (!HistoryCsv(HistoryTable(list.records), bytes)) {
    Say("bad file: the table holds a character that Windows-1250 cannot write; nothing written");
    return Exit::BadFile;
  }
  if (invocation.file.empty() || invocation.utf8) bytes = Cp1250ToUtf8(bytes);
  if (invocation.file.empty()) {
    Print(bytes);
    return Exit::Ok;
  }
  FileError error;
  if (!WriteFileAtomically(invocation.file,
                           std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                           error)) {
    Say("bad file: " + invocation.file + ": " + FileErrorText(error));
    return Exit::BadFile;
  }
  Say(std::to_string(list.records.size()) + " events written to " + invocation.file);
  return Exit::Ok;
}

namespace {

std::string ParseHistory(const CommandWords& given, Invocation& inv) {
  inv.command = Command::History;
  if (given.Has("--csv")) inv.file = given.Value("--csv");
  inv.utf8 = given.Has("--utf8");
  return given.Count(0, "");
}

}  // namespace

const CommandRow kHistoryCommandRow = {
    .name = "history",
    .options = {{"--csv", true}, {"--utf8", false}},
    .parse = ParseHistory,
    .run = RunHistory,
    .overview = {{"history [--csv FILE]", "the event history as the window exports it"}},
    .help =
        "Usage: nx480ctl history [--csv FILE] [--utf8]\n"
        "\n"
        "Reads the relay's event history, newest event first, and writes the history\n"
        "window's export: a title line, every cell followed by \";\", lines ended by\n"
        "CR LF, dates and times in the user's regional formats.\n"
        "\n"
        "  --csv FILE  the file to write (replaced whole, or left as it was); without it\n"
        "              the export goes to standard output\n"
        "  --utf8      UTF-8 instead of the window's Windows-1250 (the default for a file;\n"
        "              standard output is always UTF-8)\n"
        "\n"
        "Nothing is written when the history cannot be read to its end (exit code 4),\n"
        "or when Ctrl-C stops it after the record in progress (exit code 130; it says\n"
        "how many records were read). The records read are counted on standard error\n"
        "while it is a terminal.\n",
};

}  // namespace nx480::ctl
