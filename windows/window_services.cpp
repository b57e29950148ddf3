#include "window_services.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QString RunFileDialog(QWidget* parent, const FileDialogSpec& spec, const QString& preset,
                      bool save) {
  QFileDialog dialog(parent, QString(), QString(), spec.filter);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(spec.defaultSuffix);
  if (!preset.isEmpty()) dialog.selectFile(preset);
  if (dialog.exec() != QDialog::Accepted) return QString();
  return dialog.selectedFiles().value(0);
}

Dialogs MakeQtDialogs() {
  Dialogs d;
  d.chooseOpenFile = [](QWidget* parent, const FileDialogSpec& spec, const QString& preset) {
    return RunFileDialog(parent, spec, preset, false);
  };
  d.chooseSaveFile = [](QWidget* parent, const FileDialogSpec& spec, const QString& preset) {
    return RunFileDialog(parent, spec, preset, true);
  };
  d.error = [](QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
  };
  d.message = [](QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
  };
  d.beep = [] { QApplication::beep(); };
  return d;
}

}  // namespace

QFont SystemFont(int pixels, bool bold) {
  QFont font = QApplication::font();
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QFont ArialFont(int pixels, bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

Dialogs& AppDialogs() {
  static Dialogs dialogs = MakeQtDialogs();
  return dialogs;
}
