#include <sys/stat.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "devices/msc/file_source.h"
#include "devices/msc/file_source_test_support.h"
#include "devices/msc/playlist_members.h"
#include "media/property_set.h"
#include "media/tag_reader_factory.h"
#include "media/tag_writer.h"
#include "support/file_helpers.h"
#include "support/text_convert.h"
#include "testlib/mpeg_frames.h"
#include "testlib/temp_dir.h"

namespace {

constexpr Result kAccessDenied = static_cast<Result>(0x80070005);

class TitleSink : public TagSink {
 public:
  void SetInt(const char*, uint32_t) override {}
  void SetString(const char* key, const char* value) override {
    if (std::string(key) == "title") title = value;
  }
  std::string title;
};

std::string TitleOf(const std::string& path) {
  std::unique_ptr<TagReader> reader;
  if (rc::Failed(TagReaderFactory(path, "", &reader))) return "<no reader>";
  reader->SetComputeFingerprint(false);
  TitleSink sink;
  if (rc::Failed(reader->ReadFile(path, &sink))) return "<unreadable>";
  return sink.title;
}

int64_t SizeOf(const std::string& path) {
  struct _stat64 status;
  return _stat64(path.c_str(), &status) == 0 ? status.st_size : -1;
}

class FileSourceObserverTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(fixture_.Open(), nullptr); }

  std::string Track(const std::string& name) {
    return fixture_.Dir().WriteFile(name, mpegtest::Frames(mpegtest::kMpeg1L3, 20));
  }

  // A tune record for the file, added inside the lock (nothing written).
  void AddTune(uint32_t fid, const std::string& path, const std::string& title,
               const std::string& generation = "0") {
    ASSERT_EQ(fixture_.AddRecord(fid, {{"type", "tune"},
                                       {"path", Latin1ToUtf8(path)},
                                       {"title", title},
                                       {"artist", "Artist"},
                                       {"duration", "61000"},
                                       {"fid_generation", generation}}),
              rc::kOk);
  }

  Result Retitle(uint32_t fid, const std::string& title, bool locked) {
    RefPtr<RecordSet> record = fixture_.Find(fid);
    EXPECT_TRUE(record);
    if (!record) return rc::kFail;
    record->SetString("title", title);
    if (locked) fixture_.Source()->Lock();
    const Result status = record->Update();
    if (locked) fixture_.Source()->Unlock();
    return status;
  }

  Result AddPlaylist(uint32_t fid, const std::string& title,
                     const std::vector<PlaylistMember>& members, const std::string& path = "") {
    RefPtr<RecordSet> record;
    fixture_.Source()->Db().OpenRecordSet(&record);
    record->AddNew();
    record->SetInt("fid", static_cast<int32_t>(fid));
    record->SetString("type", "playlist");
    record->SetString("title", title);
    if (!path.empty()) record->SetString("path", Latin1ToUtf8(path));
    const std::string list = EncodePlaylistMembers(members);
    record->SetBlob("playlist", list.data(), static_cast<uint32_t>(list.size()));
    return record->Update();
  }

  FileSourceFixture fixture_;
};

TEST_F(FileSourceObserverTest, TuneUpdateWritesTagsAndStoresTheNewLength) {
  const std::string path = Track("a.mp3");
  const int64_t before = SizeOf(path);
  AddTune(0x120, path, "Old");
  EXPECT_EQ(SizeOf(path), before);  // added inside the lock: not written

  ASSERT_EQ(Retitle(0x120, "New Title", false), rc::kOk);
  EXPECT_EQ(TitleOf(path), "New Title");
  EXPECT_GT(SizeOf(path), before);
  EXPECT_EQ(fixture_.Find(0x120)->GetInt("length"), SizeOf(path));
}

TEST_F(FileSourceObserverTest, TuneUpdateInsideTheLockLeavesTheFileAlone) {
  const std::string path = Track("a.mp3");
  const std::string bytes = TempDir::ReadFile(path);
  AddTune(0x120, path, "Old");
  ASSERT_EQ(Retitle(0x120, "New Title", true), rc::kOk);
  EXPECT_EQ(TempDir::ReadFile(path), bytes);
  EXPECT_EQ(fixture_.Find(0x120)->GetString("title"), "New Title");
}

TEST_F(FileSourceObserverTest, AnotherThreadsUpdateIsWrittenWhileTheLockIsHeld) {
  const std::string path = Track("a.mp3");
  AddTune(0x120, path, "Old");
  fixture_.Source()->Lock();
  fixture_.Source()->Lock();  // nested: the inner Unlock does not turn the write-back on
  fixture_.Source()->Unlock();
  EXPECT_FALSE(fixture_.Source()->WriteBack());
  Result result = rc::kFail;
  std::thread other([&] {
    EXPECT_TRUE(fixture_.Source()->WriteBack());
    RefPtr<RecordSet> record = fixture_.Find(0x120);
    record->SetString("title", "From Another Thread");
    result = record->Update();
  });
  // The lock is re-entrant for its owner only; the other thread's record update takes the
  // database's lock, not the source's.
  other.join();
  fixture_.Source()->Unlock();
  EXPECT_EQ(result, rc::kOk);
  EXPECT_EQ(TitleOf(path), "From Another Thread");
  EXPECT_TRUE(fixture_.Source()->WriteBack());
}

TEST_F(FileSourceObserverTest, FailedTagWriteVetoesTheUpdate) {
  struct Case {
    const char* name;
    std::string path;
  };
  TempDir pc;  // a folder outside the source's roots
  const std::string outside = pc.WriteFile("pc.mp3", mpegtest::Frames(mpegtest::kMpeg1L3, 20));
  const Case cases[] = {
      {"missing file", fixture_.Dir().File("gone.mp3")},
      {"no tag writer", fixture_.Dir().WriteFile("notes.txt", "text")},
      {"outside the roots", outside},
  };
  uint32_t fid = 0x120;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = FileExists(c.path) ? TempDir::ReadFile(c.path) : "";
    AddTune(fid, c.path, "Old");
    EXPECT_LT(Retitle(fid, "New", false), 0);
    EXPECT_EQ(fixture_.Find(fid)->GetString("title"), "Old");
    if (!bytes.empty()) { EXPECT_EQ(TempDir::ReadFile(c.path), bytes); }
    fid += 0x10;
  }
  AddTune(fid, outside, "Old");
  EXPECT_EQ(Retitle(fid, "New", false), kAccessDenied);
}

TEST_F(FileSourceObserverTest, PlaylistUpdateWritesItsFileFromCurrentMembers) {
  const std::string a = Track("a.mp3");
  const std::string b = Track("b.mp3");
  AddTune(0x120, a, "Song A", "5");
  AddTune(0x130, b, "Song B", "6");
  // 0x130 was given to another file since it joined (generation 99); 0x150 is gone.
  ASSERT_EQ(AddPlaylist(0x140, "Mix: One", {{0x120, 5}, {0x130, 99}, {0x150, 0}}), rc::kOk);

  const std::string file = fixture_.Dir().File("Mix One.m3u");
  ASSERT_TRUE(FileExists(file));
  EXPECT_EQ(TempDir::ReadFile(file), "#EXTM3U\n#EXTINF:61,Song A - Artist\na.mp3\n");
  RefPtr<RecordSet> playlist = fixture_.Find(0x140);
  EXPECT_EQ(Utf8ToLatin1(playlist->GetString("path")), file);
  EXPECT_EQ(playlist->GetInt("length"), SizeOf(file));
}

TEST_F(FileSourceObserverTest, NewPlaylistFileNeverReplacesAnotherFile) {
  const std::string other = fixture_.Dir().WriteFile("Mix.m3u", "someone else's list\n");
  ASSERT_EQ(AddPlaylist(0x140, "Mix", {}), rc::kOk);
  EXPECT_EQ(TempDir::ReadFile(other), "someone else's list\n");
  EXPECT_EQ(Utf8ToLatin1(fixture_.Find(0x140)->GetString("path")),
            fixture_.Dir().File("Mix_01.m3u"));
  EXPECT_TRUE(FileExists(fixture_.Dir().File("Mix_01.m3u")));
  // Its own file, once named, is rewritten in place.
  ASSERT_EQ(fixture_.Source()->SetPlaylistMembers(0x140, {}), rc::kOk);
  EXPECT_FALSE(FileExists(fixture_.Dir().File("Mix_02.m3u")));
}

TEST_F(FileSourceObserverTest, PlaylistsOutsideTheRootsAndTheRootRecordAreNotWritten) {
  TempDir pc;
  EXPECT_EQ(AddPlaylist(0x140, "PC", {}, pc.File("pc.m3u")), kAccessDenied);
  EXPECT_FALSE(FileExists(pc.File("pc.m3u")));
  EXPECT_FALSE(fixture_.Find(0x140));

  RefPtr<RecordSet> root = fixture_.Find(kRootFid);
  root->SetString("title", "Everything");
  EXPECT_EQ(root->Update(), rc::kOk);
  EXPECT_FALSE(FileExists(fixture_.Dir().File("Everything.m3u")));
}

TEST_F(FileSourceObserverTest, DeletionOutsideTheLockRemovesFilesBelowTheRootsOnly) {
  const std::string a = Track("a.mp3");
  const std::string b = Track("b.mp3");
  TempDir pc;
  const std::string outside = pc.WriteFile("pc.mp3", "keep");
  AddTune(0x120, a, "A");
  AddTune(0x130, b, "B");
  AddTune(0x140, outside, "PC");
  ASSERT_EQ(fixture_.AddRecord(0x150, {{"type", "playlist"},
                                       {"path", Latin1ToUtf8(fixture_.Root())}}),
            rc::kOk);

  fixture_.Source()->Lock();
  EXPECT_EQ(fixture_.Find(0x130)->Delete(0), rc::kOk);
  fixture_.Source()->Unlock();
  EXPECT_TRUE(FileExists(b));

  for (uint32_t fid : {0x120u, 0x140u, 0x150u}) EXPECT_EQ(fixture_.Find(fid)->Delete(0), rc::kOk);
  EXPECT_FALSE(FileExists(a));
  EXPECT_TRUE(FileExists(outside));
  EXPECT_TRUE(FileExists(fixture_.Dir().File(".source.db")));
}

TEST_F(FileSourceObserverTest, SetPlaylistMembersKeepsKnownTracksInOrder) {
  AddTune(0x120, Track("a.mp3"), "A", "5");
  AddTune(0x130, Track("b.mp3"), "B", "6");
  ASSERT_EQ(AddPlaylist(0x140, "Mix", {}), rc::kOk);
  ASSERT_EQ(fixture_.Source()->SetPlaylistMembers(0x140, {0x130, 0x170, 0x120, kRootFid}),
            rc::kOk);
  RefPtr<RecordSet> playlist = fixture_.Find(0x140);
  uint32_t length = 0;
  const uint8_t* bytes = playlist->GetBlob("playlist", &length);
  EXPECT_EQ(DecodePlaylistMembers(std::string(reinterpret_cast<const char*>(bytes), length)),
            (std::vector<PlaylistMember>{{0x130, 6}, {0x120, 5}}));
  EXPECT_EQ(TempDir::ReadFile(fixture_.Dir().File("Mix.m3u")),
            "#EXTM3U\n#EXTINF:61,B - Artist\nb.mp3\n#EXTINF:61,A - Artist\na.mp3\n");

  fixture_.Source()->SetMemberLimit(1);
  ASSERT_EQ(fixture_.Source()->SetPlaylistMembers(0x140, {0x120, 0x130}), rc::kOk);
  EXPECT_EQ(TempDir::ReadFile(fixture_.Dir().File("Mix.m3u")),
            "#EXTM3U\n#EXTINF:61,A - Artist\na.mp3\n");

  EXPECT_EQ(fixture_.Source()->SetPlaylistMembers(0x160, {0x120}), rc::kNotFound);
  EXPECT_EQ(fixture_.Source()->SetPlaylistMembers(0x120, {0x130}), rc::kNotFound);
}

TEST_F(FileSourceObserverTest, CreatedPlaylistsGetUniqueTitles) {
  uint32_t probe = 0;
  if (fixture_.Source()->NewFid(&probe) == rc::kNotImplemented) {
    GTEST_SKIP() << "fids are not handed out yet";
  }
  AddTune(0x200, Track("a.mp3"), "A", "5");
  ASSERT_EQ(AddPlaylist(0x210, "Mix", {}), rc::kOk);
  ASSERT_EQ(AddPlaylist(0x220, "Mix 2", {}), rc::kOk);
  uint32_t fid = 0;
  ASSERT_EQ(fixture_.Source()->CreatePlaylist("Mix", "", {0x200}, &fid), rc::kOk);
  RefPtr<RecordSet> created = fixture_.Find(fid);
  ASSERT_TRUE(created);
  EXPECT_EQ(created->GetString("title"), "Mix 3");
  EXPECT_EQ(created->GetString("state"), "changed");
  EXPECT_EQ(created->GetInt("ctime"), created->GetInt("fid_generation"));
  EXPECT_EQ(TempDir::ReadFile(fixture_.Dir().File("Mix 3.m3u")),
            "#EXTM3U\n#EXTINF:61,A - Artist\na.mp3\n");

  fixture_.Source()->SetTitleLimit(5);
  ASSERT_EQ(fixture_.Source()->CreatePlaylist("Mixes", "", {}, &fid), rc::kOk);
  ASSERT_EQ(fixture_.Source()->CreatePlaylist("Mixes", "", {}, &fid), rc::kOk);
  EXPECT_EQ(fixture_.Find(fid)->GetString("title"), "Mix 4");  // "Mix 2" and "Mix 3" exist
}

class PictureTest : public ::testing::Test {
 protected:
  PictureTest() : fixture_(MscFileSource::kFlagsWithHostDatabase | DirectorySource::kPictures) {}
  void SetUp() override {
    ASSERT_NE(fixture_.Open(), nullptr);
    MakeDirectories(fixture_.Dir().File("Album"));
    track_ = fixture_.Dir().WriteFile("Album\\a.mp3", mpegtest::Frames(mpegtest::kMpeg1L3, 20));
  }

  RefPtr<RecordSet> WriteTune(const std::string& picture) {
    EXPECT_EQ(fixture_.AddRecord(0x120, {{"type", "tune"},
                                         {"path", Latin1ToUtf8(track_)},
                                         {"image_path", Latin1ToUtf8(picture)},
                                         {"options", "8192"}},
                                 true),
              rc::kOk);
    return fixture_.Find(0x120);
  }

  FileSourceFixture fixture_;
  std::string track_;
};

TEST_F(PictureTest, PictureIsCopiedIntoTheTracksFolder) {
  const std::string picture = fixture_.Dir().WriteFile("cover.jpg", "JPEG");
  RefPtr<RecordSet> record = WriteTune(picture);
  const std::string placed = fixture_.Dir().File("Album\\cover.jpg");
  EXPECT_EQ(TempDir::ReadFile(placed), "JPEG");
  EXPECT_TRUE(FileExists(picture));
  EXPECT_EQ(Utf8ToLatin1(record->GetString("image_path")), placed);
  EXPECT_EQ(record->GetInt("options"), 0x2000);
}

TEST_F(PictureTest, ExistingFileOfThatNameIsKept) {
  const std::string picture = fixture_.Dir().WriteFile("cover.jpg", "JPEG");
  const std::string existing = fixture_.Dir().WriteFile("Album\\cover.jpg", "OTHER");
  RefPtr<RecordSet> record = WriteTune(picture);
  EXPECT_EQ(TempDir::ReadFile(existing), "OTHER");
  EXPECT_EQ(Utf8ToLatin1(record->GetString("image_path")), picture);
}

TEST_F(PictureTest, PictureOfThePcIsNotCopied) {
  TempDir pc;
  const std::string picture = pc.WriteFile("cover.jpg", "JPEG");
  RefPtr<RecordSet> record = WriteTune(picture);
  EXPECT_FALSE(FileExists(fixture_.Dir().File("Album\\cover.jpg")));
  EXPECT_EQ(Utf8ToLatin1(record->GetString("image_path")), picture);
}

TEST_F(PictureTest, MissingPictureClearsTheRecordsPicture) {
  RefPtr<RecordSet> record = WriteTune(fixture_.Dir().File("gone.jpg"));
  EXPECT_FALSE(FileExists(fixture_.Dir().File("Album\\gone.jpg")));
  EXPECT_EQ(record->GetString("image_path"), "");
  EXPECT_EQ(record->GetInt("options"), 0);
}

}  // namespace
