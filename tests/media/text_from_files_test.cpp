// Text that files hold reaches the property sets as well-formed UTF-8, and playlist entries end
// at a NUL byte whichever way they are made absolute.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/asf_tag_reader.h"
#include "media/id3_text.h"
#include "media/mp3_tag_reader.h"
#include "media/playlist.h"
#include "media/utf8_clean.h"
#include "media/vorbis_comment_keys.h"
#include "support/memory_stream.h"
#include "testlib/asf_builder.h"
#include "testlib/id3_builder.h"

namespace {

using id3test::RecordingSink;

const std::string kFffd = "\xEF\xBF\xBD";

TEST(CleanUtf8, MalformedSequencesBecomeReplacementCharacters) {
  const struct {
    const char* what;
    std::string in;
    std::string out;
  } cases[] = {
      {"well formed", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5",
       "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"},
      {"NUL kept", std::string("a\0b", 3), std::string("a\0b", 3)},
      {"stray continuation", "a\x80z", "a" + kFffd + "z"},
      {"lead without its continuation", "\xC3z", kFffd + "z"},
      {"cut at the end", "ab\xE2\x82", "ab" + kFffd},
      {"overlong", "\xC0\xAF", kFffd + kFffd},
      {"overlong three bytes", "\xE0\x80\xAF", kFffd + kFffd + kFffd},
      {"encoded surrogate", "x\xED\xA0\x80y", "x" + kFffd + "y"},
      {"a stray ED before a four-byte character", "\xED\xF0\x9F\x98\x80",
       kFffd + "\xF0\x9F\x98\x80"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
      {"FE and FF", "\xFE\xFF", kFffd + kFffd},
      // The example of the Unicode standard's "maximal subpart" practice.
      {"maximal subparts", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + kFffd + kFffd + kFffd + "b" + kFffd + "c" + kFffd + kFffd + "d"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, CleanUtf8(c.in)) << c.what;
}

TEST(CleanUtf8, VorbisCommentsId3AndAsfTexts) {
  RecordingSink vorbis;
  const std::string comment = "ARTIST=Band\xC3";
  DeliverVorbisComment(comment.data(), comment.size(), &vorbis);
  const std::string name = "M\xFFOOD=calm";
  DeliverVorbisComment(name.data(), name.size(), &vorbis);
  EXPECT_EQ("Band" + kFffd, vorbis.Get("artist"));
  EXPECT_EQ("calm", vorbis.Get("m" + kFffd + "ood"));

  std::string text;
  ASSERT_TRUE(DecodeId3Text(kId3Utf8, "T\xED\xB0\x80!", 5, &text));
  EXPECT_EQ("T" + kFffd + "!", text);
  ASSERT_TRUE(DecodeId3Text(kId3Utf16, "\xFF\xFE\x00\xD8\x41\x00", 6, &text));  // lone high half
  EXPECT_EQ(kFffd + "A", text);
  ASSERT_TRUE(DecodeId3Text(kId3Utf16Be, "\xDC\x00\x00\x42", 4, &text));  // lone low half
  EXPECT_EQ(kFffd + "B", text);

  const std::string mp3 =
      id3test::Tag(3,
                   id3test::Frame23("TPE1", id3test::Text(1, std::string("\xFF\xFE\x00\xDC", 4)))) +
      id3test::Audio(3);
  MemoryStream mp3_stream(mp3);
  Mp3TagReader mp3_reader("a.mp3");
  RecordingSink mp3_sink;
  mp3_reader.Read(&mp3_stream, &mp3_sink);
  EXPECT_EQ(kFffd, mp3_sink.Get("artist"));

  // The builder writes the UTF-8 form of a surrogate as the lone UTF-16 unit.
  const std::string asf =
      asftest::File({asftest::ContentDescription("T\xED\xA0\x80", "A")}, std::string(300, 'a'));
  MemoryStream asf_stream(asf);
  AsfTagReader asf_reader("a.wma");
  RecordingSink asf_sink;
  asf_reader.Read(&asf_stream, &asf_sink);
  EXPECT_EQ("T" + kFffd, asf_sink.Get("title"));
}

class EntryRecorder : public PlaylistEntrySink {
 public:
  Result SetTitle(const std::string&) override { return rc::kOk; }
  Result AddEntry(const std::string& path) override {
    entries.push_back(path);
    return rc::kOk;
  }
  std::vector<std::string> entries;
};

TEST(PlaylistEntries, EndAtANulOnBothRoads) {
  const struct {
    std::string entry;
    std::vector<std::string> delivered;
  } cases[] = {
      {std::string("C:\\Music\\a.mp3\0..\\b.mp3", 23), {"C:\\Music\\a.mp3"}},
      {std::string("sub\\a.mp3\0..\\b.mp3", 18), {"C:\\Lists\\sub\\a.mp3"}},
      {std::string("\0C:\\a.mp3", 9), {}},
  };
  for (const auto& c : cases) {
    EntryRecorder sink;
    EXPECT_EQ(rc::kOk, DeliverPlaylistEntry(&sink, "C:\\Lists", c.entry, false));
    EXPECT_EQ(c.delivered, sink.entries) << c.entry.c_str();
  }
}

}  // namespace
