#include "profile_file.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <string>

namespace {

// A bad profile's message box: so many of its errors, each at most so many characters.
constexpr size_t kShownProfileErrors = 20;
constexpr qsizetype kProfileErrorLength = 200;

}  // namespace

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
    // prints them: the first kShownProfileErrors, each cut to a line's length, then how many
    // more, so that a file of errors makes a box of a screen's height.
    const size_t shown = std::min(parsed.errors.size(), kShownProfileErrors);
    for (size_t i = 0; i < shown; ++i) {
      const QString error = QString::fromStdString(parsed.errors[i]);
      text += "\n" + (error.size() > kProfileErrorLength
                          ? error.left(kProfileErrorLength - 1) + QChar(0x2026)
                          : error);
    }
    if (const size_t more = parsed.errors.size() - shown; more > 0) {
      //: After the first errors of a profile: how many more it has (%1, 1 and up).
      text += "\n" + (more < 5 ? QCoreApplication::translate("ProfileFile", "…a %1 další")
                               : QCoreApplication::translate("ProfileFile", "…a %1 dalších"))
                         .arg(more);
    }
    AppDialogs().error(parent, QCoreApplication::translate("ProfileFile", "Chyba"), text);
    return std::nullopt;
  }
  return std::move(parsed.profile);
}
