// A command's journal entry for one change, kept as the windows keep theirs (records/journal.h):
// written before the change goes out, closed with its outcome. Its steps run on the worker (the
// transactions' synchronous steps); the main thread reads the errors once the request is served.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "journal_changes.h"

namespace nx480::ctl {

// Whether an entry of this run could not be closed (after CloseJournalEntry's second try): the
// journal is incomplete, and the program ends with Exit::JournalIncomplete. Any thread.
bool JournalLeftIncomplete();

class JournalEntryKeeper {
 public:
  // Writes `entry` (made by NewJournalEntry); false, with `openError`, when it cannot be kept.
  bool Open(JournalEntry entry);
  // Records how the change's transaction ended (SetOutcome: the outcome, what came of it, more
  // detail lines) and closes the entry; a close that fails leaves `closeError`. Nothing without
  // an open entry.
  void Close(Outcome outcome, std::vector<JournalText> details = {});
  // The same with the outcome and what came of it given (a firmware upload).
  void Close(JournalOutcome outcome, std::vector<JournalText> results,
             std::vector<JournalText> details = {});
  // The entry between Open and Close; nullptr when none is open.
  const JournalEntry* Entry() const { return entry_ ? &*entry_ : nullptr; }

  std::string openError;   // why the entry could not be written (nothing was sent)
  std::string closeError;  // why its outcome could not be recorded (it stays pending)

 private:
  void CloseAs();
  std::optional<JournalEntry> entry_;
  std::string root_;
};

}  // namespace nx480::ctl
