#include "window_services.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

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
  d.ask = [](QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QPushButton* yes =
        box.addButton(QCoreApplication::translate("Dialogs", "&Ano"), QMessageBox::YesRole);
    box.setDefaultButton(
        box.addButton(QCoreApplication::translate("Dialogs", "&Ne"), QMessageBox::NoRole));
    box.exec();
    return box.clickedButton() == yes;
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

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption, QRect where,
                  Qt::Alignment align) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setGeometry(where);
  label->setAlignment(align);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, QRect where) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(where);
  button->setAutoDefault(false);
  return button;
}

QFrame* MakePanel(QWidget* parent, const QString& name, const QColor& colour, QRect where) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setAutoFillBackground(true);
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, colour);
  panel->setPalette(palette);
  panel->setGeometry(where);
  return panel;
}
