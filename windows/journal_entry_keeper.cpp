#include "journal_entry_keeper.h"

#include <QCoreApplication>
#include <utility>

#include "window_services.h"

namespace {

QString ProblemText(const nx480::FileError& error) {
  QString reason = QString::fromStdString(nx480::FileProblemText(error.problem));
  const std::string system = nx480::SystemErrorText(error);
  if (!system.empty()) reason += QString(" (%1)").arg(QString::fromLocal8Bit(system.c_str()));
  return reason;
}

}  // namespace

bool JournalEntryKeeper::TryOpen(nx480::JournalEntry entry, QString& reason) {
  entry_.reset();
  const std::optional<std::string> root = nx480::JournalRoot();
  if (!root) {
    reason = QCoreApplication::translate("JournalEntryKeeper", "není složka pro data");
    return false;
  }
  nx480::FileError error;
  if (!nx480::OpenJournalEntry(*root, entry, error)) {
    reason = ProblemText(error);
    return false;
  }
  entry_ = std::move(entry);
  root_ = *root;
  if (Written) Written();
  return true;
}

bool JournalEntryKeeper::Open(QWidget* parent, nx480::JournalEntry entry, const QString& goOn) {
  QString reason;
  return TryOpen(std::move(entry), reason) || AskWithout(parent, reason, goOn);
}

bool JournalEntryKeeper::AskWithout(QWidget* parent, const QString& reason, const QString& goOn) {
  return AppDialogs().ask(
      parent, kProgramTitle,
      QCoreApplication::translate("JournalEntryKeeper", "Zálohu nelze uložit: %1. %2")
          .arg(reason, goOn));
}

std::function<void()> JournalEntryKeeper::Written;

void JournalEntryKeeper::Close(QWidget* parent, nx480::Outcome outcome,
                               std::vector<nx480::JournalText> details, bool tell) {
  if (!entry_) return;  // changed without an entry
  nx480::SetOutcome(*entry_, outcome, std::move(details));
  CloseAs(parent, tell);
}

void JournalEntryKeeper::Close(QWidget* parent, nx480::JournalOutcome outcome,
                               std::vector<nx480::JournalText> results,
                               std::vector<nx480::JournalText> details, bool tell) {
  if (!entry_) return;
  entry_->outcome = outcome;
  entry_->results = std::move(results);
  for (nx480::JournalText& line : details) entry_->details.push_back(std::move(line));
  CloseAs(parent, tell);
}

void JournalEntryKeeper::CloseAs(QWidget* parent, bool tell) {
  nx480::FileError error;
  if (!nx480::CloseJournalEntry(root_, *entry_, error) && tell) {
    AppDialogs().error(
        parent, kProgramTitle,
        QCoreApplication::translate("JournalEntryKeeper",
                                    "Výsledek nelze zapsat do deníku (%1): %2. Deník je "
                                    "neúplný: záznam zůstává nedokončený.")
            .arg(QString::fromStdString(nx480::JournalEntryName(*entry_)), ProblemText(error)));
  }
  entry_.reset();
  if (Written) Written();
}
