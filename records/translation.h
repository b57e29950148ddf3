// Texts the windows show that are made here, below the windows, in the windows' language. The
// Czech text in the code is the source; translate() gives the translation the program installed
// (the windows install Qt's, records/language.h) or the source itself where none is installed
// (nx480ctl, tests). Plain C++, so that these libraries stay free of Qt.
//
// lupdate finds the texts by the name `translate` and by QT_TRANSLATE_NOOP (for a text kept in a
// constant and translated where it is used); the .ts lists them under their context.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, x) x  // as Qt defines it
#endif

namespace nx480 {

// The translation of `source` (UTF-8, Czech) in `context`, or `source`.
std::string translate(const char* context, const char* source);

// `text` with %1 ... %9 replaced by `args` (the first for %1); "%%" is not special.
std::string Arg(std::string_view text, std::initializer_list<std::string_view> args);

// Installed once, before any thread but the first runs; nullptr: none.
using Translation = std::string (*)(const char* context, const char* source);
void SetTranslation(Translation translation);

}  // namespace nx480
