#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devices/msc/file_source.h"
#include "devices/msc/file_source_test_support.h"
#include "support/file_helpers.h"
#include "support/file_stream.h"
#include "support/stream_io.h"
#include "support/text_convert.h"
#include "testlib/temp_dir.h"
#include "testlib/trace_capture.h"

namespace {

const char* const kColumnNames[] = {
    "fid",        "tracknr",  "length",     "offset",   "duration",
    "mtime",      "ctime",    "samplerate", "trailer",  "file_id",
    "options",    "bpm",      "replay_gain_peak", "replay_gain_radio",
    "replay_gain_audiophile", "playlist", "cd_toc", "type", "path",
    "title",      "artist",   "year",       "genre",    "comment",
    "source",     "bitrate",  "codec",      "rid",      "state",
    "drm",        "provider", "mood",       "composer", "lyricist",
    "conductor",  "ensemble", "remixed",    "originalartist",
    "fid_generation", "image_path"};

// Sets HOME for one test and puts the old value back.
class ScopedHome {
 public:
  explicit ScopedHome(const std::string& value) {
    const char* old = std::getenv("HOME");
    had_ = old != nullptr;
    if (had_) old_ = old;
    _putenv(("HOME=" + value).c_str());
  }
  ~ScopedHome() { _putenv(("HOME=" + (had_ ? old_ : std::string())).c_str()); }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(FileSourceDatabaseTest, NewDatabaseHasTheSchemaAndTheRootRecord) {
  FileSourceFixture fixture;
  uint8_t created = 7;
  FileSource* source = fixture.Open(&created);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(created, 1);
  EXPECT_EQ(source->DatabasePath(), fixture.Root() + "/.source.db");
  EXPECT_TRUE(FileExists(fixture.Dir().File(".source.db")));

  const std::vector<SimpleColumn>& columns = source->Db().Columns();
  ASSERT_EQ(columns.size(), 40u);
  for (size_t i = 0; i < columns.size(); ++i) EXPECT_EQ(columns[i].name, kColumnNames[i]);
  EXPECT_EQ(columns[15].type, kSimpleList);
  EXPECT_EQ(columns[18].type, kSimpleText);
  EXPECT_EQ(columns[38].type, kSimpleNumber);
  EXPECT_EQ(source->Db().Indexes().size(), 33u);
  EXPECT_TRUE(source->Db().HasIndex(std::vector<std::string>{"type", "genre", "artist", "title"}));
  uint32_t version = 0;
  EXPECT_EQ(source->Db().GetVersion(&version), rc::kOk);
  EXPECT_EQ(version, 37u);

  RefPtr<RecordSet> root = fixture.Find(kRootFid);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->GetString("type"), "playlist");
  EXPECT_EQ(Utf8ToLatin1(root->GetString("path")), fixture.Root());
  EXPECT_EQ(root->GetString("title"), FileSource::kRootTitle);
  EXPECT_EQ(root->GetString("state"), "");
}

TEST(FileSourceDatabaseTest, ReopeningKeepsRecordsAndOnlyRetitlesTheRoot) {
  FileSourceFixture fixture;
  ASSERT_NE(fixture.Open(), nullptr);
  ASSERT_EQ(fixture.AddRecord(0x120, {{"type", "tune"}, {"title", "Song"}}), rc::kOk);
  RefPtr<RecordSet> root = fixture.Find(kRootFid);
  root->SetString("title", "Old name");
  fixture.Source()->Lock();
  ASSERT_EQ(root->Update(), rc::kOk);
  fixture.Source()->Unlock();
  root = RefPtr<RecordSet>();
  fixture.Close();

  uint8_t created = 7;
  ASSERT_NE(fixture.Open(&created), nullptr);
  EXPECT_EQ(created, 0);
  ASSERT_TRUE(fixture.Find(0x120));
  EXPECT_EQ(fixture.Find(0x120)->GetString("title"), "Song");
  EXPECT_EQ(fixture.Find(kRootFid)->GetString("title"), FileSource::kRootTitle);
}

// Each of these damages makes the next open build a new database with one root record.
TEST(FileSourceDatabaseTest, OutdatedOrDamagedDatabasesAreRebuilt) {
  struct Case {
    const char* name;
    void (*damage)(FileSource* source, const std::string& path);
  } cases[] = {
      {"version 36", [](FileSource* source, const std::string&) { source->Db().SetVersion(36); }},
      {"missing column",
       [](FileSource* source, const std::string&) {
         // A version-37 stamp over a schema that is not this source's.
         source->Db().AddColumn("extra", kSimpleText);
       }},
      {"not a database", [](FileSource*, const std::string&) {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileSourceFixture fixture;
    ASSERT_NE(fixture.Open(), nullptr);
    ASSERT_EQ(fixture.AddRecord(0x120, {{"type", "tune"}}), rc::kOk);
    const std::string path = fixture.Source()->DatabasePath();
    c.damage(fixture.Source(), path);
    fixture.Close();
    if (std::string(c.name) == "not a database") {
      fixture.Dir().WriteFile(".source.db", std::string(8192, '\x5A'));
    }
    uint8_t created = 0;
    FileSource* source = fixture.Open(&created);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(source->Db().Columns().size(), 40u);
    EXPECT_EQ(source->Db().Indexes().size(), 33u);
    EXPECT_FALSE(fixture.Find(0x120));
    EXPECT_TRUE(fixture.Find(kRootFid));
  }
}

TEST(FileSourceDatabaseTest, OutdatedDatabaseThatCannotBeDeletedIsNotUsed) {
  FileSourceFixture fixture;
  ASSERT_NE(fixture.Open(), nullptr);
  fixture.Source()->Db().SetVersion(36);
  fixture.Close();
  // Held open by another program that lets others read and write it but not delete it.
  const std::string path = fixture.Dir().File(".source.db");
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  {
    FileSource source(MscFileSource::kFlagsWithHostDatabase, "", fixture.Root());
    EXPECT_LT(source.OpenDatabase(nullptr), 0);
  }
  CloseHandle(held);
}

TEST(FileSourceDatabaseTest, TemporaryDatabaseIsBuiltAnewAtEveryOpen) {
  FileSourceFixture fixture(MscFileSource::kFlagsWithoutHostDatabase);
  for (int open = 0; open < 2; ++open) {
    uint8_t created = 0;
    ASSERT_NE(fixture.Open(&created), nullptr);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(fixture.Source()->DatabasePath(), "");
    EXPECT_TRUE(fixture.Find(kRootFid));
    EXPECT_EQ(fixture.AddRecord(0x120, {{"type", "tune"}}), rc::kOk);
  }
  EXPECT_FALSE(FileExists(fixture.Dir().File(".source.db")));
}

TEST(FileSourceDatabaseTest, GivenDatabasePathIsUsed) {
  TempDir host;  // outlives the source, which closes its database at the end
  FileSourceFixture fixture;
  const std::string path = host.File("player.db");
  ASSERT_NE(fixture.Open(nullptr, path), nullptr);
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(fixture.Dir().File(".source.db")));
}

TEST(FileSourceDatabaseTest, UnreachableRootFallsBackToHome) {
  TempDir home;
  ScopedHome scoped(home.Path());
  FileSource source(MscFileSource::kFlagsWithHostDatabase, "", "/no-such-media/player/");
  uint8_t created = 0;
  ASSERT_EQ(source.OpenDatabase(&created), rc::kOk);
  EXPECT_EQ(created, 1);
  EXPECT_EQ(source.DatabasePath(), home.Path() + "/.no-such-media-player.db");
  EXPECT_TRUE(FileExists(home.File(".no-such-media-player.db")));
}

TEST(FileSourceDatabaseTest, UnreachableRootWithoutHomeFails) {
  ScopedHome scoped("");
  FileSource source(MscFileSource::kFlagsWithHostDatabase, "", "/no-such-media/player/");
  EXPECT_EQ(source.OpenDatabase(nullptr), static_cast<Result>(0x80041002));
}

TEST(FileSourceDatabaseTest, InconsistentDatabaseIsDeletedOnClose) {
  FileSourceFixture fixture;
  ASSERT_NE(fixture.Open(), nullptr);
  fixture.Source()->Db().MarkInconsistent();
  TraceCapture trace;
  fixture.Close();
  EXPECT_NE(trace.lines.find("Inconsistency detected, forcing database rebuild\n"),
            std::string::npos);
  EXPECT_FALSE(FileExists(fixture.Dir().File(".source.db")));
}

TEST(FileSourceDatabaseTest, PathLookupIgnoresCaseAndSeparators) {
  FileSourceFixture fixture;
  ASSERT_NE(fixture.Open(), nullptr);
  ASSERT_EQ(fixture.AddRecord(0x120, {{"type", "tune"}, {"path", "E:\\Music\\A.mp3"}}), rc::kOk);
  RefPtr<RecordQuery> query;
  ASSERT_EQ(fixture.Source()->Database()->CreateQuery(&query), rc::kOk);
  ASSERT_EQ(query->AddTextCondition("path", kOpEqual, "e:/MUSIC/a.mp3"), rc::kOk);
  RefPtr<RecordSet> found;
  ASSERT_EQ(query->Execute(&found), rc::kOk);
  ASSERT_FALSE(found->IsEOF());
  EXPECT_EQ(found->GetInt("fid"), 0x120);
}

TEST(FileSourceDatabaseTest, FindRowRefusesFidsThatCannotExist) {
  FileSourceFixture fixture;
  ASSERT_NE(fixture.Open(), nullptr);
  for (uint32_t fid : {0x105u, 0x0F0u, 0u, 0x130u}) {
    RefPtr<RecordSet> record;
    EXPECT_EQ(fixture.Source()->RecordDb().FindRow(&record, fid), rc::kNotFound) << fid;
    EXPECT_FALSE(record);
  }
}

TEST(FileSourceDatabaseTest, RewritePathsStoresChangedPathsOnly) {
  FileSourceFixture fixture;
  ASSERT_NE(fixture.Open(), nullptr);
  ASSERT_EQ(fixture.AddRecord(0x120, {{"type", "tune"}, {"path", "E:\\a.mp3"}}), rc::kOk);
  ASSERT_EQ(fixture.AddRecord(0x130, {{"type", "tune"}, {"path", "F:\\b.mp3"}}), rc::kOk);
  ASSERT_EQ(fixture.Source()->RewritePaths([](std::string* path) {
    if ((*path)[0] != 'E') return false;
    (*path)[0] = 'G';
    return true;
  }),
            rc::kOk);
  EXPECT_EQ(fixture.Find(0x120)->GetString("path"), "G:\\a.mp3");
  EXPECT_EQ(fixture.Find(0x130)->GetString("path"), "F:\\b.mp3");
}

TEST(FileSourceDatabaseTest, FileOpenerOpensTracksBelowTheRootsOnly) {
  FileSourceFixture fixture;
  ASSERT_NE(fixture.Open(), nullptr);
  TempDir pc;
  const std::string track = fixture.Dir().WriteFile("a.mp3", "MUSIC");
  const std::string outside = pc.WriteFile("secret.txt", "PC FILE");
  ASSERT_EQ(fixture.AddRecord(0x120, {{"type", "tune"}, {"path", Latin1ToUtf8(track)}}), rc::kOk);
  ASSERT_EQ(fixture.AddRecord(0x130, {{"type", "tune"}, {"path", Latin1ToUtf8(outside)}}),
            rc::kOk);
  ASSERT_EQ(fixture.AddRecord(0x140, {{"type", "tune"}, {"path", fixture.Dir().File("gone")}}),
            rc::kOk);

  std::unique_ptr<FileStream> stream;
  ASSERT_EQ(fixture.Source()->FileOpener().OpenFile(0x120, &stream), rc::kOk);
  char bytes[8] = {};
  uint32_t got = 0;
  ASSERT_EQ(ReadUpTo(stream.get(), bytes, sizeof bytes, &got), rc::kOk);
  EXPECT_EQ(std::string(bytes, got), "MUSIC");
  stream.reset();
  EXPECT_EQ(fixture.Source()->FileOpener().OpenFile(0x130, &stream),
            static_cast<Result>(0x80070005));
  EXPECT_LT(fixture.Source()->FileOpener().OpenFile(0x140, &stream), 0);
  EXPECT_EQ(fixture.Source()->FileOpener().OpenFile(0x150, &stream), rc::kNotFound);
  EXPECT_EQ(fixture.Source()->FileOpener().Unsupported(), rc::kNotImplemented);
  EXPECT_FALSE(stream);
}

TEST(FileSourceDatabaseTest, OpeningTwiceWritesBackOnce) {
  FileSourceFixture fixture;
  ASSERT_NE(fixture.Open(), nullptr);
  ASSERT_EQ(fixture.Source()->OpenDatabase(nullptr), rc::kOk);
  EXPECT_EQ(fixture.Source()->Db().Observers().size(), 1u);
}

class CountingListener : public SourceChangeListener {
 public:
  void OnRecordChanged(uint32_t fid) override { events.push_back("changed " + Hex(fid)); }
  void OnRecordRemoved(uint32_t fid) override { events.push_back("removed " + Hex(fid)); }
  void OnPlaylistChanged(uint32_t fid) override { events.push_back("playlist " + Hex(fid)); }
  static std::string Hex(uint32_t fid) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", fid);
    return text;
  }
  std::vector<std::string> events;
};

TEST(DirectorySourceTest, ListenersAreAddedAndRemovedWithEveryOccurrence) {
  DirectorySource source(0, "E:\\");
  CountingListener a;
  CountingListener b;
  source.AddChangeListener(&a);
  source.AddChangeListener(&b);
  source.AddChangeListener(&a);
  source.RemoveChangeListener(&a);
  EXPECT_EQ(source.ChangeListeners(), std::vector<SourceChangeListener*>{&b});
  source.RemoveChangeListener(&a);
  EXPECT_EQ(source.ChangeListeners(), std::vector<SourceChangeListener*>{&b});
}

TEST(DirectorySourceTest, HasNoDatabaseAndIgnoresLockingAndSyncing) {
  DirectorySource source(DirectorySource::kScanWav, "E:\\");
  source.Lock();
  source.Unlock();
  source.SetSyncOnChange(false);
  EXPECT_EQ(source.SyncDatabase(), rc::kOk);
  EXPECT_FALSE(source.PlaylistOptions());
  RefPtr<RecordSet> records;
  EXPECT_EQ(source.Database()->OpenRecordSet(&records), rc::kNotImplemented);
  EXPECT_EQ(source.RecordDb().FindRow(&records, 0x120), rc::kNotImplemented);
  EXPECT_TRUE(DirectorySource(DirectorySource::kRootTracksInRoot, "E:\\").PlaylistOptions());
}

TEST(FileSourceDatabaseTest, ListenersHearChangesAndRemovals) {
  FileSourceFixture fixture;
  ASSERT_NE(fixture.Open(), nullptr);
  CountingListener listener;
  fixture.Source()->AddChangeListener(&listener);
  ASSERT_EQ(fixture.AddRecord(0x120, {{"type", "tune"}}), rc::kOk);
  ASSERT_EQ(fixture.AddRecord(0x130, {{"type", "playlist"}}), rc::kOk);
  RefPtr<RecordSet> record = fixture.Find(0x120);
  fixture.Source()->Lock();
  ASSERT_EQ(record->Delete(0), rc::kOk);
  fixture.Source()->Unlock();
  EXPECT_EQ(listener.events, (std::vector<std::string>{"changed 120", "changed 130",
                                                       "playlist 130", "removed 120"}));
}

}  // namespace
