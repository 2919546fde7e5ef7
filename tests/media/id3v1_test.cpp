#include "media/id3v1.h"

#include <gtest/gtest.h>

#include "support/memory_stream.h"
#include "testlib/id3_builder.h"

using namespace id3test;

TEST(Id3v1Test, ParsesFieldsTrimmedAndConverted) {
  const std::string block =
      Id3v1("Caf\xE9 Song   ", "Artist", std::string("Al\0bum", 6), "1999", "Nice", 7, 17);
  Id3v1Tag tag;
  ASSERT_TRUE(ParseId3v1(reinterpret_cast<const uint8_t*>(block.data()), &tag));
  EXPECT_EQ("Caf\xC3\xA9 Song", tag.title);  // ANSI code page 1252 to UTF-8
  EXPECT_EQ("Artist", tag.artist);
  EXPECT_EQ("Al", tag.album);
  EXPECT_EQ("1999", tag.year);
  EXPECT_EQ("Nice", tag.comment);
  EXPECT_EQ(7, tag.track);
  EXPECT_EQ(17, tag.genre);
}

TEST(Id3v1Test, TrackAndGenreBytes) {
  const struct {
    int track;
    uint8_t genre;
    uint8_t want_track;
    int8_t want_genre;
  } cases[] = {
      {200, 200, 200, -56},  // track bytes are unsigned, genre bytes signed
      {-1, 0, 0, 0},         // a full 30-byte comment: no track
      {0, 148, 0, -108},     // a zero track byte is no track
  };
  for (const auto& c : cases) {
    std::string block = Id3v1("t", "", "", "", std::string(30, 'c'), c.track, c.genre);
    Id3v1Tag tag;
    ASSERT_TRUE(ParseId3v1(reinterpret_cast<const uint8_t*>(block.data()), &tag));
    EXPECT_EQ(c.want_track, tag.track) << c.track;
    EXPECT_EQ(c.want_genre, tag.genre) << c.track;
  }
}

TEST(Id3v1Test, ReadsOnlyATagAtTheEnd) {
  Id3v1Tag tag;
  bool found = true;
  MemoryStream tagged(Audio(1) + Id3v1("End"));
  EXPECT_EQ(rc::kOk, ReadId3v1(&tagged, tagged.Size(), &tag, &found));
  EXPECT_TRUE(found);
  EXPECT_EQ("End", tag.title);

  MemoryStream untagged(Id3v1("Start") + Audio(1));
  EXPECT_EQ(rc::kOk, ReadId3v1(&untagged, untagged.Size(), &tag, &found));
  EXPECT_FALSE(found);

  MemoryStream tiny(Id3v1("x").substr(0, 127));
  EXPECT_EQ(rc::kOk, ReadId3v1(&tiny, tiny.Size(), &tag, &found));
  EXPECT_FALSE(found);

  // A size the stream does not have: the read's failure, no tag.
  MemoryStream shorter(Id3v1("x"));
  EXPECT_NE(rc::kOk, ReadId3v1(&shorter, 300, &tag, &found));
  EXPECT_FALSE(found);
}
