#include "profile_file.h"

#include <QCoreApplication>
#include <QFile>
#include <string>

QString FileProblemReason(const nx480::FileError& error) {
  QString reason = QString::fromStdString(nx480::FileProblemText(error.problem));
  const std::string system = nx480::SystemErrorText(error);
  if (!system.empty()) reason += QString("\n(%1)").arg(QString::fromLocal8Bit(system.c_str()));
  return reason;
}

void ShowFileError(QWidget* parent, const QString& what, const QString& path,
                   const nx480::FileError& error) {
  AppDialogs().error(parent, QCoreApplication::translate("ProfileFile", "Chyba"),
                     QString("%1:\n%2\n%3").arg(what, path, FileProblemReason(error)));
}

FileDialogSpec ProfileFileDialog() {
  return {QCoreApplication::translate("ProfileFile", "Profil sítě (*.txt);;Vše (*)"),
          QStringLiteral("txt")};
}

std::optional<nx480::GridProfile> LoadProfileOrSay(QWidget* parent, const QString& path) {
  nx480::ParsedProfile parsed = nx480::LoadGridProfile(QFile::encodeName(path).toStdString());
  if (parsed.fileError.problem != nx480::FileProblem::None) {
    ShowFileError(parent, QCoreApplication::translate("ProfileFile", "Profil nelze otevřít"), path,
                  parsed.fileError);
    return std::nullopt;
  }
  if (!parsed.Ok()) {
    QString text =
        QCoreApplication::translate("ProfileFile", "Chybný profil, nic nezkontrolováno:\n%1")
            .arg(path);
    if (parsed.tooLarge)
      text += QCoreApplication::translate("ProfileFile", "\nvětší než %1 bajtů")
                  .arg(nx480::kMaxProfileBytes);
    // The profile's errors ("FILE:LINE: what") are the file format's, in English as nx480ctl
  // prints them.
    for (const std::string& error : parsed.errors) text += "\n" + QString::fromStdString(error);
    AppDialogs().error(parent, QCoreApplication::translate("ProfileFile", "Chyba"), text);
    return std::nullopt;
  }
  return std::move(parsed.profile);
}
