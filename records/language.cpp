#include "language.h"

#include <QCoreApplication>
#include <QTranslator>
#include <atomic>

#include "shipped_files.h"
#include "translation.h"

namespace nx480 {

namespace {

std::atomic<Language> current{Language::Czech};

// The one translator, for the application's lifetime.
QTranslator& Translator() {
  static QTranslator translator;
  return translator;
}

// Qt's own texts (the file dialogs, the standard buttons): English as Qt has them, Czech from
// Qt's translations (qtbase_cs.qm: beside the program in the Windows package, else where Qt is
// installed: Debian's qt6-translations-l10n).
QTranslator& QtTranslator() {
  static QTranslator translator;
  return translator;
}

std::string Translate(const char* context, const char* source) {
  return QCoreApplication::translate(context, source).toStdString();
}

}  // namespace

Language LanguageOfLocale(const QLocale& locale) {
  switch (locale.language()) {
    case QLocale::Czech:
    case QLocale::Slovak:
    case QLocale::C:
      return Language::Czech;
    default:
      return Language::English;
  }
}

std::optional<Language> LanguageNamed(const std::string& name) {
  if (name == "cs") return Language::Czech;
  if (name == "en") return Language::English;
  return std::nullopt;
}

std::optional<Language> TakeLanguageOption(std::vector<std::string>& arguments,
                                           std::string& error) {
  std::optional<Language> chosen;
  bool seen = false;
  for (size_t i = 0; i < arguments.size();) {
    std::string value;
    size_t count = 1;
    if (arguments[i] == "--lang") {
      if (i + 1 < arguments.size()) value = arguments[i + 1], count = 2;
    } else if (arguments[i].starts_with("--lang=")) {
      value = arguments[i].substr(7);
    } else {
      ++i;
      continue;
    }
    if (!seen) {
      seen = true;
      chosen = LanguageNamed(value);
      if (!chosen)
        error = value.empty() ? "--lang needs a language: cs or en"
                              : "unknown language '" + value + "': cs or en";
    }
    arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                    arguments.begin() + static_cast<std::ptrdiff_t>(i + count));
  }
  return chosen;
}

bool UseLanguage(Language language) {
  QCoreApplication::removeTranslator(&Translator());
  QCoreApplication::removeTranslator(&QtTranslator());
  SetTranslation(nullptr);
  current = Language::Czech;
  if (language == Language::Czech) {
    // Without Qt's file, Qt's own texts stay English; the tool's are Czech all the same.
    if (QtTranslator().load(QStringLiteral("qtbase_cs"),
                            QtTranslationsFolder(QCoreApplication::applicationDirPath())))
      QCoreApplication::installTranslator(&QtTranslator());
    return true;
  }
  if (!Translator().load(QStringLiteral(":/i18n/nx480-pc_en.qm")) ||
      !QCoreApplication::installTranslator(&Translator()))
    return false;
  SetTranslation(&Translate);
  current = language;
  return true;
}

Language CurrentLanguage() {
  return current;
}

}  // namespace nx480
