// Text inside the device library is UTF-8 in narrow strings. These conversions serve the
// places where text crosses into another form: UTF-16 at the COM boundary and in tag frames,
// Latin-1 in ID3 frames and player identification texts, the ANSI code page for Win32 file
// names. None of them fails: what cannot be represented becomes U+FFFD (wide) or 0xBF
// (Latin-1), and a failed code-page conversion gives an empty string.
//
// A narrow text ends at its first NUL byte and a wide text at its first zero unit, also when
// it is held in a string object that goes on past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

static_assert(sizeof(wchar_t) == 2, "wide strings hold UTF-16 units");

// Reads one code point at cursor and advances past it. Returns 0 at the terminating NUL (the
// cursor stays), -1 for an invalid or overlong sequence. Surrogates and values above 0x10FFFF
// up to 0x7FFFFFFF come back as they are.
int32_t DecodeUtf8Char(const char*& cursor);

// Length of at most n bytes of text that does not cut a character in two. Reads no more than
// n + 1 bytes, so text may be a fixed field without a NUL.
size_t Utf8BoundedLength(const char* text, size_t n);
// Copies what fits of src into dst (n bytes, n >= 1) with a NUL, on a character boundary.
void CopyUtf8Bounded(char* dst, const char* src, size_t n);

// The ID3 text encoding a text needs.
enum Utf8TextClass : int {
  kTextAscii = 0,
  kTextLatin1 = 1,        // code points up to 255
  kTextBeyondLatin1 = 2,  // a code point above 255 (later bytes are not examined)
  kTextInvalid = 3,
};
int ClassifyUtf8Text(const std::string& text);

std::wstring Utf8ToWide(const char* text);
std::wstring Utf8ToWideString(const std::string& text);
// A leading U+FEFF is dropped; a leading 0xFFFE is dropped and the rest read byte-swapped.
std::string WideToUtf8(const wchar_t* text);
std::string WideToUtf8String(const std::wstring& text);
std::string WideToUtf8String(const wchar_t* text);

std::string Utf8ToLatin1(const std::string& text);
std::string Latin1ToUtf8(const std::string& text);

// The ANSI code page forms, for Win32 file names and RIFF INFO values.
std::wstring AnsiToWide(const char* text);
std::wstring AnsiToWideString(const std::string& text);
std::string WideToAnsi(const wchar_t* text);
std::string WideToAnsi(const std::wstring& text);
std::string AnsiToUtf8(const char* text);
std::string AnsiToUtf8String(const std::string& text);
std::string Utf8ToAnsi(const char* text);
std::string Utf8ToAnsiString(const std::string& text);

// Up to units little-endian 16-bit units from a tag frame, ending at the first zero unit.
// A byte-order mark is kept for WideToUtf8 to interpret. 200,000 units or more give an empty
// string (no frame text is that long).
std::wstring WideFromCountedBuffer(const void* buffer, size_t units);

// ID3 UTF-16 frames must start with a byte-order mark.
std::wstring EnsureByteOrderMark(const std::wstring& text);
