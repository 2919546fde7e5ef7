#include "support/format_string.h"

#include <gtest/gtest.h>

#include <string>

#include "support/value_escape.h"

namespace {

TEST(FormatString, ShortAndGrowingTexts) {
  EXPECT_EQ(FormatString("%d-%s", 42, "x"), "42-x");
  for (size_t length : {127u, 128u, 300u, 65536u}) {
    const std::string long_text(length, 'a');
    EXPECT_EQ(FormatString("%s", long_text.c_str()), long_text) << length;
  }
}

TEST(FormatString, LongerThan64KiBIsCut) {
  const std::string text(70000, 'b');
  EXPECT_EQ(FormatString("%s", text.c_str()), std::string(65536, 'b'));
}

TEST(FormatString, WideTexts) {
  EXPECT_EQ(FormatWideString(L"%d:%ls", 7, L"\x0416"), L"7:\x0416");
  const std::wstring long_text(1000, L'w');
  EXPECT_EQ(FormatWideString(L"%ls", long_text.c_str()), long_text);
}

TEST(ValueEscape, EscapesAndRoundTrips) {
  const std::string original = "a\tb\nc\"d\\e\x7F\xE9";
  const std::string escaped = EscapeValueText(original);
  EXPECT_EQ(escaped, "a\\x09b\\nc\\x22d\\\\e\\x7F\xE9");
  EXPECT_EQ(UnescapeValueText(escaped), original);
}

TEST(ValueEscape, StrayBackslashes) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"\\q", "q"}, {"\\x4", "x4"}, {"\\x41", "A"}, {"end\\", "end"}, {"\\xZ1", "xZ1"}};
  for (const Case& c : cases) EXPECT_EQ(UnescapeValueText(c.in), c.out) << c.in;
  EXPECT_EQ(HexDigitValue('f'), 15);
  EXPECT_EQ(HexDigitValue('B'), 11);
  EXPECT_EQ(HexDigitValue('g'), 0);
}

}  // namespace
