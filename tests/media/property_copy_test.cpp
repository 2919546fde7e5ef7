#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "media/album_art.h"
#include "media/playlist.h"
#include "media/property_copy.h"
#include "testlib/temp_dir.h"

namespace {

RefPtr<PropertySet> NewSet() {
  RefPtr<PropertySet> set;
  EXPECT_EQ(rc::kOk, PropertySet::Create(&set));
  set->AddNew();
  return set;
}

// A record whose second column has a type no setter knows.
class OddTypedSet : public PropertySet {
 public:
  Result GetColumnType(int32_t index, ColumnKind* kind) override {
    if (index == 1) {
      *kind = static_cast<ColumnKind>(5);
      return rc::kOk;
    }
    return PropertySet::GetColumnType(index, kind);
  }
};

TEST(PropertyCopy, AllExceptAndOnly) {
  RefPtr<PropertySet> source = NewSet();
  source->SetString("title", "Song");
  source->SetInt("duration", 1000);
  source->SetInt64("length", 1LL << 40);
  source->SetBlob("art", "\x01\x02", 2);
  RefPtr<PropertySet> all = NewSet();
  EXPECT_EQ(1, CopyProperties(all, source));
  EXPECT_EQ("Song", all->GetString("title"));
  EXPECT_EQ(1000, all->GetInt("duration"));
  EXPECT_EQ(1LL << 40, all->GetInt64("length"));
  uint32_t length = 0;
  ASSERT_NE(nullptr, all->GetBlob("art", &length));
  EXPECT_EQ(2u, length);

  RefPtr<PropertySet> except = NewSet();
  EXPECT_EQ(1, CopyPropertiesExcept(except, source, {"title", "art"}));
  EXPECT_EQ("", except->GetColumnName(2));
  EXPECT_EQ("duration", except->GetColumnName(0));
  RefPtr<PropertySet> only = NewSet();
  EXPECT_EQ(1, CopyPropertiesOnly(only, source, {"Title", "length"}));
  EXPECT_EQ("length", only->GetColumnName(0));
  EXPECT_EQ("", only->GetColumnName(1));
}

TEST(PropertyCopy, AnUnknownTypeEndsTheCopy) {
  RefPtr<PropertySet> source(new OddTypedSet);
  source->AddNew();
  source->SetString("first", "1");
  source->SetString("second", "2");
  RefPtr<PropertySet> target = NewSet();
  EXPECT_EQ(rc::kBadIndex, CopyProperties(target, source));
  EXPECT_EQ("1", target->GetString("first"));
  EXPECT_EQ("", target->GetColumnName(1));
}

TEST(PlaylistEntryPath, RelativeWithForwardSlashes) {
  std::string text;
  PlaylistEntryPath(&text, "E:\\Music", "E:\\Music\\A\\b.mp3");
  EXPECT_EQ("A/b.mp3", text);
  PlaylistEntryPath(&text, "E:\\Music", "\\\\server\\share\\c.mp3");
  EXPECT_EQ("\\\\server/share/c.mp3", text);
  PlaylistEntryPath(&text, "E:\\Music\\x", "E:\\Music\\b.mp3");
  EXPECT_EQ("../b.mp3", text);
}

TEST(AlbumArt, LargestFolderPictureAndTrackPictures) {
  TempDir dir;
  dir.WriteFile("AlbumArtSmall.jpg", std::string(2048, 's'));
  dir.WriteFile("AlbumArt_x_Large.jpg", std::string(40960, 'l'));
  std::string path = "stale";
  ASSERT_TRUE(FindAlbumArtInFolder(dir.Path(), kAlbumArtJpeg, &path));
  EXPECT_EQ(dir.Path() + "\\AlbumArt_x_Large.jpg", path);
  EXPECT_FALSE(FindAlbumArtInFolder(dir.Path(), 0, &path));
  EXPECT_EQ("", path);

  TempDir only_folder;
  ASSERT_NE(0, CreateDirectoryA(only_folder.File("AlbumArt1.jpg").c_str(), nullptr));
  EXPECT_FALSE(FindAlbumArtInFolder(only_folder.Path(), kAlbumArtJpeg, &path));
  RemoveDirectoryA(only_folder.File("AlbumArt1.jpg").c_str());

  dir.WriteFile("t.jpeg", "j");
  ASSERT_TRUE(FindAlbumArtForTrack(dir.File("t.mp3"), kAlbumArtJpeg, &path));
  EXPECT_EQ(dir.File("t.jpeg"), path);
  dir.WriteFile("t.jpg", "j");
  ASSERT_TRUE(FindAlbumArtForTrack(dir.File("t.mp3"), kAlbumArtJpeg, &path));
  EXPECT_EQ(dir.File("t.jpg"), path);
  EXPECT_FALSE(FindAlbumArtForTrack(dir.File("u.mp3"), kAlbumArtJpeg, &path));
}

}  // namespace
