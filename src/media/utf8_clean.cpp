#include "media/utf8_clean.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// Reads the sequence at `at`. Returns its length when it is well formed; otherwise sets
// `*bad` and returns the length of its longest well-formed beginning (at least 1), which is
// replaced as one (the Unicode standard's "maximal subpart" practice). An encoded surrogate
// code point is replaced as one.
size_t SequenceAt(const unsigned char* text, size_t at, size_t size, bool* bad) {
  *bad = false;
  const unsigned char lead = text[at];
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    *bad = true;
    return 1;
  }
  if (lead == 0xED && size - at >= 3 && text[at + 1] >= 0xA0 && text[at + 1] <= 0xBF &&
      (text[at + 2] & 0xC0) == 0x80) {
    *bad = true;  // one surrogate code point, as UTF-16 text with a lone half converts to
    return 3;
  }
  for (size_t i = 1; i < length; ++i) {
    const unsigned char c = at + i < size ? text[at + i] : 0;
    const bool fits = i == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
    if (!fits) {
      *bad = true;
      return i;
    }
  }
  return length;
}

}  // namespace

std::string CleanUtf8(const char* text, size_t size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::string out;
  out.reserve(size);
  for (size_t at = 0; at < size;) {
    bool bad = false;
    const size_t length = SequenceAt(bytes, at, size, &bad);
    if (bad) {
      out += kReplacement;
    } else {
      out.append(text + at, length);
    }
    at += length;
  }
  return out;
}

std::string CleanUtf8(const std::string& text) { return CleanUtf8(text.data(), text.size()); }
