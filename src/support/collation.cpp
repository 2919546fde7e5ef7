#include "support/collation.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "support/collation_fold_table.h"
#include "support/text_convert.h"

namespace {

const char* OrEmpty(const char* text) { return text ? text : ""; }

size_t Length(const char* text) { return std::strlen(text); }
size_t Length(const wchar_t* text) { return std::wcslen(text); }

const char* LastDot(const char* text) { return std::strrchr(text, '.'); }
const wchar_t* LastDot(const wchar_t* text) { return std::wcsrchr(text, L'.'); }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

template <typename Char>
void CopyKeepingExtensionUnits(Char* dst, const Char* name, size_t n) {
  if (n == 0) return;  // not even room for the NUL
  const size_t length = Length(name);
  const Char* dot = LastDot(name);
  size_t head = length < n ? length : n - 1;
  size_t tail = 0;
  if (length >= n && dot && n >= 2) {  // a one-unit buffer holds only the NUL
    tail = std::min(static_cast<size_t>(name + length - dot), n - 2);
    head = n - tail - 1;
  }
  std::copy(name, name + head, dst);
  if (tail > 0) std::copy(dot, dot + tail, dst + head);
  dst[head + tail] = 0;
}

uint16_t TableFold(uint16_t unit) {
  if (unit >= kCollationFoldWideFirst && unit <= kCollationFoldWideLast)
    return kCollationFoldWide[unit - kCollationFoldWideFirst];
  if (unit >= 0x2000 && unit <= 0x27FF) return 0;  // general punctuation to dingbats
  if (unit > kCollationFoldBasicLast) return unit;
  if (unit < kCollationFoldBasicFirst) return 0;
  return kCollationFoldBasic[unit - kCollationFoldBasicFirst];
}

}  // namespace

// The tables hold final values (folding twice changes nothing): CompareFolded folds a value
// it keeps once more, and sorting needs a consistent order.
uint16_t FoldForCollation(uint16_t unit) { return TableFold(unit); }

std::u16string CollationKey(const char* text) {
  text = OrEmpty(text);
  std::u16string key;
  while (*text != '\0') {
    const uint16_t folded = FoldForCollation(static_cast<uint16_t>(DecodeUtf8Char(text)));
    if (folded != 0) key.push_back(static_cast<char16_t>(folded));
  }
  return key;
}

int CompareFolded(const char* a, const char* b, int* tie_break) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  uint16_t c1 = 0;
  uint16_t c2 = 0;
  int tie = 0;
  for (;;) {
    // Code points are taken as UTF-16 units, cut to 16 bits as the players sort them.
    if (c1 == 0) c1 = static_cast<uint16_t>(DecodeUtf8Char(a));
    if (c2 == 0) c2 = static_cast<uint16_t>(DecodeUtf8Char(b));
    if (tie == 0) tie = c1 - c2;
    c1 = FoldForCollation(c1);
    c2 = FoldForCollation(c2);
    if ((c1 == 0 && *a != '\0') || (c2 == 0 && *b != '\0')) continue;
    if (c1 == 0 || c2 == 0) {
      if (tie_break) *tie_break = tie;
      return c1 - c2;
    }
    if (c1 != c2) return c1 - c2;
    c1 = c2 = 0;
  }
}

int CompareCollated(const char* a, const char* b) {
  int tie = 0;
  const int result = CompareFolded(a, b, &tie);
  return result != 0 ? result : tie;
}

std::u32string CollationLostCodePoints(const char* text) {
  text = OrEmpty(text);
  std::u32string lost;
  while (*text != '\0') {
    const char* start = text;
    const int32_t code_point = DecodeUtf8Char(text);
    if (code_point < 0) {
      for (; start != text; ++start)
        lost.push_back(static_cast<char32_t>(0x110000 + static_cast<uint8_t>(*start)));
    } else if (code_point > 0xFFFF) {
      lost.push_back(static_cast<char32_t>(code_point));
    }
  }
  return lost;
}

int32_t FindInSortedStrings(const char* block, size_t size, const char* key) {
  if (!block || !key || size == 0 || size > static_cast<size_t>(INT32_MAX)) return -1;
  // The last text may lack its NUL: it ends at size, so it is compared from a copy.
  size_t last = block[size - 1] == '\0' ? size - 1 : size;
  while (last > 0 && block[last - 1] != '\0') --last;
  const std::string last_text(block + last, size - last);
  auto text_at = [&](size_t offset) { return offset == last ? last_text.c_str() : block + offset; };

  size_t lo = 0;
  size_t hi = last;
  while (lo != hi) {
    size_t mid = lo + (hi - lo) / 2;
    while (mid > lo && block[mid - 1] != '\0') --mid;
    const int order = CompareCollated(text_at(mid), key);
    if (order == 0) return static_cast<int32_t>(mid);
    if (order > 0) {
      hi = mid;
    } else if (mid == lo) {
      lo += std::strlen(block + lo) + 1;  // lo < hi <= last: the text at lo has its NUL
    } else {
      lo = mid;
    }
  }
  return std::strcmp(text_at(lo), key) == 0 ? static_cast<int32_t>(lo) : -1;
}

bool StartsWithNoCase(const char* text, const char* prefix) {
  text = OrEmpty(text);
  for (prefix = OrEmpty(prefix); *prefix != '\0'; ++prefix, ++text) {
    if (AsciiLower(*text) != AsciiLower(*prefix)) return false;
  }
  return true;
}

const char* const ArticleList[kArticleCount] = {
    "a ",  "un ",  "une ", "the ", "le ",  "la ",  "l'",
    "les ", "der ", "die ", "das ", "ein ", "eine ", "einen ",
};

namespace {

// Skips the first article that starts text; returns its index, 0 without one.
int SkipArticle(const char*& text) {
  for (int i = 0; i < kArticleCount; ++i) {
    if (StartsWithNoCase(text, ArticleList[i])) {
      text += std::strlen(ArticleList[i]);
      return i;
    }
  }
  return 0;
}

}  // namespace

int ArticleSkippingCompare(const char* a, const char* b) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  const int article_a = SkipArticle(a);
  const int article_b = SkipArticle(b);
  int tie = 0;
  const int result = CompareFolded(a, b, &tie);
  if (result != 0) return result;
  if (article_a != article_b) return article_a - article_b;
  return tie;
}

void CopyKeepingExtension(char* dst, const char* name, size_t n) {
  CopyKeepingExtensionUnits(dst, OrEmpty(name), n);
}

void CopyKeepingExtensionWide(wchar_t* dst, const wchar_t* name, size_t n) {
  CopyKeepingExtensionUnits(dst, name ? name : L"", n);
}

void CopyKeepingExtensionUtf8(char* dst, const char* name, size_t n) {
  if (n == 0) return;  // not even room for the NUL
  name = OrEmpty(name);
  const char* dot = LastDot(name);
  size_t head = Utf8BoundedLength(name, n - 1);
  size_t tail = 0;
  if (std::strlen(name) >= n && dot && n >= 2) {
    tail = Utf8BoundedLength(dot, n - 2);
    head = Utf8BoundedLength(name, n - tail - 1);
  }
  std::memcpy(dst, name, head);
  if (tail > 0) std::memcpy(dst + head, dot, tail);
  dst[head + tail] = '\0';
}

std::string ToLowerCopy(const char* text) {
  std::string out(OrEmpty(text));
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string FormatFirmwareCode(int a, int b, int c, int d) {
  char text[64];
  std::snprintf(text, sizeof text, "8%02d%02d%02d%02d", a, b, c, d);
  return text;
}

const CodecDescription CodecDescriptionTable[] = {
    {"mp2", "MP2", "MPEG Layer 2", "mp2"},
    {"mp3", "MP3", "MPEG Layer 3", "mp3"},
    {"wma", "WMA", "Windows Media", "wma"},
    {"vorbis", "Vorbis", "Ogg Vorbis", "ogg"},
    {"flac", "FLAC", "FLAC (Fast Lossless Audio Codec)", "flac"},
    {"wave", "WAV", "WAV Audio", "wav"},
    {"wave-ima-adpcm", "WAV (IMA ADPCM)", "WAV Audio IMA ADPCM", "wav"},
    {nullptr, "Unknown", "Not recognised", nullptr},
};

const char* CodecFileExtension(const char* codec) {
  codec = OrEmpty(codec);
  const CodecDescription* row = CodecDescriptionTable;
  while (row->codec && _stricmp(row->codec, codec) != 0) ++row;
  return row->extension ? row->extension : "";
}
