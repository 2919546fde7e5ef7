#include "db/glob_match.h"

#include <cctype>
#include <cstring>

namespace {

bool SameChar(char a, char b, bool fold) {
  if (!fold) return a == b;
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

bool glob_match(const char* text, const char* pattern, bool fold) {
  for (;;) {
    const char p = *pattern;
    if (p == '\0') return *text == '\0';
    if (p == '*') {
      while (*pattern == '*') ++pattern;
      if (*pattern == '\0') return true;
      for (const char* at = text;; ++at) {
        if (glob_match(at, pattern, fold)) return true;
        if (*at == '\0') return false;
      }
    }
    if (*text == '\0') return false;
    if (p == '?') {
      ++text;
      ++pattern;
      continue;
    }
    if (p == '[') {
      const char* close = std::strchr(pattern + 1, ']');
      if (close != nullptr) {
        bool member = false;
        for (const char* m = pattern + 1; m < close && !member; ++m) member = SameChar(*m, *text, fold);
        if (!member) return false;
        ++text;
        pattern = close + 1;
        continue;
      }
    }
    if (p == '\\') {
      if (pattern[1] == '\0' || pattern[1] != *text) return false;
      ++text;
      pattern += 2;
      continue;
    }
    if (!SameChar(p, *text, fold)) return false;
    ++text;
    ++pattern;
  }
}
