// Text in Windows-1250, the code page of the relay's identification and of the files the tool
// exports, converted with the C library's iconv (POSIX) or the system's code page (Windows), to
// the same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nx480 {

// Windows-1250 bytes as UTF-8; a byte the code page leaves undefined becomes U+FFFD.
std::string Cp1250ToUtf8(std::string_view bytes);

// UTF-8 text as Windows-1250 bytes. False when a character has no Windows-1250 form (it is
// written as "?") or the text is not valid UTF-8; `firstBad` (when given) then receives the
// offset in `text` of the first such character, or text.size() when no character is to blame
// (the system has no converter).
bool Utf8ToCp1250(std::string_view text, std::string& bytes, size_t* firstBad = nullptr);

// The length of the valid UTF-8 sequence at text[i], 0 when there is none.
size_t Utf8Length(std::string_view text, size_t i);

// The text as one clean line: what is not UTF-8 becomes U+FFFD, a control character a space.
std::string CleanLine(std::string_view text);

// A file's text as a message quotes it, safe for a terminal and whole in a message box: every
// control character (C0 with NUL, ESC, tab and line breaks; DEL; C1 U+0080-U+009F) and every
// byte that is not UTF-8 escaped as \xNN (\u0080-\u009F for C1), the rest as it is.
std::string QuotedText(std::string_view text);

}  // namespace nx480
