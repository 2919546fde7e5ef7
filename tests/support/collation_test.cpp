#include "support/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "testlib/guarded_buffer.h"

namespace {

struct FoldCase {
  uint16_t unit;
  uint16_t fold;
};

const FoldCase kOracleFolds[] = {
#include "collation_fold.inc"
};

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(CollationFold, TablesMatchUnicodeData) {
  ASSERT_EQ(sizeof kOracleFolds / sizeof kOracleFolds[0], 1392u);
  for (const FoldCase& c : kOracleFolds) {
    EXPECT_EQ(FoldForCollation(c.unit), c.fold) << std::hex << "U+" << c.unit;
  }
}

TEST(CollationFold, NamedUnitsAndRanges) {
  const FoldCase cases[] = {
      {0x0000, 0},      {0x002D, 0},      {0x002F, 0},      {0x0030, 0x0030}, {0x0041, 0x0061},
      {0x00C0, 0x0061}, {0x00E1, 0x0061}, {0x0419, 0x0438}, {0x0439, 0x0438}, {0x0416, 0x0436},
      {0x0386, 0x03B1}, {0x03AC, 0x03B1}, {0x03C2, 0x03C3}, {0x00F8, 0x006F}, {0x0111, 0x0064},
      {0x0127, 0x0068}, {0x0142, 0x006C}, {0x0140, 0x006C}, {0x0167, 0x0074}, {0x0131, 0x0069},
      {0x017F, 0x0073}, {0x00E6, 0x00E6}, {0x0153, 0x0153}, {0x00F0, 0x00F0}, {0x00FE, 0x00FE},
      {0x014B, 0x014B}, {0x00DF, 0x00DF}, {0x00D7, 0},      {0x00F7, 0},      {0x00AA, 0},
      {0x00BA, 0},      {0x00B2, 0},      {0x00BD, 0},      {0x00B5, 0},      {0x02B0, 0},
      {0x0301, 0},      {0x0500, 0x0501}, {0x0501, 0x0501}, {0x1FFF, 0x1FFF}, {0x2000, 0},
      {0x2013, 0},      {0x27FF, 0},      {0x2800, 0x2800}, {0x4E00, 0x4E00}, {0xFF00, 0xFF00},
      {0xFF01, 0},      {0xFF10, 0x0030}, {0xFF21, 0x0061}, {0xFF41, 0x0061}, {0xFF61, 0x3002},
      {0xFF71, 0x30A2}, {0xFF9E, 0x3099}, {0xFF9F, 0x309A}, {0xFFA0, 0xFFA0}, {0xFFFF, 0xFFFF},
  };
  for (const FoldCase& c : cases) {
    EXPECT_EQ(FoldForCollation(c.unit), c.fold) << std::hex << "U+" << c.unit;
  }
}

// Letters whose decomposition ends on a letter that folds further.
TEST(CollationFold, FoldIsStable) {
  EXPECT_EQ(FoldForCollation(0x01FE), 'o');
  EXPECT_EQ(FoldForCollation(0x01FF), 'o');
  EXPECT_EQ(FoldForCollation(0x01A6), 'r');
  for (uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    const uint16_t folded = FoldForCollation(static_cast<uint16_t>(unit));
    ASSERT_EQ(FoldForCollation(folded), folded) << std::hex << "U+" << unit;
  }
  // Otherwise "-o" would equal both, while they differ from each other.
  EXPECT_EQ(CompareFolded("\xC7\xBF", "-o", nullptr), 0);
  EXPECT_EQ(CompareFolded("\xC7\xBF", "o", nullptr), 0);
  EXPECT_EQ(CompareFolded("\xC7\xBE" "x", "\xC3\xB8" "x", nullptr), 0);
}

constexpr int kUntouched = 12345;

struct FoldedCase {
  const char* a;
  const char* b;
  int folded;  // exact result of CompareFolded
  int tie;     // stored tie-break, kUntouched when none is stored
  int collated_sign;
};

TEST(CollationCompare, FoldedAndCollatedResults) {
  const FoldedCase cases[] = {
      {"abc", "ABC", 0, 0x20, 1},
      {"a-b", "ab", 0, '-' - 'b', -1},                 // punctuation ignored, then decides
      {"ab", "ac", 'b' - 'c', kUntouched, -1},         // a difference stores no tie-break
      {"ab", "abc", -'c', -'c', -1},                   // a used up
      {"abc", "ab", 'c', 'c', 1},
      {"", "", 0, 0, 0},
      {"--", "", 0, '-', 1},                           // nothing but ignored units
      {"Ab", "aB", 0, 'A' - 'a', -1},                  // the first unfolded difference
      {"\xC3\x89mile", "emile", 0, 0xC9 - 'e', 1},     // accent
      {"\xCF\x82", "\xCF\x83", 0, -1, -1},             // final sigma
      {"\xC5\x81\xC3\xB3" "d\xC5\xBA", "lodz", 0, 0x141 - 'l', 1},
      {"\xEF\xBC\xA1\xEF\xBC\xA2", "ab", 0, 0xFF21 - 'a', 1},  // full-width letters
      {"\xC3\x86r\xC3\xB8", "aero", 0xE6 - 'a', kUntouched, 1},  // ae keeps its own letter
      {"Track 10", "Track 9", '1' - '9', kUntouched, -1},
  };
  for (const FoldedCase& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " | " + c.b);
    int tie = kUntouched;
    EXPECT_EQ(CompareFolded(c.a, c.b, &tie), c.folded);
    EXPECT_EQ(tie, c.tie);
    EXPECT_EQ(Sign(CompareCollated(c.a, c.b)), c.collated_sign);
    EXPECT_EQ(CompareFolded(c.a, c.b, nullptr), c.folded);
  }
  EXPECT_EQ(CompareCollated("abc", "ABC"), 0x61 - 0x41);
}

TEST(CollationCompare, OrderIsAntisymmetric) {
  const char* texts[] = {"", "a", "A", "a-b", "ab", "Ab", "abc", "\xC3\xA1" "b", "b", "B-",
                         "The Doors", "the doors", "Doors", "\xC3\x98rsted", "Orsted", "1999",
                         "\xD0\x99", "\xD0\xB9", "\xEF\xBD\x81"};
  for (const char* x : texts) {
    for (const char* y : texts) {
      SCOPED_TRACE(std::string(x) + " | " + y);
      EXPECT_EQ(Sign(CompareCollated(x, y)), -Sign(CompareCollated(y, x)));
      EXPECT_EQ(CompareCollated(x, y) == 0, std::strcmp(x, y) == 0);
      EXPECT_EQ(Sign(ArticleSkippingCompare(x, y)), -Sign(ArticleSkippingCompare(y, x)));
    }
  }
}

TEST(CollationCompare, KeysOrderLikeCompareFolded) {
  const char* texts[] = {"",
                         "a",
                         "A",
                         "a-b",
                         "ab",
                         "--",
                         "\xC3\xA1" "b",
                         "\xC3\x89mile",
                         "emile",
                         "\xC3\x98rsted",
                         "Orsted",
                         "\xC7\xBE" "rsted",
                         "...orsted",
                         "\xEF\xBC\xA1\xEF\xBC\xA2",
                         "\xEF\xBD\xB1",      // half-width katakana
                         "\xE3\x82\xA2",      // its full-width form
                         "\xE2\x80\x93x",     // en dash
                         "\xF0\x9F\x8E\xB5",  // beyond 16 bits
                         "\xFF\xFEz",          // not UTF-8
                         "Track 10",
                         "Track 9",
                         "\xC5\x81\xC4\x85ka",
                         "Stra\xC3\x9F" "e",
                         "strasse"};
  for (const char* x : texts) {
    for (const char* y : texts) {
      SCOPED_TRACE(std::string(x) + " | " + y);
      EXPECT_EQ(Sign(CollationKey(x).compare(CollationKey(y))),
                Sign(CompareFolded(x, y, nullptr)));
    }
  }
  EXPECT_EQ(CollationKey("A-b\xC3\xA9"), u"abe");
  EXPECT_TRUE(CollationKey(nullptr).empty());
}

// What the comparisons' decoding loses: bytes of invalid sequences (as 0x110000 + byte) and
// code points above U+FFFF, in text order; valid text up to U+FFFF loses nothing.
TEST(CollationCompare, LostCodePoints) {
  struct Case {
    const char* text;
    std::u32string lost;
  };
  const Case cases[] = {
      {"", U""},
      {"Sigur R\xC3\xB3s", U""},
      {"\xEF\x98\x80", U""},                                       // U+F600
      {"\xED\x84\x9E", U""},                                       // U+D11E
      {"x\xF0\x9F\x98\x80y", U"\U0001F600"},                       // U+1F600
      {"Bj\xF6rk", std::u32string(1, char32_t{0x1100F6})},          // a stray lead byte
      {"\x80\xE9", std::u32string{0x110080, 0x1100E9}},             // continuation, cut lead
      {"a\xC0\x81", std::u32string{0x1100C0, 0x110081}},            // overlong
  };
  for (const Case& c : cases) EXPECT_EQ(CollationLostCodePoints(c.text), c.lost) << c.text;
  EXPECT_EQ(CollationLostCodePoints(nullptr), U"");
}

TEST(CollationArticles, ListInOrder) {
  const char* expected[kArticleCount] = {"a ",  "un ",  "une ", "the ", "le ",  "la ",   "l'",
                                         "les ", "der ", "die ", "das ", "ein ", "eine ", "einen "};
  for (int i = 0; i < kArticleCount; ++i) EXPECT_STREQ(ArticleList[i], expected[i]) << i;
}

TEST(CollationArticles, ArticleSkippingCompare) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {"the Doors", "Doors", 3},
      {"A Day", "Day", 0},                 // "a " has index 0 like no article
      {"A Beatles", "Beatles", 0},
      {"The Beatles", "Beatles", 3},
      {"The Beatles", "A Beatles", 3},
      {"L'Amour", "Amour", 6},
      {"Eine Nacht", "Einen Nacht", 12 - 13},
      {"The Zoo", "Apple", 'z' - 'a'},     // the rest decides before the article
      {"the doors", "The Doors", 0x20},    // same article: the tie-break
      {"Theatre", "Atre", 't' - 'a'},      // no blank after "the": no article
      {"A", "B", 'a' - 'b'},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ArticleSkippingCompare(c.a, c.b), c.expected) << c.a << " | " << c.b;
  }
}

TEST(CollationText, StartsWithNoCase) {
  struct Case {
    const char* text;
    const char* prefix;
    bool expected;
  };
  const Case cases[] = {
      {"The Doors", "the ", true}, {"the", "the ", false}, {"anything", "", true},
      {"", "", true},              {"", "a", false},        {"ABC", "abc", true},
      {"ab", "abc", false},        {"\xC3\x89t\xC3\xA9", "\xC3\xA9", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StartsWithNoCase(c.text, c.prefix), c.expected) << c.text << " | " << c.prefix;
  }
}

// A block of NUL-terminated texts and the offset of each.
class SortedBlock {
 public:
  explicit SortedBlock(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
      offsets_.push_back(static_cast<int32_t>(bytes_.size()));
      bytes_ += text;
      bytes_.push_back('\0');
    }
  }
  int32_t Find(const char* key) const {
    return FindInSortedStrings(bytes_.data(), bytes_.size(), key);
  }
  const std::string& bytes() const { return bytes_; }
  int32_t offset(size_t i) const { return offsets_[i]; }

 private:
  std::string bytes_;
  std::vector<int32_t> offsets_;
};

TEST(CollationFind, SmallBlocks) {
  const SortedBlock block({"Alpha", "beta", "Gamma"});
  EXPECT_EQ(block.Find("beta"), 6);
  EXPECT_EQ(block.Find("Beta"), -1);
  EXPECT_EQ(block.Find("Alpha"), 0);
  EXPECT_EQ(block.Find("Gamma"), 11);
  EXPECT_EQ(block.Find("Delta"), -1);
  EXPECT_EQ(block.Find("Zeta"), -1);
  EXPECT_EQ(block.Find("Aardvark"), -1);
  EXPECT_EQ(block.Find(""), -1);

  const SortedBlock single({"only"});
  EXPECT_EQ(single.Find("only"), 0);
  EXPECT_EQ(single.Find("ONLY"), -1);
  EXPECT_EQ(single.Find("other"), -1);

  EXPECT_EQ(FindInSortedStrings("", 0, "a"), -1);
  EXPECT_EQ(FindInSortedStrings(nullptr, 0, "a"), -1);
}

TEST(CollationFind, ManyTexts) {
  std::vector<std::string> texts;
  const char* stems[] = {"track", "Track", "\xC3\xA9t\xC3\xA9", "Zebra", "a-side", "b side"};
  for (int i = 0; i < 400; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, "%s %03d", stems[i % 6], i);
    texts.push_back(text);
  }
  std::sort(texts.begin(), texts.end(), [](const std::string& x, const std::string& y) {
    return CompareCollated(x.c_str(), y.c_str()) < 0;
  });
  const SortedBlock block(texts);
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(block.Find(texts[i].c_str()), block.offset(i)) << texts[i];
  }
  for (const char* missing : {"track 001", "TRACK 000", "Zebra 999", "", "zzz", "0"}) {
    EXPECT_EQ(block.Find(missing), -1) << missing;
  }
}

TEST(CollationFind, LastTextWithoutNulIsBounded) {
  const std::string bytes("Alpha\0beta\0Gamma", 16);
  const GuardedBuffer block(bytes);  // any read past "Gamma" faults
  EXPECT_EQ(FindInSortedStrings(block.data(), block.size(), "Gamma"), 11);
  EXPECT_EQ(FindInSortedStrings(block.data(), block.size(), "beta"), 6);
  EXPECT_EQ(FindInSortedStrings(block.data(), block.size(), "Gamma ray"), -1);
  EXPECT_EQ(FindInSortedStrings(block.data(), block.size(), "Zulu"), -1);
  EXPECT_EQ(FindInSortedStrings(block.data(), block.size(), "Gam"), -1);

  const GuardedBuffer single(std::string("only"));
  EXPECT_EQ(FindInSortedStrings(single.data(), single.size(), "only"), 0);
  EXPECT_EQ(FindInSortedStrings(single.data(), single.size(), "onl"), -1);
}

struct CopyCase {
  const char* name;
  size_t n;
  const char* expected;
};

// Copies into a larger buffer and checks that nothing past n bytes (units) was written.
template <typename Char, typename Copy>
std::basic_string<Char> CopyChecked(Copy copy, const Char* name, size_t n) {
  std::vector<Char> buffer(n + 16, Char('#'));
  copy(buffer.data(), name, n);
  for (size_t i = n; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], Char('#')) << "written at " << i;
  return n == 0 ? std::basic_string<Char>() : std::basic_string<Char>(buffer.data());
}

const CopyCase kPlainCopies[] = {
    {"abcdefgh.mp3", 8, "abc.mp3"},
    {"abcdefgh", 4, "abc"},
    {"a.verylongext", 5, "a.ve"},
    {"short.mp3", 20, "short.mp3"},
    {"exact", 6, "exact"},
    {"exactly", 7, "exactl"},
    {"x.y.zz", 5, "x.zz"},          // the last '.'
    {"ab.c", 2, "a"},               // no room for the extension
    {"ab.c", 1, ""},
    {"", 1, ""},
    {"ab.c", 0, ""},                // nothing is written
    {"abc", 0, ""},
};

TEST(CollationCopy, KeepingExtension) {
  for (const CopyCase& c : kPlainCopies) {
    SCOPED_TRACE(std::string(c.name) + " into " + std::to_string(c.n));
    EXPECT_EQ(CopyChecked<char>(CopyKeepingExtension, c.name, c.n), c.expected);
  }
}

TEST(CollationCopy, KeepingExtensionWide) {
  auto widen = [](const char* text) { return std::wstring(text, text + std::strlen(text)); };
  for (const CopyCase& c : kPlainCopies) {
    SCOPED_TRACE(std::string(c.name) + " into " + std::to_string(c.n));
    EXPECT_EQ(CopyChecked<wchar_t>(CopyKeepingExtensionWide, widen(c.name).c_str(), c.n),
              widen(c.expected));
  }
  EXPECT_EQ(CopyChecked<wchar_t>(CopyKeepingExtensionWide, L"\x65E5\x672C\x8A9E.mp3", 6),
            L"\x65E5.mp3");
}

TEST(CollationCopy, KeepingExtensionUtf8) {
  const CopyCase cases[] = {
      {"abcdefgh.mp3", 8, "abc.mp3"},
      {"a.verylongext", 5, "a.ve"},
      {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9.mp3", 8, "\xC3\xA9.mp3"},  // head cut short
      {"a.\xC3\xA9\xC3\xA9\xC3\xA9", 5, "a.\xC3\xA9"},                        // tail cut
      {"a.\xE2\x82\xAC\xE2\x82\xAC", 6, "a.\xE2\x82\xAC"},
      {"\xC3\xA9\xC3\xA9\xC3\xA9", 4, "\xC3\xA9"},                            // no '.'
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 10, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 9, "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"\xC3\xA9", 2, ""},
      {"a.mp3", 1, ""},
      {"a.mp3", 0, ""},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " into " + std::to_string(c.n));
    EXPECT_EQ(CopyChecked<char>(CopyKeepingExtensionUtf8, c.name, c.n), c.expected);
  }
}

TEST(CollationText, ToLowerCopy) {
  EXPECT_EQ(ToLowerCopy("MiXeD Case-123"), "mixed case-123");
  EXPECT_EQ(ToLowerCopy("\xC3\x89t\xC3\xA9"), "\xC3\x89t\xC3\xA9");  // bytes above 0x7F kept
  EXPECT_EQ(ToLowerCopy(""), "");
}

TEST(CollationText, FormatFirmwareCode) {
  EXPECT_EQ(FormatFirmwareCode(1, 2, 30, 4), "801023004");
  EXPECT_EQ(FormatFirmwareCode(0, 0, 0, 0), "800000000");
  EXPECT_EQ(FormatFirmwareCode(12, 34, 56, 78), "812345678");
}

TEST(CollationCodecs, DescriptionTable) {
  const CodecDescription expected[] = {
      {"mp2", "MP2", "MPEG Layer 2", "mp2"},
      {"mp3", "MP3", "MPEG Layer 3", "mp3"},
      {"wma", "WMA", "Windows Media", "wma"},
      {"vorbis", "Vorbis", "Ogg Vorbis", "ogg"},
      {"flac", "FLAC", "FLAC (Fast Lossless Audio Codec)", "flac"},
      {"wave", "WAV", "WAV Audio", "wav"},
      {"wave-ima-adpcm", "WAV (IMA ADPCM)", "WAV Audio IMA ADPCM", "wav"},
  };
  size_t row = 0;
  for (; CodecDescriptionTable[row].codec; ++row) {
    ASSERT_LT(row, std::size(expected));
    EXPECT_STREQ(CodecDescriptionTable[row].codec, expected[row].codec);
    EXPECT_STREQ(CodecDescriptionTable[row].short_name, expected[row].short_name);
    EXPECT_STREQ(CodecDescriptionTable[row].description, expected[row].description);
    EXPECT_STREQ(CodecDescriptionTable[row].extension, expected[row].extension);
  }
  EXPECT_EQ(row, std::size(expected));
  EXPECT_STREQ(CodecDescriptionTable[row].short_name, "Unknown");
  EXPECT_STREQ(CodecDescriptionTable[row].description, "Not recognised");
  EXPECT_EQ(CodecDescriptionTable[row].extension, nullptr);
}

TEST(CollationCodecs, FileExtension) {
  struct Case {
    const char* codec;
    const char* extension;
  };
  const Case cases[] = {
      {"WAVE-IMA-ADPCM", "wav"}, {"Vorbis", "ogg"}, {"mp3", "mp3"}, {"FLAC", "flac"},
      {"wave", "wav"},           {"wma", "wma"},     {"MP2", "mp2"}, {"aac", ""},
      {"wav", ""},               {"", ""},           {nullptr, ""},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(CodecFileExtension(c.codec), c.extension) << (c.codec ? c.codec : "(null)");
  }
}

}  // namespace
