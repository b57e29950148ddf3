#include "text_codec.h"

#include <iconv.h>

#include <cerrno>

namespace nx480 {

namespace {

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

size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

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

}  // namespace nx480
