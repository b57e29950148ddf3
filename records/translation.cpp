#include "translation.h"

#include <atomic>

namespace nx480 {

namespace {
std::atomic<Translation> installed{nullptr};
}

std::string translate(const char* context, const char* source) {
  const Translation t = installed.load(std::memory_order_acquire);
  return t ? t(context, source) : std::string(source);
}

std::string Arg(std::string_view text, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const size_t n = static_cast<size_t>(text[i + 1] - '1');
      if (n < args.size()) {
        out += *(args.begin() + n);
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

void SetTranslation(Translation translation) {
  installed.store(translation, std::memory_order_release);
}

}  // namespace nx480
