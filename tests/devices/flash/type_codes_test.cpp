#include "devices/flash/type_codes.h"

#include <gtest/gtest.h>

namespace {

TEST(TypeCodesTest, DescribeByTableReversedOrCharacters) {
  const struct {
    uint32_t code;
    const char* type;
    const char* codec;
  } cases[] = {
      {0, "tune", "unknown"},
      {0x4D504733, "tune", "mp3"},     // "MPG3"
      {0x3347504D, "tune", "mp3"},     // "MPG3" stored byte-reversed
      {0x20414D57, "tune", "wma"},     // "WMA " reversed
      {0x494D4120, "tune", "wave"},    // "IMA "
      {0x50524546, "preferences", ""}, // "PREF"
      {0x41424344, "ABCD", ""},        // outside the table
      {0x41420000, "AB", ""},          // the characters end at a zero byte
  };
  for (const auto& c : cases) {
    std::string type = "x", codec = "x";
    DescribeTypeCode(c.code, &type, &codec);
    EXPECT_EQ(c.type, type) << std::hex << c.code;
    EXPECT_EQ(c.codec, codec) << std::hex << c.code;
  }
}

TEST(TypeCodesTest, UnknownCodeLeavesTheNamesAlone) {
  std::string type = "kept", codec = "kept";
  EXPECT_EQ(rc::kFail, TypeCodeToNames(0x3347504D, &type, &codec));
  EXPECT_EQ("kept", type);
  EXPECT_EQ(rc::kOk, TypeCodeToNames(0x42494E20, &type, &codec));  // "BIN "
  EXPECT_EQ("binary", type);
  EXPECT_EQ("", codec);
}

}  // namespace

namespace {

TEST(TypeCodesTest, NamesToTypeCode) {
  const struct {
    const char* type;
    const char* codec;
    uint32_t code;
  } cases[] = {
      {"tune", "mp3", TypeCode("MPG3")},   {"tune", "wma", TypeCode("WMA ")},
      {"tune", "aac", TypeCode("AAC ")},   {"tune", "aclp", TypeCode("ACLP")},
      {"tune", "wave", 0},                 {"tune", "unknown", 0},
      {"tune", "", 0},                     {"tune", "MP3", 0},  // names are exact
      {"i2c", "", TypeCode("QELX")},       {"binary", "mp3", TypeCode("BIN ")},
      {"playlist", "", TypeCode("PLS ")},  {"vund", "", TypeCode("VUND")},
      {"preferences", "", 0},              {"", "mp3", 0},
      {"mp3", "", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, NamesToTypeCode(c.type, c.codec)) << c.type << "/" << c.codec;
  }
  EXPECT_EQ(0x4D504733u, TypeCode("MPG3"));
}

TEST(TypeCodesTest, EveryCodeOfTheNamesLeadsBackToThem) {
  const struct {
    const char* type;
    const char* codec;
  } names[] = {{"tune", "mp3"}, {"tune", "wma"},  {"tune", "aac"},
               {"tune", "aclp"}, {"binary", ""}, {"playlist", ""}, {"vund", ""}};
  for (const auto& n : names) {
    std::string type, codec;
    ASSERT_EQ(rc::kOk, TypeCodeToNames(NamesToTypeCode(n.type, n.codec), &type, &codec));
    EXPECT_EQ(n.type, type);
    EXPECT_EQ(n.codec, codec);
  }
}

}  // namespace
