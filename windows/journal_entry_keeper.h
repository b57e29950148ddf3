// A window's journal entry for one change, from before it goes out to its end: written first
// (or, when it cannot be, the user asked whether to go on without it), closed with the outcome.
// User-interface thread only: the pages call it from their synchronous steps.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "journal.h"

class QWidget;

class JournalEntryKeeper {
 public:
  // Writes `entry` into the journal (JournalRoot). When it cannot be written, asks
  // "Zálohu nelze uložit: <důvod>. <goOn>" (default No). True: the change may go out, with the
  // entry open, or without one because the user chose so.
  bool Open(QWidget* parent, nx480::JournalEntry entry, const QString& goOn);
  // After a change that Open let go: records `outcome` and `details` after the entry's own and
  // closes it; an entry that cannot be closed (it stays "pending") is reported in an error box.
  // Nothing without an open entry.
  void Close(QWidget* parent, nx480::JournalOutcome outcome, std::vector<std::string> details = {});
  // The entry between Open and Close; nullptr when none is open.
  const nx480::JournalEntry* Entry() const { return entry_ ? &*entry_ : nullptr; }

 private:
  std::optional<nx480::JournalEntry> entry_;
  std::string root_;
};
