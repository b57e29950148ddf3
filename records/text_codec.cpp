#include "text_codec.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace nx480 {

namespace {

#ifndef _WIN32
// One conversion descriptor per call: cheap enough for identification texts and export lines,
// and free of shared state between threads.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) ::iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts `in`; on an input sequence it cannot convert, skips skipAt(position) bytes and
  // appends `replacement`. Returns false when that happened, with the offset of the first such
  // sequence in `firstBad`.
  template <typename SkipAt>
  bool Convert(std::string_view in, std::string& out, SkipAt skipAt, std::string_view replacement,
               size_t* firstBad = nullptr) {
    bool clean = true;
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buffer[256];
    while (srcLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      const size_t r = ::iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a sequence it cannot convert, or one cut short).
      if (clean && firstBad) *firstBad = static_cast<size_t>(src - in.data());
      clean = false;
      out.append(replacement);
      const size_t skip = skipAt(static_cast<unsigned char>(*src));
      const size_t step = skip < srcLeft ? skip : srcLeft;
      src += step;
      srcLeft -= step;
    }
    return clean;
  }

 private:
  iconv_t cd_;
};

#endif  // !_WIN32

size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

#ifdef _WIN32

// Windows converts through the code page itself; what the iconv branch does with a byte or a
// character that has no counterpart is done here the same way.
std::string Cp1250ToUtf8(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  // A single-byte code page: one UTF-16 unit per byte. The bytes Windows-1250 leaves undefined
  // (0x81, 0x83, 0x88, 0x90, 0x98) come out as the C1 controls of their value, which no defined
  // byte gives: those become U+FFFD.
  std::wstring wide(bytes.size(), L'\0');
  if (::MultiByteToWideChar(1250, 0, bytes.data(), size, wide.data(), size) != size)
    return std::string(bytes);
  for (wchar_t& c : wide)
    if (c >= 0x80 && c <= 0x9F) c = 0xFFFD;
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

bool Utf8ToCp1250(std::string_view text, std::string& bytes, size_t* firstBad) {
  bytes.clear();
  if (firstBad) *firstBad = text.size();
  bool clean = true;
  const auto bad = [&](size_t at) {
    if (clean && firstBad) *firstBad = at;
    clean = false;
    bytes += '?';
  };
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      bytes += static_cast<char>(lead);
      ++i;
      continue;
    }
    const size_t length = Utf8Length(text, i);
    if (length == 0) {  // no UTF-8: skipped as far as its lead byte says, as iconv's caller does
      bad(i);
      const size_t skip = Utf8SequenceLength(lead);
      i += skip < text.size() - i ? skip : text.size() - i;
      continue;
    }
    wchar_t wide[2];
    const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data() + i,
                                            static_cast<int>(length), wide, 2);
    char out[4];
    BOOL usedDefault = FALSE;
    const int n = units > 0 ? ::WideCharToMultiByte(1250, WC_NO_BEST_FIT_CHARS, wide, units, out,
                                                    sizeof out, "?", &usedDefault)
                            : 0;
    if (n != 1 || usedDefault)
      bad(i);  // a character without a Windows-1250 form, skipped whole
    else
      bytes += out[0];
    i += length;
  }
  return clean;
}

#else

std::string Cp1250ToUtf8(std::string_view bytes) {
  std::string out;
  Iconv iconv("UTF-8", "WINDOWS-1250");
  if (!iconv.ok()) return std::string(bytes);
  iconv.Convert(
      bytes, out, [](unsigned char) { return size_t{1}; }, "\xEF\xBF\xBD");
  return out;
}

bool Utf8ToCp1250(std::string_view text, std::string& bytes, size_t* firstBad) {
  bytes.clear();
  if (firstBad) *firstBad = text.size();
  Iconv iconv("WINDOWS-1250", "UTF-8");
  if (!iconv.ok()) return false;
  // A character without a Windows-1250 form is skipped whole and written as "?".
  return iconv.Convert(text, bytes, Utf8SequenceLength, "?", firstBad);
}

#endif  // _WIN32

size_t Utf8Length(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string CleanLine(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8Length(text, i);
    const auto c = static_cast<uint8_t>(text[i]);
    if (length == 0) {
      clean += "\xEF\xBF\xBD";
      ++i;
    } else if (length == 1 && (c < 0x20 || c == 0x7F)) {
      clean += ' ';
      ++i;
    } else {
      clean.append(text.substr(i, length));
      i += length;
    }
  }
  return clean;
}

std::string QuotedText(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size());
  char escape[8];
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8Length(text, i);
    const auto c = static_cast<uint8_t>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0;
    if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7F))) {
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
      quoted += escape;
      ++i;
    } else if (length == 2 && c == 0xC2 && next < 0xA0) {
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(next));
      quoted += escape;
      i += 2;
    } else {
      quoted.append(text.substr(i, length));
      i += length;
    }
  }
  return quoted;
}

}  // namespace nx480
