// The texts of the settings window's status line.
#pragma once

#include "outcome.h"

inline constexpr const char* kStatusOk = "O.K.";
inline constexpr const char* kStatusLinkError = "Chyba komunikace!";
inline constexpr const char* kStatusWrongCode = "Chybné heslo";
inline constexpr const char* kStatusNotConnected = "Přístroj není připojen";
inline constexpr const char* kStatusUnknown = "Odesláno, výsledek neznámý";

inline const char* StatusText(nx480::Outcome outcome) {
  switch (outcome) {
    case nx480::Outcome::Ok:
      return kStatusOk;
    case nx480::Outcome::CommunicationError:
      return kStatusLinkError;
    case nx480::Outcome::Refused:
      return kStatusWrongCode;
    case nx480::Outcome::Unknown:
      return kStatusUnknown;
  }
  return kStatusLinkError;
}
