#include "setup_page.h"

#include "form_setup.h"
#include "modbus.h"
#include "window_services.h"

SetupPage::SetupPage(TFormSetup& frame, const char* objectName) : frame_(frame) {
  setObjectName(objectName);
}

std::function<void(nx480::TModbus&)> SetupPage::ReportFailure() {
  return [this](nx480::TModbus& link) {
    link.Synchronize([this] { frame_.ShowStatus(nx480::Outcome::CommunicationError); });
  };
}

bool SetupPage::KeepJournalEntry(nx480::JournalEntry& entry, const char* goOnWithout,
                                 std::string& root) {
  root.clear();
  QString reason;
  if (const std::optional<std::string> folder = nx480::JournalRoot()) {
    nx480::FileError error;
    if (nx480::OpenJournalEntry(*folder, entry, error)) {
      root = *folder;
      return true;
    }
    reason = QString::fromStdString(nx480::FileProblemText(error.problem));
    const std::string system = nx480::SystemErrorText(error);
    if (!system.empty()) reason += QString(" (%1)").arg(QString::fromLocal8Bit(system.c_str()));
  } else {
    reason = QString::fromUtf8("není složka pro data");
  }
  const QString question =
      QString::fromUtf8("Zálohu nelze uložit: %1. %2").arg(reason, QString::fromUtf8(goOnWithout));
  return AppDialogs().ask(&Frame(), kProgramTitle, question);
}
