#include "support/text_convert.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

constexpr wchar_t kByteOrderMark = 0xFEFF;
constexpr wchar_t kSwappedByteOrderMark = 0xFFFE;
constexpr wchar_t kWideReplacement = 0xFFFD;
constexpr char kLatin1Replacement = static_cast<char>(0xBF);

bool IsContinuation(char c) { return (static_cast<uint8_t>(c) & 0xC0) == 0x80; }

// Callers hand over texts from foreign sources; a missing one reads as empty.
const char* OrEmpty(const char* text) { return text ? text : ""; }
const wchar_t* OrEmpty(const wchar_t* text) { return text ? text : L""; }

void AppendUtf16(std::wstring& out, int32_t code_point) {
  if (code_point < 0 || code_point > 0x10FFFF) {
    out.push_back(kWideReplacement);
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<wchar_t>(code_point));
  } else {
    const int32_t v = code_point - 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (v >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (v & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, uint32_t v) {
  if (v < 0x80) {
    out.push_back(static_cast<char>(v));
    return;
  }
  int continuations;
  if (v < 0x800) {
    out.push_back(static_cast<char>(0xC0 | v >> 6));
    continuations = 1;
  } else if (v < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | v >> 12));
    continuations = 2;
  } else {
    out.push_back(static_cast<char>(0xF0 | v >> 18));
    continuations = 3;
  }
  while (continuations-- > 0)
    out.push_back(static_cast<char>(0x80 | ((v >> (6 * continuations)) & 0x3F)));
}

// The two-call pattern of the code-page API: ask the length, then convert into a buffer of that
// size. The buffer lives on the heap since its size comes from the text.
template <typename Out, typename Convert>
Out ConvertCodePage(Convert convert) {
  const int size = convert(nullptr, 0);
  if (size <= 0) return Out();
  Out out(static_cast<size_t>(size) + 1, 0);
  if (convert(&out[0], size) == 0) return Out();
  out.resize(Out::traits_type::length(out.c_str()));
  return out;
}

}  // namespace

int32_t DecodeUtf8Char(const char*& cursor) {
  const auto lead = static_cast<uint8_t>(*cursor);
  if (lead == 0) return 0;
  if (lead < 0x80) {
    ++cursor;
    return lead;
  }
  int continuations;
  if ((lead & 0xE0) == 0xC0) {
    continuations = 1;
  } else if ((lead & 0xF0) == 0xE0) {
    continuations = 2;
  } else if ((lead & 0xF8) == 0xF0) {
    continuations = 3;
  } else if ((lead & 0xFC) == 0xF8) {
    continuations = 4;
  } else if ((lead & 0xFE) == 0xFC) {
    continuations = 5;
  } else {  // a stray continuation byte, 0xFE or 0xFF
    ++cursor;
    return -1;
  }
  static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
  uint32_t value = lead & (0x3F >> continuations);
  // The terminating NUL is no continuation byte, so this never reads past the text.
  for (int i = 1; i <= continuations; ++i) {
    if (!IsContinuation(cursor[i])) {
      ++cursor;
      return -1;
    }
    value = value << 6 | (static_cast<uint8_t>(cursor[i]) & 0x3F);
  }
  cursor += continuations + 1;
  return value >= kSmallest[continuations] ? static_cast<int32_t>(value) : -1;
}

size_t Utf8BoundedLength(const char* text, size_t n) {
  size_t length = 0;
  while (length <= n && text[length] != '\0') ++length;
  if (length <= n) return length;
  size_t i = n;  // text[n] is still inside the text
  while (i > 0 && IsContinuation(text[i])) --i;
  return i;
}

void CopyUtf8Bounded(char* dst, const char* src, size_t n) {
  if (n == 0) return;
  const size_t length = Utf8BoundedLength(src, n - 1);
  std::memcpy(dst, src, length);
  dst[length] = '\0';
}

int ClassifyUtf8Text(const std::string& text) {
  const char* cursor = text.c_str();
  bool latin1 = false;
  for (int32_t cp; (cp = DecodeUtf8Char(cursor)) != 0;) {
    if (cp < 0) return kTextInvalid;
    if (cp > 0xFF) return kTextBeyondLatin1;
    if (cp >= 0x80) latin1 = true;
  }
  return latin1 ? kTextLatin1 : kTextAscii;
}

std::wstring Utf8ToWide(const char* text) {
  text = OrEmpty(text);
  std::wstring out;
  out.reserve(std::strlen(text));
  for (int32_t cp; (cp = DecodeUtf8Char(text)) != 0;) AppendUtf16(out, cp);
  return out;
}

std::wstring Utf8ToWideString(const std::string& text) { return Utf8ToWide(text.c_str()); }

std::string WideToUtf8(const wchar_t* text) {
  text = OrEmpty(text);
  bool swapped = false;
  if (*text == kByteOrderMark) {
    ++text;
  } else if (*text == kSwappedByteOrderMark) {
    ++text;
    swapped = true;
  }
  auto unit = [text, swapped](size_t i) -> uint32_t {
    const auto u = static_cast<uint16_t>(text[i]);
    return swapped ? static_cast<uint16_t>(u << 8 | u >> 8) : u;
  };
  std::string out;
  out.reserve(std::wcslen(text));
  for (size_t i = 0; text[i] != 0; ++i) {
    uint32_t v = unit(i);
    if (v >= 0xD800 && v <= 0xDBFF) {
      const uint32_t low = unit(i + 1);  // at worst the terminating zero
      if (low >= 0xDC00 && low <= 0xDFFF) {
        v = (((v & 0x3FF) + 0x40) << 10) + (low & 0x3FF);
        ++i;
      }
    }
    AppendUtf8(out, v);
  }
  return out;
}

std::string WideToUtf8String(const std::wstring& text) { return WideToUtf8(text.c_str()); }
std::string WideToUtf8String(const wchar_t* text) { return WideToUtf8(text); }

std::string Utf8ToLatin1(const std::string& text) {
  const char* cursor = text.c_str();
  std::string out;
  out.reserve(text.size());
  for (int32_t cp; (cp = DecodeUtf8Char(cursor)) != 0;)
    out.push_back(cp >= 0 && cp <= 0xFF ? static_cast<char>(cp) : kLatin1Replacement);
  return out;
}

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char* p = text.c_str(); *p != '\0'; ++p) {
    const auto b = static_cast<uint8_t>(*p);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
    } else {
      out.push_back(static_cast<char>(0xC0 | b >> 6));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

std::wstring AnsiToWide(const char* text) {
  text = OrEmpty(text);
  return ConvertCodePage<std::wstring>([text](wchar_t* buffer, int size) {
    return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, buffer, size);
  });
}

std::wstring AnsiToWideString(const std::string& text) { return AnsiToWide(text.c_str()); }

std::string WideToAnsi(const wchar_t* text) {
  text = OrEmpty(text);
  return ConvertCodePage<std::string>([text](char* buffer, int size) {
    return WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, text, -1, buffer, size, nullptr,
                               nullptr);
  });
}

std::string WideToAnsi(const std::wstring& text) { return WideToAnsi(text.c_str()); }

std::string AnsiToUtf8(const char* text) { return WideToUtf8(AnsiToWide(text).c_str()); }
std::string AnsiToUtf8String(const std::string& text) { return AnsiToUtf8(text.c_str()); }

std::string Utf8ToAnsi(const char* text) { return WideToAnsi(Utf8ToWide(text)); }
std::string Utf8ToAnsiString(const std::string& text) { return Utf8ToAnsi(text.c_str()); }

std::wstring WideFromCountedBuffer(const void* buffer, size_t units) {
  constexpr size_t kMaxUnits = 200000;
  if (buffer == nullptr || units >= kMaxUnits) return std::wstring();
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  std::wstring out;
  out.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    const auto unit = static_cast<wchar_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    if (unit == 0) break;
    out.push_back(unit);
  }
  return out;
}

std::wstring EnsureByteOrderMark(const std::wstring& text) {
  if (!text.empty() && (text[0] == kByteOrderMark || text[0] == kSwappedByteOrderMark))
    return text;
  return kByteOrderMark + text;
}
