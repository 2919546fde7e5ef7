#include "media/lyrics3.h"

#include <gtest/gtest.h>

#include "support/memory_stream.h"
#include "testlib/id3_builder.h"

using namespace id3test;

TEST(Lyrics3Test, GrowsTheTrailerByTheSizeField) {
  const std::string lyrics = Lyrics3("IND00003110LYR00005hello");
  const uint32_t size_field = static_cast<uint32_t>(lyrics.size()) - 15;
  MemoryStream before_v1(Audio(2) + lyrics + Id3v1("t"));
  EXPECT_EQ(128 + size_field, ProbeLyrics3(&before_v1, before_v1.Size(), 128));
  MemoryStream alone(Audio(2) + lyrics);
  EXPECT_EQ(size_field, ProbeLyrics3(&alone, alone.Size(), 0));
}

TEST(Lyrics3Test, DamagedBlocksKeepTheTrailer) {
  std::string lyrics = Lyrics3("LYR00005hello");
  const struct {
    const char* what;
    std::string file;
  } cases[] = {
      {"no block", Audio(2)},
      {"size larger than the file", std::string("LYRICSBEGIN") + "999999LYRICS200"},
      {"begin marker missing", Audio(2) + "LYRICSBEGXN" + lyrics.substr(11)},
      {"no digits", Audio(2) + "LYRICSBEGIN" + "abcdefLYRICS200"},
      {"shorter than the footer", "LYRICS200"},
      {"version 1 end marker", Audio(2) + "LYRICSBEGINhelloLYRICSEND"},
  };
  for (const auto& c : cases) {
    MemoryStream stream(c.file);
    EXPECT_EQ(0u, ProbeLyrics3(&stream, stream.Size(), 0)) << c.what;
  }
  // A trailer that already covers the whole stream.
  MemoryStream small("abc");
  EXPECT_EQ(128u, ProbeLyrics3(&small, small.Size(), 128));
}
