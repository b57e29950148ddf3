// What every window of the tool uses the same way: its fonts and its dialogs. The dialogs are
// one replaceable set, so that tests run without modal windows.
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <functional>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

// The program's name, the title of its error boxes: an exception that reaches the event loop,
// a box that holds no number.
inline constexpr const char* kProgramTitle = "NX480 - PC";

// "MS Sans Serif" of the layouts: the system sans at the same pixel size.
QFont SystemFont(int pixels, bool bold = false);
// "Arial": Liberation Sans stands in for it where Arial is not installed (same metrics).
QFont ArialFont(int pixels, bool bold = false);

// Controls as every page makes them: named, placed, a label aligned as asked, a button that
// Enter does not press by default, a raised panel filled with its colour.
QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption, QRect where,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);
QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, QRect where);
QFrame* MakePanel(QWidget* parent, const QString& name, const QColor& colour, QRect where);
// The grey of the button panels ("NX480" with "Vyčti" and "Zapiš", "Soubor").
inline QColor PanelGrey() {
  return QColor(0xD4, 0xD0, 0xC8);
}

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
  // A question with "Ano" and "Ne", "Ne" preselected: true for "Ano".
  std::function<bool(QWidget* parent, const QString& title, const QString& text)> ask;
  // The system's default beep.
  std::function<void()> beep;
};

// The program's dialogs: Qt's file dialogs and message boxes unless a test replaced them.
Dialogs& AppDialogs();
