// The texts of the settings window's status line.
#pragma once

#include <QString>

#include "outcome.h"

inline constexpr const char* kStatusOk = "O.K.";
inline constexpr const char* kStatusLinkError = "Chyba komunikace!";
inline constexpr const char* kStatusWrongCode = "Chybné heslo";
inline constexpr const char* kStatusNotConnected = "Přístroj není připojen";
// A write the user let go rather than send it without a backup.
inline constexpr const char* kStatusNotWritten = "Nezapsáno, bez zálohy";
// A clock setting or a forced relay output the user let go rather than send it without its
// journal entry.
inline constexpr const char* kStatusNotSet = "Nenastaveno, bez zálohy";
// A history clearing the user let go rather than send it without a backup.
inline constexpr const char* kStatusNotCleared = "Nesmazáno, bez zálohy";
inline constexpr const char* kStatusUnknown = "Odesláno, výsledek neznámý";
// A write read back with other values; TFormSetup::ShowDiffering adds the names: "Uloženo
// jinak: Uu1, tRel".
inline constexpr const char* kStatusDiffers = "Uloženo jinak";

inline QString StatusText(nx480::Outcome outcome) {
  switch (outcome) {
    case nx480::Outcome::Ok:
      return QString::fromUtf8(kStatusOk);
    case nx480::Outcome::CommunicationError:
      return QString::fromUtf8(kStatusLinkError);
    case nx480::Outcome::Refused:
      return QString::fromUtf8(kStatusWrongCode);
    case nx480::Outcome::Unknown:
      return QString::fromUtf8(kStatusUnknown);
    case nx480::Outcome::Differs:
      return QString::fromUtf8(kStatusDiffers);
  }
  return QString::fromUtf8(kStatusLinkError);
}
