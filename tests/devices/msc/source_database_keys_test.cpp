#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/msc/playlist_members.h"
#include "devices/msc/source_key_transforms.h"

namespace {

class CollectingEmitter : public KeyEmitter {
 public:
  void EmitFolded(const char* text) override { folded.push_back(text); }
  void EmitRaw(const char* text) override { raw.push_back(text); }
  std::vector<std::string> folded;
  std::vector<std::string> raw;
};

TEST(SourceKeyTransformTest, ArtistSkipsOneLeadingArticle) {
  struct Case {
    const char* value;
    const char* key_of;
  } cases[] = {
      {"The Beatles", "Beatles"},   {"THE BEATLES", "BEATLES"}, {"Theatre", "Theatre"},
      {"l'Aventure", "Aventure"},   {"A", "A"},                 {"a ha", "ha"},
      {"Die Ärzte", "Ärzte"},       {"einen Tag", "Tag"},       {"eine Nacht", "Nacht"},
      {"The The Band", "The Band"}, {"", ""},
  };
  for (const Case& c : cases) {
    CollectingEmitter emitter;
    ArtistKeyTransform().Transform(c.value, &emitter);
    ASSERT_EQ(emitter.folded.size(), 1u) << c.value;
    EXPECT_EQ(emitter.folded[0], FoldedKeyText(c.key_of)) << c.value;
    EXPECT_TRUE(emitter.raw.empty());
  }
}

TEST(SourceKeyTransformTest, FoldingIgnoresCaseAndDropsIgnoredCharacters) {
  EXPECT_EQ(FoldedKeyText("Beatles"), FoldedKeyText("BEATLES"));
  EXPECT_NE(FoldedKeyText("Beatles"), FoldedKeyText("Beetles"));
  EXPECT_EQ(FoldedKeyText("\xff\xfe"), "");  // not text at all
  EXPECT_EQ(FoldedKeyText(nullptr), "");
}

TEST(SourceKeyTransformTest, PersonEmitsNothingForAnEmptyValue) {
  CollectingEmitter emitter;
  PersonKeyTransform().Transform("", &emitter);
  PersonKeyTransform().Transform(nullptr, &emitter);
  EXPECT_TRUE(emitter.folded.empty());
  PersonKeyTransform().Transform("The Composer", &emitter);
  ASSERT_EQ(emitter.folded.size(), 1u);
  EXPECT_EQ(emitter.folded[0], FoldedKeyText("The Composer"));
}

TEST(SourceKeyTransformTest, PathKeysAreLowerCaseWithForwardSlashes) {
  CollectingEmitter emitter;
  PathKeyTransform().Transform("E:\\Music\\Best Of\\03 - Song.MP3", &emitter);
  PathKeyTransform().Transform("e:/music/best of/03 - song.mp3", &emitter);
  PathKeyTransform().Transform("", &emitter);
  EXPECT_TRUE(emitter.folded.empty());
  EXPECT_EQ(emitter.raw, (std::vector<std::string>{"e:/music/best of/03 - song.mp3",
                                                   "e:/music/best of/03 - song.mp3", ""}));
}

TEST(PlaylistMembersTest, WrittenFormIsAHeaderAndPairs) {
  std::vector<PlaylistMember> members = {{0x120, 7}, {0x130, 0x01020304}, {0x2000, 0}};
  std::string value = EncodePlaylistMembers(members);
  ASSERT_EQ(value.size(), 28u);
  EXPECT_EQ(value.substr(0, 12), std::string("\xFF\x02\0\0\x20\x01\0\0\x07\0\0\0", 12));
  EXPECT_EQ(DecodePlaylistMembers(value), members);
  EXPECT_EQ(EncodePlaylistMembers({}), "");
}

TEST(PlaylistMembersTest, ReadsTheOlderFormAndRefusesBadLengths) {
  std::vector<PlaylistMember> older = {{0x120, 0}, {0x130, 0}, {0x140, 0}};
  EXPECT_EQ(DecodePlaylistMembers(std::string("\x20\x01\0\0\x30\x01\0\0\x40\x01\0\0", 12)),
            older);
  EXPECT_TRUE(DecodePlaylistMembers(std::string("\xFF\x02\0\0\x20\x01", 6)).empty());
  EXPECT_TRUE(DecodePlaylistMembers("").empty());
  // A header with half a pair behind it: the broken pair is not read.
  EXPECT_TRUE(DecodePlaylistMembers(std::string("\xFF\x02\0\0\x20\x01\0\0", 8)).empty());
}

}  // namespace
