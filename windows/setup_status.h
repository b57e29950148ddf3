// The texts of the settings window's status line.
#pragma once

#include <QString>

#include "outcome.h"

inline constexpr const char* kStatusOk = "O.K.";
inline constexpr const char* kStatusLinkError = "Chyba komunikace!";
inline constexpr const char* kStatusWrongCode = "Chybné heslo";
inline constexpr const char* kStatusNotConnected = "Přístroj není připojen";
inline constexpr const char* kStatusUnknown = "Odesláno, výsledek neznámý";

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
  }
  return QString::fromUtf8(kStatusLinkError);
}
