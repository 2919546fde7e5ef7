#include "media/id3_genres.h"

#include <gtest/gtest.h>

TEST(Id3GenresTest, NamesByIndex) {
  const struct {
    int32_t index;
    const char* name;
  } cases[] = {
      {0, "Blues"},
      {17, "Rock"},
      {67, "Psychadelic"},
      {78, "Rock & Roll"},
      {140, "Contemporary C"},
      {148, "Sweetcorn Dub"},
      {-1, ""},
      {149, ""},
      {-56, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.name, GenreName(c.index)) << c.index;
}

TEST(Id3GenresTest, NumbersByNameIgnoreCaseButNotLength) {
  EXPECT_EQ(17, GenreNumber("rock"));
  EXPECT_EQ(78, GenreNumber("ROCK & ROLL"));
  EXPECT_EQ(148, GenreNumber("Sweetcorn Dub"));
  EXPECT_EQ(-1, GenreNumber("Roc"));
  EXPECT_EQ(-1, GenreNumber("Rocks"));
  EXPECT_EQ(-1, GenreNumber(""));
}

TEST(Id3GenresTest, EveryNameFindsItsOwnIndex) {
  for (int32_t i = 0; i < kId3GenreCount; ++i) {
    ASSERT_FALSE(GenreName(i).empty()) << i;
    EXPECT_EQ(i, GenreNumber(GenreName(i))) << i;  // no name appears twice
  }
}
