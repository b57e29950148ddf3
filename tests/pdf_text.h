// The text of a PDF as `pdftotext -layout` reads it (poppler-utils), for tests that read a record
// back; NFKC, so that the font's ligatures ("ﬁ") read as their letters. Through popen
// (posix_spawn): a fork of a many-threaded test would be refused under ThreadSanitizer.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

inline QString PdfText(const QString& path) {
  FILE* pipe = ::popen(("pdftotext -layout '" + path.toStdString() + "' -").c_str(), "r");
  if (!pipe) return {};
  QByteArray text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    text.append(buffer, static_cast<qsizetype>(n));
  ::pclose(pipe);
  return QString::fromUtf8(text).normalized(QString::NormalizationForm_KC);
}
