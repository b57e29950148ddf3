// The fonts half of shipped_files.h (Qt Gui).
#include <QDir>
#include <QFontDatabase>

#include "shipped_files.h"

namespace nx480 {

QStringList LoadShippedFonts(const QString& programFolder) {
  const QDir fonts(QDir(programFolder).filePath(QStringLiteral("fonts")));
  QStringList families;
  for (const QString& name :
       fonts.entryList({QStringLiteral("*.ttf")}, QDir::Files | QDir::Readable, QDir::Name)) {
    const int id = QFontDatabase::addApplicationFont(fonts.filePath(name));
    if (id >= 0) families += QFontDatabase::applicationFontFamilies(id);
  }
  families.removeDuplicates();
  return families;
}

}  // namespace nx480
