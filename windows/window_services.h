// What every window of the tool uses the same way: its fonts and its dialogs. The dialogs are
// one replaceable set, so that tests run without modal windows.
#pragma once

#include <QFont>
#include <QString>
#include <functional>

class QWidget;

// The program's name, the title of its exception and conversion messages.
inline constexpr const char* kProgramTitle = "NX480 - PC";

// "MS Sans Serif" of the layouts: the system sans at the same pixel size.
QFont SystemFont(int pixels, bool bold = false);
// "Arial": Liberation Sans stands in for it where Arial is not installed (same metrics).
QFont ArialFont(int pixels, bool bold = false);

// A file dialog: its filter ("Nastavení NX480 (*.nx4);;Vše (*.*)") and the extension added to a
// name typed without one.
struct FileDialogSpec {
  QString filter;
  QString defaultSuffix;
};

struct Dialogs {
  // The chosen path, or empty when the user cancels; `preset` is the name shown first. The save
  // dialog asks before a file is replaced.
  std::function<QString(QWidget* parent, const FileDialogSpec& spec, const QString& preset)>
      chooseOpenFile;
  std::function<QString(QWidget* parent, const FileDialogSpec& spec, const QString& preset)>
      chooseSaveFile;
  // A message box with an OK button: with the error icon, and without an icon.
  std::function<void(QWidget* parent, const QString& title, const QString& text)> error;
  std::function<void(QWidget* parent, const QString& title, const QString& text)> message;
  // The system's default beep.
  std::function<void()> beep;
};

// The program's dialogs: Qt's file dialogs and message boxes unless a test replaced them.
Dialogs& AppDialogs();
