// What ships beside the program where the system has no copy of its own (the Windows package):
// Qt's Czech translation in `<program folder>/translations/`, the commissioning record's DejaVu
// fonts in `<program folder>/fonts/`. Where they are not there (Linux: Debian's packages), Qt's
// own translations folder and the system's fonts serve as before.
#pragma once

#include <QString>
#include <QStringList>

namespace nx480 {

// `<programFolder>/translations` when it holds qtbase_cs.qm, else Qt's translations folder
// (QLibraryInfo). Qt Core.
QString QtTranslationsFolder(const QString& programFolder);

// Adds every font file (*.ttf) of `<programFolder>/fonts` to the application's fonts; returns
// the families added (none for a missing folder; a file that is no font is passed over).
// Needs a QGuiApplication.
QStringList LoadShippedFonts(const QString& programFolder);

}  // namespace nx480
