#include "media/mp3_tag_values.h"

#include <gtest/gtest.h>

#include "testlib/id3_builder.h"

using id3test::RecordingSink;

namespace {

RecordingSink Deliver(const std::vector<std::pair<std::string, std::string>>& gathered) {
  Mp3TagValues values;
  for (const auto& g : gathered) values.Gather(g.first, g.second);
  RecordingSink sink;
  values.Deliver(&sink);
  return sink;
}

}  // namespace

TEST(Mp3TagValuesTest, SourcesInPriorityOrder) {
  RecordingSink sink = Deliver({{"0TIT", "file"},
                                {"1TIT", "v1"},
                                {"1ART", "a1"},
                                {"TCOM", "composer"},
                                {"TPE3", "conductor"},
                                {"1TNR", "7"}});
  EXPECT_EQ("v1", sink.Get("title"));
  EXPECT_EQ("conductor", sink.Get("artist"));
  EXPECT_EQ("composer", sink.Get("composer"));
  EXPECT_EQ("7", sink.Get("tracknr"));
  EXPECT_EQ("7", sink.Get("file_id"));
  EXPECT_FALSE(sink.Has("source"));
  EXPECT_EQ(
      (std::vector<std::string>{"title", "artist", "tracknr", "file_id", "composer", "conductor"}),
      sink.order);

  EXPECT_EQ("tit2", Deliver({{"0TIT", "file"}, {"TIT2", "tit2"}, {"1TIT", "v1"}}).Get("title"));
  EXPECT_EQ("file", Deliver({{"0TIT", "file"}}).Get("title"));
}

TEST(Mp3TagValuesTest, FirstValueStays) {
  EXPECT_EQ("one", Deliver({{"TPE1", "one"}, {"TPE1", "two"}}).Get("artist"));
  // An empty value is gathered too and wins over later sources.
  EXPECT_EQ("", Deliver({{"COMM", ""}, {"1COM", "v1"}}).Get("comment"));
}

TEST(Mp3TagValuesTest, DeliversUpToTheFirstNul) {
  EXPECT_EQ("Rock", Deliver({{"TMOO", std::string("Rock\0Pop", 8)}}).Get("mood"));
}

TEST(Mp3TagValuesTest, Genres) {
  const struct {
    std::string tcon;
    const char* genre;
  } cases[] = {
      {"(17)", "Rock"},
      {"(17)Rock & Roll", "Rock"},  // the reference wins over the text behind it
      {"Jazz", "Jazz"},
      {"17", "17"},          // a plain number is a name as written
      {"(200)", "v1genre"},  // no such genre: the ID3v1 genre takes its place
      {"(-1)", "v1genre"},
      {"(99999999999)", "v1genre"},
      {"(RX)", "(RX)"},
      {"(17", "(17"},
      {"", "v1genre"},  // an empty content type is not gathered
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.genre, Deliver({{"TCON", c.tcon}, {"1CON", "v1genre"}}).Get("genre")) << c.tcon;
}

TEST(Mp3TagValuesTest, Years) {
  const struct {
    std::vector<std::pair<std::string, std::string>> gathered;
    const char* year;
  } cases[] = {
      {{{"1YER", "1999"}}, "1999"},
      {{{"1YER", "0000"}}, "<none>"},
      {{{"1YER", "abcd"}}, "<none>"},
      {{{"TDRC", "2004-05-06T10:00"}, {"1YER", "1999"}}, "2004"},
      {{{"TDRC", "04"}, {"1YER", "1999"}}, "1999"},
      {{{"TYER", "2001"}, {"TDRC", "2004"}}, "2001"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.year, Deliver(c.gathered).Get("year"));
}
