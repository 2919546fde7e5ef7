#include "devices/msc/track_path.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "media/property_holder.h"
#include "support/file_helpers.h"
#include "testlib/temp_dir.h"

namespace {

// Paths are built under a fresh folder: "file_format" holds that folder (without its drive)
// in front of the drive's own templates.
class TrackPathTest : public ::testing::Test {
 protected:
  char Drive() const { return dir_.Path()[0]; }
  std::string Folder() const { return dir_.Path().substr(3); }

  Result Build(PropertyHolder& file, const std::string& relative_template, std::string* out) {
    file.SetString("file_format", Folder() + "\\" + relative_template);
    return BuildTrackPath(*file.GetSet(), Drive(), out);
  }

  PropertyHolder Tune(const char* codec) {
    PropertyHolder file;
    file.SetString("type", "tune");
    file.SetString("source", "Best Of");
    file.SetInt("tracknr", 3);
    file.SetString("title", "Song");
    file.SetString("codec", codec);
    return PropertyHolder::CloneFrom(file);
  }

  TempDir dir_;
};

TEST_F(TrackPathTest, TrackLandsUnderItsAlbumWithTheCodecsExtension) {
  PropertyHolder file = Tune("mp3");
  std::string path;
  ASSERT_EQ(Build(file, kTrackPathTemplate, &path), rc::kOk);
  EXPECT_EQ(path, dir_.File("Music\\Best Of\\03 - Song.mp3"));
  EXPECT_TRUE(FileExists(dir_.File("Music\\Best Of")));  // folders made
  dir_.WriteFile("Music\\Best Of\\03 - Song.mp3", "x");
  ASSERT_EQ(Build(file, kTrackPathTemplate, &path), rc::kOk);
  EXPECT_EQ(path, dir_.File("Music\\Best Of\\03 - Song_01.mp3"));
}

TEST_F(TrackPathTest, ExtensionsFollowTypeAndCodec) {
  struct Case {
    const char* type;
    const char* codec;
    const char* expected;
  } cases[] = {
      {"tune", "vorbis", "Music\\Best Of\\03 - Song.ogg"},
      {"tune", "wave-ima-adpcm", "Music\\Best Of\\03 - Song.wav"},
      {"tune", "aac", "Music\\Best Of\\03 - Song"},
      {"playlist", "mp3", "Music\\Best Of\\03 - Song.m3u"},
      {"picture", "mp3", "Music\\Best Of\\03 - Song"},  // the format is used, no extension
  };
  for (const Case& c : cases) {
    PropertyHolder file = Tune(c.codec);
    file.SetString("type", c.type);
    std::string path;
    ASSERT_EQ(Build(file, kTrackPathTemplate, &path), rc::kOk) << c.type << " " << c.codec;
    EXPECT_EQ(path, dir_.File(c.expected)) << c.type << " " << c.codec;
  }
}

TEST_F(TrackPathTest, PlaylistTemplateAndMissingAlbum) {
  PropertyHolder playlist;
  playlist.SetString("type", "playlist");
  playlist.SetString("title", "Mix");
  std::string path;
  ASSERT_EQ(Build(playlist, kPlaylistPathTemplate, &path), rc::kOk);
  EXPECT_EQ(path, dir_.File("Music\\Mix.m3u"));

  PropertyHolder file = Tune("mp3");
  file.SetString("source", "");
  ASSERT_EQ(Build(file, kTrackPathTemplate, &path), rc::kOk);
  EXPECT_EQ(path, dir_.File("Music\\03 - Song.mp3"));
}

TEST_F(TrackPathTest, WithoutTitleOrNumberTheSourceFileNameIsUsed) {
  PropertyHolder file = Tune("wma");
  file.SetString("title", "");
  file.SetInt("tracknr", 0);
  file.SetString("path", "C:\\in\\Track 1.wma");
  std::string path;
  ASSERT_EQ(Build(file, kTrackPathTemplate, &path), rc::kOk);
  EXPECT_EQ(path, dir_.File("Music\\Best Of\\Track 1.wma"));
}

TEST_F(TrackPathTest, AFolderThatCannotBeMadeFails) {
  dir_.WriteFile("Music", "a file where the folder should be");
  PropertyHolder file = Tune("mp3");
  std::string path = "unchanged";
  EXPECT_TRUE(rc::Failed(Build(file, kTrackPathTemplate, &path)));
  EXPECT_EQ(path, "unchanged");
}

TEST_F(TrackPathTest, UniqueNamesRunToNinetyNineThenFail) {
  std::string base = dir_.File("Song");
  std::string name;
  ASSERT_EQ(MakeUniqueName(base, ".mp3", &name), rc::kOk);
  EXPECT_EQ(name, base + ".mp3");
  dir_.WriteFile("Song.mp3", "original");
  for (int n = 1; n <= 99; ++n) {
    char expected[16];
    std::snprintf(expected, sizeof expected, "Song_%02d.mp3", n);
    ASSERT_EQ(MakeUniqueName(base, ".mp3", &name), rc::kOk);
    ASSERT_EQ(name, dir_.File(expected));
    dir_.WriteFile(expected, "taken");
  }
  name = "unchanged";
  EXPECT_EQ(MakeUniqueName(base, ".mp3", &name), rc::FromWin32(183));  // already exists
  EXPECT_EQ(name, "unchanged");
  EXPECT_EQ(TempDir::ReadFile(dir_.File("Song.mp3")), "original");
}

}  // namespace
