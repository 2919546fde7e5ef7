// Sorting and name helpers shared by the record databases, the channels and the media code.
// Collation folds case, accents and punctuation away so that titles and artists sort the way
// the players list them. Every function here is stateless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Fold value of one UTF-16 unit; 0 means the unit is ignored when comparing.
uint16_t FoldForCollation(uint16_t unit);

// Compares two UTF-8 texts by fold values: negative, 0 or positive. When one text is used up,
// the difference of the first unfolded units that differed is stored through `tie_break`
// (which may be null).
int CompareFolded(const char* a, const char* b, int* tie_break);
// The fold values of a text without the ignored units. Two keys compare (unit by unit, a
// prefix first) in the order CompareFolded gives their texts: for sorting many texts, each
// folded once.
std::u16string CollationKey(const char* text);
// CompareFolded, with the tie-break deciding when the folded texts are equal.
int CompareCollated(const char* a, const char* b);
// What the comparisons' decoding loses of a text, in text order: each byte of a sequence that
// is no valid UTF-8 (as 0x110000 + the byte; all such sequences decode to one unit) and each
// code point above U+FFFF (which they cut to 16 bits). Two texts that compare equal are the
// same text but for case, accents or ignored characters only when these agree as well.
std::u32string CollationLostCodePoints(const char* text);
// Offset of `key` in a block of NUL-terminated texts sorted by CompareCollated, or -1.
int32_t FindInSortedStrings(const char* block, size_t size, const char* key);

// True when `prefix` starts `text`, ignoring ASCII case; an empty prefix matches.
bool StartsWithNoCase(const char* text, const char* prefix);

// Leading articles skipped when sorting titles and artists, in the order they are tried.
constexpr int kArticleCount = 14;
extern const char* const ArticleList[kArticleCount];
// The sort order of titles and artists: a leading article is skipped, and decides only ties.
int ArticleSkippingCompare(const char* a, const char* b);

// Copy `name` into a buffer of `n` bytes (wide units) with its NUL; when it must be cut, the
// extension from the last '.' is kept. The UTF-8 form cuts only at character boundaries.
void CopyKeepingExtension(char* dst, const char* name, size_t n);
void CopyKeepingExtensionWide(wchar_t* dst, const wchar_t* name, size_t n);
void CopyKeepingExtensionUtf8(char* dst, const char* name, size_t n);

// Every byte through the C library's tolower.
std::string ToLowerCopy(const char* text);

// "8aabbccdd": the firmware version code of the players.
std::string FormatFirmwareCode(int a, int b, int c, int d);

struct CodecDescription {
  const char* codec;  // null in the end row
  const char* short_name;
  const char* description;
  const char* extension;  // null in the end row
};
// Ends with the row whose codec and extension are null ("Unknown").
extern const CodecDescription CodecDescriptionTable[];
// The file extension of a codec name (case-insensitive); "" for a codec not in the table.
const char* CodecFileExtension(const char* codec);
