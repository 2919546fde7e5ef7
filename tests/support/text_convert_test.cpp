#include "support/text_convert.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "testlib/guarded_buffer.h"

namespace {

using Utf8Step = std::pair<int32_t, int>;  // code point, bytes consumed

struct Utf8Case {
  const char* label;
  std::string utf8;
  bool valid;  // Python's utf-8 codec accepts the text before its NUL
  std::vector<Utf8Step> steps;
  std::wstring wide;
  std::string latin1;
  int text_class;
  std::string round_trip;  // the wide form back in UTF-8
};

struct WideCase {
  const char* label;
  std::wstring wide;
  std::string utf8;
};

struct Latin1Case {
  const char* label;
  std::string latin1;
  std::string utf8;
};

struct AnsiCase {  // text the code page holds, in all three forms
  const char* label;
  std::string ansi;
  std::wstring wide;
  std::string utf8;
};

struct AnsiLossyCase {  // text the code page lacks: its default character stands in
  const char* label;
  std::string utf8;
  std::string ansi;
};

#include "text_cases.inc"

std::string Bytes(const char* text) { return std::string(text); }

std::vector<Utf8Step> DecodeAll(const char* cursor) {
  std::vector<Utf8Step> steps;
  for (;;) {
    const char* before = cursor;
    const int32_t cp = DecodeUtf8Char(cursor);
    if (cp == 0) {
      EXPECT_EQ(cursor, before) << "the terminating NUL must not be passed";
      return steps;
    }
    steps.emplace_back(cp, static_cast<int>(cursor - before));
  }
}

TEST(TextConvertUtf8Test, DecoderFollowsTheOracle) {
  for (const Utf8Case& c : kUtf8Cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DecodeAll(c.utf8.c_str()), c.steps);
  }
}

TEST(TextConvertUtf8Test, ConversionsFollowTheOracle) {
  for (const Utf8Case& c : kUtf8Cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Utf8ToWideString(c.utf8), c.wide);
    EXPECT_EQ(Utf8ToWide(c.utf8.c_str()), c.wide);
    EXPECT_EQ(Utf8ToLatin1(c.utf8), c.latin1);
    EXPECT_EQ(ClassifyUtf8Text(c.utf8), c.text_class);
    EXPECT_EQ(WideToUtf8String(Utf8ToWideString(c.utf8)), c.round_trip);
    if (c.valid) {
      EXPECT_EQ(c.round_trip, Bytes(c.utf8.c_str()));
    }
  }
}

TEST(TextConvertUtf8Test, WideToUtf8FollowsTheOracle) {
  for (const WideCase& c : kWideCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(WideToUtf8String(c.wide), c.utf8);
    EXPECT_EQ(WideToUtf8String(c.wide.c_str()), c.utf8);
    EXPECT_EQ(WideToUtf8(c.wide.c_str()), c.utf8);
  }
}

TEST(TextConvertUtf8Test, Latin1FollowsTheOracle) {
  for (const Latin1Case& c : kLatin1Cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Latin1ToUtf8(c.latin1), c.utf8);
    EXPECT_EQ(Utf8ToLatin1(c.utf8), Bytes(c.latin1.c_str()));
  }
}

// The examples every caller relies on, spelled out.
TEST(TextConvertUtf8Test, DocumentedExamples) {
  const char* cursor = "\xC0\x80";
  EXPECT_EQ(DecodeUtf8Char(cursor), -1);
  EXPECT_EQ(*cursor, '\0') << "an overlong sequence is consumed whole";
  EXPECT_EQ(DecodeAll("\xE2\x82\x41"), (std::vector<Utf8Step>{{-1, 1}, {-1, 1}, {0x41, 1}}));

  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x8E\xB5"), (std::wstring{0xD83C, 0xDFB5}));
  EXPECT_EQ(WideToUtf8String(std::wstring{0xD83C, 0xDFB5}), "\xF0\x9F\x8E\xB5");

  EXPECT_EQ(WideToUtf8String(std::wstring{0xFFFE, 0x4100, 0x4200}), "AB");
  EXPECT_EQ(WideToUtf8String(std::wstring{0xFEFF, 0x0041}), "A");
  EXPECT_EQ(WideToUtf8String(std::wstring{0xD800}), "\xED\xA0\x80");

  EXPECT_EQ(Utf8ToLatin1("\xC3\xA9\xE2\x82\xAC"), "\xE9\xBF");

  EXPECT_EQ(Utf8BoundedLength("a\xC3\xA9", 2), 1u);
  EXPECT_EQ(Utf8BoundedLength("a\xC3\xA9", 3), 3u);

  EXPECT_EQ(ClassifyUtf8Text("caf\xC3\xA9"), kTextLatin1);
  EXPECT_EQ(ClassifyUtf8Text("\xE2\x82\xAC\xFF"), kTextBeyondLatin1);
  EXPECT_EQ(ClassifyUtf8Text("\xFF\xE2\x82\xAC"), kTextInvalid);

  EXPECT_EQ(EnsureByteOrderMark(std::wstring()), std::wstring(1, 0xFEFF));
  EXPECT_EQ(EnsureByteOrderMark(std::wstring{0xFFFE, 0x4100}), (std::wstring{0xFFFE, 0x4100}));

  const char buffer[] = {0x41, 0x00, 0x00, 0x00, 0x42, 0x00};
  EXPECT_EQ(WideFromCountedBuffer(buffer, 3), std::wstring(1, 0x0041));
}

TEST(TextConvertUtf8Test, TextEndsAtItsFirstNulInsideAString) {
  const std::string utf8("a\0\xC3\xA9", 4);
  EXPECT_EQ(Utf8ToWideString(utf8), L"a");
  EXPECT_EQ(Utf8ToLatin1(utf8), "a");
  EXPECT_EQ(ClassifyUtf8Text(utf8), kTextAscii);
  EXPECT_EQ(Latin1ToUtf8(std::string("a\0\xE9", 3)), "a");
  EXPECT_EQ(WideToUtf8String(std::wstring(L"a\0b", 3)), "a");
  EXPECT_EQ(AnsiToWideString(std::string("a\0\xE9", 3)), L"a");
  EXPECT_EQ(Utf8ToAnsiString(std::string("a\0\xC3\xA9", 4)), "a");
}

// A lead byte promising more bytes than the text holds must not pull in what lies beyond.
TEST(TextConvertUtf8Test, TruncatedSequenceStopsAtTheTerminator) {
  std::string utf8 = "ab\xF0\x9F\x8E\xB5";
  utf8.resize(3);  // the bytes of the rest stay in the buffer behind the new terminator
  EXPECT_EQ(Utf8ToWideString(utf8), (std::wstring{'a', 'b', 0xFFFD}));

  for (const char* text : {"ab\xF0", "\xFD\xBF\xBF", "\xC3", "x\xE2\x82"}) {
    SCOPED_TRACE(text);
    GuardedBuffer guarded(std::string(text, std::strlen(text) + 1));
    const std::vector<Utf8Step> steps = DecodeAll(guarded.text());
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back().first, -1);
    EXPECT_EQ(Utf8ToWide(guarded.text()).back(), 0xFFFD);
    EXPECT_EQ(Utf8ToAnsi(guarded.text()).back(), '?');
    EXPECT_EQ(ClassifyUtf8Text(guarded.text()), kTextInvalid);
  }
}

TEST(TextConvertUtf8Test, LoneHighSurrogateAtTheEndOfAWideText) {
  GuardedBuffer guarded = GuardedBuffer::Wide(std::wstring{'A', 0xD800, 0});
  EXPECT_EQ(WideToUtf8(guarded.wide()), "A\xED\xA0\x80");
}

TEST(TextConvertUtf8Test, MissingTextsReadAsEmpty) {
  EXPECT_EQ(Utf8ToWide(nullptr), L"");
  EXPECT_EQ(WideToUtf8(nullptr), "");
  EXPECT_EQ(AnsiToWide(nullptr), L"");
  EXPECT_EQ(WideToAnsi(static_cast<const wchar_t*>(nullptr)), "");
  EXPECT_EQ(WideFromCountedBuffer(nullptr, 4), L"");
}

struct BoundedCase {
  const char* text;
  size_t n;
  size_t expected;
};

TEST(TextConvertBoundedTest, LengthEndsOnACharacterBoundary) {
  const BoundedCase cases[] = {
      {"", 0, 0},           {"", 5, 0},
      {"abc", 0, 0},        {"abc", 2, 2},
      {"abc", 3, 3},        {"abc", 100, 3},
      {"a\xC3\xA9", 1, 1},  {"a\xC3\xA9", 2, 1},
      {"a\xC3\xA9z", 3, 3}, {"\xE2\x82\xAC", 2, 0},
      {"\xE2\x82\xAC", 3, 3}, {"\x80\x80\x80x", 2, 0},  // nothing but continuation bytes
      {"\xF0\x9F\x8E\xB5!", 4, 4},
  };
  for (const BoundedCase& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << "\" n=" << c.n);
    EXPECT_EQ(Utf8BoundedLength(c.text, c.n), c.expected);
  }
}

TEST(TextConvertBoundedTest, FixedFieldWithoutNulIsReadNoFurtherThanTheLimit) {
  GuardedBuffer field(std::string("a\xC3\xA9" "b"));  // four bytes, no NUL
  EXPECT_EQ(Utf8BoundedLength(field.text(), 3), 3u);
  EXPECT_EQ(Utf8BoundedLength(field.text(), 2), 1u);

  char dst[8];
  CopyUtf8Bounded(dst, field.text(), 4);
  EXPECT_STREQ(dst, "a\xC3\xA9");
}

TEST(TextConvertBoundedTest, CopyWritesOnlyItsBuffer) {
  struct {
    size_t n;
    const char* expected;
  } const cases[] = {{1, ""}, {2, "a"}, {3, "a"}, {4, "a\xC3\xA9"}, {6, "a\xC3\xA9z"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    char dst[8];
    std::memset(dst, 'X', sizeof(dst));
    CopyUtf8Bounded(dst, "a\xC3\xA9z", c.n);
    EXPECT_STREQ(dst, c.expected);
    for (size_t i = c.n; i < sizeof(dst); ++i) EXPECT_EQ(dst[i], 'X') << "byte " << i;
  }
  char untouched = 'X';
  CopyUtf8Bounded(&untouched, "abc", 0);
  EXPECT_EQ(untouched, 'X');
}

TEST(TextConvertWideTest, CountedBufferIsLittleEndianAndEndsAtZeroOrCount) {
  const char bytes[] = {0x34, 0x12, static_cast<char>(0xFF), static_cast<char>(0xFE),
                        0x41,  0x00, 0x00, 0x00, 0x42, 0x00};
  EXPECT_EQ(WideFromCountedBuffer(bytes, 0), L"");
  EXPECT_EQ(WideFromCountedBuffer(bytes, 1), std::wstring(1, 0x1234));
  EXPECT_EQ(WideFromCountedBuffer(bytes, 5), (std::wstring{0x1234, 0xFEFF, 0x41}));

  GuardedBuffer guarded(std::string("A\0B\0", 4));  // two units and nothing after them
  EXPECT_EQ(WideFromCountedBuffer(guarded.text(), 2), L"AB");
}

TEST(TextConvertWideTest, CountedBufferRefusesImplausibleLengths) {
  std::string bytes(2 * 200000, 'a');
  EXPECT_EQ(WideFromCountedBuffer(bytes.data(), 199999).size(), 199999u);
  EXPECT_EQ(WideFromCountedBuffer(bytes.data(), 200000), L"");
  EXPECT_EQ(WideFromCountedBuffer(bytes.data(), static_cast<size_t>(-1)), L"");
}

// An ID3 frame in big-endian UTF-16 reaches UTF-8 through these two steps.
TEST(TextConvertWideTest, BigEndianFrameTextReadsThroughItsByteOrderMark) {
  const char frame[] = {static_cast<char>(0xFE), static_cast<char>(0xFF), 0x00, 0x41,
                        0x00, static_cast<char>(0xE9), 0x00, 0x00};
  EXPECT_EQ(WideToUtf8String(WideFromCountedBuffer(frame, 4)), "A\xC3\xA9");
}

TEST(TextConvertWideTest, EnsureByteOrderMarkAddsOnlyWhenMissing) {
  const std::wstring marked{0xFEFF, 'A'};
  const std::wstring swapped{0xFFFE, 0x4100};
  EXPECT_EQ(EnsureByteOrderMark(marked), marked);
  EXPECT_EQ(EnsureByteOrderMark(swapped), swapped);
  EXPECT_EQ(EnsureByteOrderMark(L"A"), marked);
  EXPECT_EQ(EnsureByteOrderMark(std::wstring{'A', 0xFEFF}), (std::wstring{0xFEFF, 'A', 0xFEFF}));
  EXPECT_EQ(WideToUtf8String(EnsureByteOrderMark(Utf8ToWide("\xC3\xA9"))), "\xC3\xA9");
}

TEST(TextConvertAnsiTest, EnvironmentPinsWindows1252) { ASSERT_EQ(GetACP(), 1252u); }

TEST(TextConvertAnsiTest, CodePageTextFollowsTheOracle) {
  for (const AnsiCase& c : kAnsiCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(AnsiToWide(c.ansi.c_str()), c.wide);
    EXPECT_EQ(AnsiToWideString(c.ansi), c.wide);
    EXPECT_EQ(WideToAnsi(c.wide), c.ansi);
    EXPECT_EQ(WideToAnsi(c.wide.c_str()), c.ansi);
    EXPECT_EQ(AnsiToUtf8(c.ansi.c_str()), c.utf8);
    EXPECT_EQ(AnsiToUtf8String(c.ansi), c.utf8);
    EXPECT_EQ(Utf8ToAnsi(c.utf8.c_str()), c.ansi);
    EXPECT_EQ(Utf8ToAnsiString(c.utf8), c.ansi);
  }
}

TEST(TextConvertAnsiTest, MissingCharactersBecomeTheDefaultCharacter) {
  for (const AnsiLossyCase& c : kAnsiLossyCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Utf8ToAnsiString(c.utf8), c.ansi);
    EXPECT_EQ(WideToAnsi(Utf8ToWideString(c.utf8)), c.ansi);
  }
}

// Far more than a thread's stack holds: the conversion buffers must come from the heap.
TEST(TextConvertAnsiTest, MebibyteTextsConvert) {
  const std::string ansi_piece("\xE9\x80z", 3);
  const std::wstring wide_piece{0xE9, 0x20AC, 'z'};
  const std::string utf8_piece("\xC3\xA9\xE2\x82\xAC" "z");
  std::string ansi, utf8;
  std::wstring wide;
  while (ansi.size() < (1u << 20)) {
    ansi += ansi_piece;
    wide += wide_piece;
    utf8 += utf8_piece;
  }
  // Compared with == so that a failure does not print megabytes.
  EXPECT_TRUE(AnsiToWideString(ansi) == wide);
  EXPECT_TRUE(WideToAnsi(wide) == ansi);
  EXPECT_TRUE(AnsiToUtf8String(ansi) == utf8);
  EXPECT_TRUE(Utf8ToAnsiString(utf8) == ansi);
}

}  // namespace
