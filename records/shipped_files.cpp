#include "shipped_files.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>

namespace nx480 {

QString QtTranslationsFolder(const QString& programFolder) {
  const QString shipped = QDir(programFolder).filePath(QStringLiteral("translations"));
  if (QFileInfo(QDir(shipped).filePath(QStringLiteral("qtbase_cs.qm"))).isFile()) return shipped;
  return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

}  // namespace nx480
