// Text in Windows-1250, the code page of the relay's identification and of the files the tool
// exports, converted with the C library's iconv.
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

}  // namespace nx480
