#include "journal_entry.h"

#include <atomic>
#include <utility>

#include "output.h"
#include "places.h"

namespace nx480::ctl {

namespace {

std::atomic<bool> leftIncomplete{false};

}  // namespace

bool JournalLeftIncomplete() {
  return leftIncomplete.load();
}

bool JournalEntryKeeper::Open(JournalEntry entry) {
  openError.clear();
  entry_.reset();
  const Places places = CurrentPlaces();
  const std::optional<std::string> root = places.Journal();
  if (!root) {
    openError = "no folder for the journal: " + places.data.problem;
    return false;
  }
  FileError error;
  if (!OpenJournalEntry(*root, entry, error)) {
    openError = *root + ": " + FileErrorText(error);
    return false;
  }
  entry_ = std::move(entry);
  root_ = *root;
  return true;
}

void JournalEntryKeeper::Close(Outcome outcome, std::vector<JournalText> details) {
  if (!entry_) return;
  SetOutcome(*entry_, outcome, std::move(details));
  CloseAs();
}

void JournalEntryKeeper::Close(JournalOutcome outcome, std::vector<JournalText> results,
                               std::vector<JournalText> details) {
  if (!entry_) return;
  entry_->outcome = outcome;
  entry_->results = std::move(results);
  for (JournalText& line : details) entry_->details.push_back(std::move(line));
  CloseAs();
}

void JournalEntryKeeper::CloseAs() {
  FileError error;
  if (!CloseJournalEntry(root_, *entry_, error)) {
    closeError = root_ + ": " + FileErrorText(error);
    leftIncomplete.store(true);
  }
  entry_.reset();
}

}  // namespace nx480::ctl
