// A window's journal entry for one change, from before it goes out to its end: written first
// (or, when it cannot be, the user asked whether to go on without it), closed with the outcome.
// User-interface thread only: the pages call it from their synchronous steps and handlers.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "journal_changes.h"

class QWidget;

class JournalEntryKeeper {
 public:
  // Writes `entry` into the journal (JournalRoot); false when it cannot be written, `reason`
  // saying why (Czech, with the system's text).
  bool TryOpen(nx480::JournalEntry entry, QString& reason);
  // TryOpen; when the entry cannot be written, the question "Zálohu nelze uložit: <důvod>.
  // <goOn>" (default No). True: the change may go out, with the entry open, or without one
  // because the user chose so.
  bool Open(QWidget* parent, nx480::JournalEntry entry, const QString& goOn);
  // The question alone, for an entry that TryOpen could not write.
  static bool AskWithout(QWidget* parent, const QString& reason, const QString& goOn);
  // After the change's transaction ended with `outcome`: records it (nx480::SetOutcome: the
  // outcome, what came of it, and `details` after the entry's own) and closes the entry. An entry
  // that cannot be closed, also at CloseJournalEntry's second try (it stays "pending"), is
  // reported in an error box - the journal is incomplete - when `tell`, else passed over (as the
  // program ends). Nothing without an open entry.
  void Close(QWidget* parent, nx480::Outcome outcome, std::vector<nx480::JournalText> details = {},
             bool tell = true);
  // The same with the outcome and what came of it given (a firmware upload, a change not sent).
  void Close(QWidget* parent, nx480::JournalOutcome outcome,
             std::vector<nx480::JournalText> results, std::vector<nx480::JournalText> details = {},
             bool tell = true);
  // The entry between Open and Close; nullptr when none is open.
  const nx480::JournalEntry* Entry() const { return entry_ ? &*entry_ : nullptr; }

  // Called after an entry was written or closed (the journal window reads its list again); set by
  // the main window, cleared when it goes.
  static std::function<void()> Written;

 private:
  void CloseAs(QWidget* parent, bool tell);

  std::optional<nx480::JournalEntry> entry_;
  std::string root_;
};
