// The texts of the settings window's status line. Each is a source text of the translations
// (context "TFormSetup"); shown through StatusLineText().
#pragma once

#include <QCoreApplication>
#include <QString>

#include "outcome.h"

inline constexpr const char* kStatusOk = QT_TRANSLATE_NOOP("TFormSetup", "O.K.");
inline constexpr const char* kStatusLinkError =
    QT_TRANSLATE_NOOP("TFormSetup", "Chyba komunikace!");
inline constexpr const char* kStatusWrongCode = QT_TRANSLATE_NOOP("TFormSetup", "Chybné heslo");
inline constexpr const char* kStatusNotConnected =
    QT_TRANSLATE_NOOP("TFormSetup", "Přístroj není připojen");
// A write the user let go rather than send it without a backup.
inline constexpr const char* kStatusNotWritten =
    QT_TRANSLATE_NOOP("TFormSetup", "Nezapsáno, bez zálohy");
// A clock setting or a forced relay output the user let go rather than send it without its
// journal entry.
inline constexpr const char* kStatusNotSet =
    QT_TRANSLATE_NOOP("TFormSetup", "Nenastaveno, bez zálohy");
// A history clearing the user let go rather than send it without a backup.
inline constexpr const char* kStatusNotCleared =
    QT_TRANSLATE_NOOP("TFormSetup", "Nesmazáno, bez zálohy");
inline constexpr const char* kStatusUnknown =
    QT_TRANSLATE_NOOP("TFormSetup", "Odesláno, výsledek neznámý");
// A write read back with other values; TFormSetup::ShowDiffering adds the names: "Uloženo
// jinak: Uu1, tRel".
inline constexpr const char* kStatusDiffers = QT_TRANSLATE_NOOP("TFormSetup", "Uloženo jinak");

// A status text above, translated.
inline QString StatusLineText(const char* text) {
  return QCoreApplication::translate("TFormSetup", text);
}

inline QString StatusText(nx480::Outcome outcome) {
  switch (outcome) {
    case nx480::Outcome::Ok:
      return StatusLineText(kStatusOk);
    case nx480::Outcome::CommunicationError:
      return StatusLineText(kStatusLinkError);
    case nx480::Outcome::Refused:
      return StatusLineText(kStatusWrongCode);
    case nx480::Outcome::Unknown:
      return StatusLineText(kStatusUnknown);
    case nx480::Outcome::Differs:
      return StatusLineText(kStatusDiffers);
  }
  return StatusLineText(kStatusLinkError);
}
