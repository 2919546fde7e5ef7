#include "media/id3_text.h"

#include <gtest/gtest.h>

namespace {

std::string B(const char* bytes, size_t size) { return std::string(bytes, size); }

}  // namespace

TEST(Id3TextTest, DecodesEachEncoding) {
  const struct {
    const char* what;
    uint8_t encoding;
    std::string bytes;
    std::string utf8;
  } cases[] = {
      {"latin-1", 0, "Caf\xE9", "Caf\xC3\xA9"},
      {"latin-1 up to NUL", 0, B("ab\0cd", 5), "ab"},
      {"utf-16 little-endian mark", 1,
       B("\xFF\xFE"
         "C\0"
         "\xE9\0"
         "\xAC\x20",
         8),
       "C\xC3\xA9\xE2\x82\xAC"},
      {"utf-16 big-endian mark", 1, B("\xFE\xFF\0C\0\xE9", 6), "C\xC3\xA9"},
      {"utf-16 odd byte dropped", 1,
       B("\xFF\xFE"
         "A\0"
         "B",
         5),
       "A"},
      {"utf-16 up to zero unit", 1,
       B("\xFF\xFE"
         "A\0\0\0"
         "B\0",
         8),
       "A"},
      {"utf-16 surrogate pair", 1, B("\xFF\xFE\x3D\xD8\x00\xDE", 6), "\xF0\x9F\x98\x80"},
      {"utf-16be", 2, B("\0C\0\xE9\x20\xAC", 6), "C\xC3\xA9\xE2\x82\xAC"},
      {"utf-16be odd byte dropped", 2, B("\0A\0", 3), "A"},
      {"utf-8", 3, "Caf\xC3\xA9", "Caf\xC3\xA9"},
      {"utf-8 up to NUL", 3, B("one\0two", 7), "one"},
      {"empty", 1, "", ""},
  };
  for (const auto& c : cases) {
    std::string text = "unset";
    EXPECT_TRUE(DecodeId3Text(c.encoding, c.bytes.data(), c.bytes.size(), &text)) << c.what;
    EXPECT_EQ(c.utf8, text) << c.what;
    EXPECT_EQ(c.utf8, DecodeId3TextFrame(std::string(1, static_cast<char>(c.encoding)) + c.bytes))
        << c.what;
  }
}

TEST(Id3TextTest, UnknownEncodingGivesNothing) {
  std::string text = "unset";
  EXPECT_FALSE(DecodeId3Text(4, "abc", 3, &text));
  EXPECT_EQ("unset", text);
  EXPECT_EQ("", DecodeId3TextFrame("\x04"
                                   "abc"));
  EXPECT_EQ("", DecodeId3TextFrame(""));
}

TEST(Id3TextTest, RemovesUnsynchronisation) {
  EXPECT_EQ(B("\xFF\xE0", 2), RemoveUnsynchronisation(B("\xFF\0\xE0", 3)));
  EXPECT_EQ(B("\xFF\0", 2), RemoveUnsynchronisation(B("\xFF\0\0", 3)));
  EXPECT_EQ(B("\xFF\xFF", 2), RemoveUnsynchronisation(B("\xFF\0\xFF\0", 4)));
  EXPECT_EQ(B("a\0b\xFF", 4), RemoveUnsynchronisation(B("a\0b\xFF", 4)));
  EXPECT_EQ("", RemoveUnsynchronisation(""));
}

TEST(Id3TextTest, DecodesCommentsByTheirEncoding) {
  const struct {
    const char* what;
    std::string body;
    bool found;
    std::string comment;
  } cases[] = {
      {"latin-1", B("\0engdesc\0Caf\xE9", 13), true, "Caf\xC3\xA9"},
      {"latin-1 ends at the next NUL", B("\0eng\0one\0two", 12), true, "one"},
      {"empty comment", B("\0eng\0", 5), false, ""},
      {"empty comment byte", B("\0eng\0\0", 6), true, ""},
      // The description's "\x01\x00" unit holds a zero byte that is no terminator.
      {"utf-16",
       B("\x01"
         "eng"
         "\xFF\xFE\x01\x00\0\0"
         "\xFF\xFE"
         "h\0i\0",
         16),
       true, "hi"},
      {"utf-16be",
       B("\x02"
         "eng"
         "\0d\0\0"
         "\0h\0i",
         12),
       true, "hi"},
      {"utf-8",
       B("\x03"
         "eng\0"
         "\xC3\xA9",
         7),
       true, "\xC3\xA9"},
      {"no terminator", B("\0engdescription", 15), false, ""},
      {"too short", B("\0eng", 4), false, ""},
  };
  for (const auto& c : cases) {
    std::string comment;
    EXPECT_EQ(c.found, DecodeId3CommentFrame(c.body, &comment)) << c.what;
    if (c.found) {
      EXPECT_EQ(c.comment, comment) << c.what;
    }
  }
}

TEST(Id3TextTest, FindsPictureData) {
  // 2.3: encoding, MIME type, picture type, description, data.
  EXPECT_EQ(18u, Id3PictureDataOffset(3, B("\0image/jpeg\0\x03"
                                           "desc\0DATA",
                                           22)));
  // UTF-16 description: its terminator is a whole zero unit.
  EXPECT_EQ(18u, Id3PictureDataOffset(3, B("\x01"
                                           "image/png\0\x03"
                                           "\xFF\xFE"
                                           "d\0\0\0DATA",
                                           22)));
  // 2.2: a fixed three-letter image format, even when it is followed by a non-zero type.
  EXPECT_EQ(6u, Id3PictureDataOffset(2, B("\0JPG\x03\0\xFF\xD8", 8)));
  EXPECT_EQ(std::string::npos, Id3PictureDataOffset(3, B("\0image/jpeg", 11)));
  EXPECT_EQ(std::string::npos, Id3PictureDataOffset(3, B("\0image/jpeg\0\x03"
                                                         "desc",
                                                         17)));
  EXPECT_EQ(std::string::npos, Id3PictureDataOffset(3, ""));
}
