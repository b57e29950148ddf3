// The language of the windows' texts: Czech, the tool's own (the texts in the code are Czech),
// or English through the translation in translations/nx480-pc_en.ts, built into the program.
// Chosen from the user's locale - Czech for Czech and Slovak and for the C/POSIX locale, English
// otherwise - unless `--lang cs|en` says. Qt Core: the locale is QLocale's, the translation a
// QTranslator on the application.
//
// What follows the language: every text the windows show, the history export's titles and event
// names, the commissioning record. What does not: files' formats (settings files are bytes; the
// export stays Windows-1250 with ";" after every cell and CR LF), the relay's own names
// (Uu1, U>>, f<) and the decimal comma in the relay's values where the windows show them (the
// commissioning record takes the language's separator). nx480ctl speaks English.
#pragma once

#include <QLocale>
#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace nx480 {

enum class Language { Czech, English };

// Czech for Czech, Slovak and the C locale; English otherwise.
Language LanguageOfLocale(const QLocale& locale);

// "cs" or "en"; nullopt for anything else.
std::optional<Language> LanguageNamed(const std::string& name);

// Takes `--lang NAME` or `--lang=NAME` out of `arguments` (the first one counts; the others go
// too). Returns the language asked for, nullopt when none is; `error` is set (in English, for
// standard error) when the option has no value or an unknown one.
std::optional<Language> TakeLanguageOption(std::vector<std::string>& arguments, std::string& error);

// Installs the translation into the application for `language` (none for Czech) and remembers
// the language. False when the English translation cannot be loaded (the texts stay Czech).
// Qt's own texts (file dialogs, standard buttons) follow: Czech from Qt's qtbase_cs.qm where Qt
// keeps its translations (they stay English without it), English as Qt has them.
// Call after the QCoreApplication is made, before any window is.
bool UseLanguage(Language language);

// The language in use (Czech until UseLanguage says otherwise).
Language CurrentLanguage();

}  // namespace nx480
