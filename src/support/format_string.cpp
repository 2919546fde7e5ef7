#include "support/format_string.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

constexpr int kFirstBuffer = 128;
constexpr int kLongestText = 0x10000;

int FormatInto(char* buffer, size_t limit, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(buffer, limit + 1, format, copy);
  va_end(copy);
  return n;
}

int FormatInto(wchar_t* buffer, size_t limit, const wchar_t* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vswprintf(buffer, limit + 1, format, copy);
  va_end(copy);
  return n;
}

// A small buffer first; then buffers that double until the text fits, cut at 65536
// characters. A formatter that reports the length it needs gets one exact second try.
template <typename Char>
std::basic_string<Char> Format(const Char* format, va_list args) {
  Char small[kFirstBuffer] = {};
  int n = FormatInto(small, kFirstBuffer - 1, format, args);
  if (n >= 0 && n < kFirstBuffer - 1) return std::basic_string<Char>(small, n);
  if (n >= 0 && n <= kLongestText) {
    std::vector<Char> buffer(n + 1);
    const int m = FormatInto(buffer.data(), n, format, args);
    if (m == n) return std::basic_string<Char>(buffer.data(), n);
  }
  for (int limit = 256;; limit *= 2) {
    if (limit > kLongestText) limit = kLongestText;
    std::vector<Char> buffer(limit + 1);
    const int m = FormatInto(buffer.data(), limit, format, args);
    if (m >= 0 && m <= limit) return std::basic_string<Char>(buffer.data(), m);
    if (limit == kLongestText) {
      // vsnprintf reports the whole length and keeps what fits; vswprintf fails outright and
      // leaves nothing defined, so keep only what it terminated.
      buffer[limit] = 0;
      return std::basic_string<Char>(buffer.data());
    }
  }
}

}  // namespace

std::string FormatStringV(const char* format, va_list args) { return Format(format, args); }

std::string FormatString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatStringV(format, args);
  va_end(args);
  return text;
}

std::wstring FormatWideStringV(const wchar_t* format, va_list args) {
  return Format(format, args);
}

std::wstring FormatWideString(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = FormatWideStringV(format, args);
  va_end(args);
  return text;
}
