#include "media/record_set.h"

#include <cstdlib>

// strtoll rather than strtol: long is 32 bits on Windows and 64 bits elsewhere, and the
// saturation must not depend on it.
int32_t TextToInt32(const std::string& text) {
  const bool hex = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const long long value = std::strtoll(text.c_str(), nullptr, hex ? 16 : 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Same result as scanning "%I64d" into a zeroed variable, except that an overflow saturates
// instead of depending on the C runtime.
int64_t TextToInt64(const std::string& text) {
  return static_cast<int64_t>(std::strtoll(text.c_str(), nullptr, 10));
}

uint32_t TextToUInt32(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  // A sign never precedes digits strtoull would take as its own sign.
  if (*p == '-' || *p == '+') return 0;
  const unsigned long long value = std::strtoull(p, nullptr, hex ? 16 : 10);
  if (value > UINT32_MAX) return UINT32_MAX;
  const uint32_t magnitude = static_cast<uint32_t>(value);
  return negative ? 0u - magnitude : magnitude;
}
