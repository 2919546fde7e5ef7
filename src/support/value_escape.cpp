#include "support/value_escape.h"

#include <cctype>

std::string EscapeValueText(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b == 0x0A) {
      out += "\\n";
    } else if (b < 0x20 || b == 0x22 || b == 0x7F) {
      out += "\\x";
      out += kDigits[b >> 4];
      out += kDigits[b & 0xF];
    } else if (b == 0x5C) {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeValueText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (next == '\\') {
      out += '\\';
      ++i;
    } else if (next == 'n') {
      out += '\n';
      ++i;
    } else if (next == 'x' && i + 3 < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
      out += static_cast<char>(16 * HexDigitValue(text[i + 2]) + HexDigitValue(text[i + 3]));
      i += 3;
    }
    // Anything else: the '\' alone is dropped and the next character copied as it stands.
  }
  return out;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}
