// The copy of a library file that a writing pass keeps until its batch is written and synced:
// taken before the first write only, gone after a whole pass, put back by the next open after
// a pass that was cut short, left alone while a pass under way holds it, kept when the pass's
// end fails, and a pass that cannot take it writes nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "db/db185_api.h"
#include "devices/msc/file_source.h"
#include "devices/msc/library_pass_backup.h"
#include "devices/msc/scan_listener.h"
#include "msc_audio_fixtures.h"
#include "support/file_helpers.h"
#include "testlib/temp_dir.h"
#include "testlib/trace_capture.h"

namespace {

DB real_calls;
int healthy_syncs = -1;  // syncs left before they fail; -1: none fails

int MaybeFailingSync(const DB* db, u_int flags) {
  if (healthy_syncs >= 0 && healthy_syncs-- == 0) {
    healthy_syncs = 0;
    errno = EIO;
    return -1;
  }
  return (real_calls.sync)(db, flags);
}

struct __db* SyncFailingOpen(const char* path, int flags, int mode, const void* info) {
  DB* db = dbopen(path, flags, mode, DB_BTREE, info);
  if (db == nullptr) return nullptr;
  real_calls = *db;
  db->sync = MaybeFailingSync;
  return db;
}

// Runs a check with the path of every track the pass reports.
class TrackWatcher : public ScanListener {
 public:
  explicit TrackWatcher(std::function<void(const std::string&)> check = nullptr)
      : check_(std::move(check)) {}
  Result OnTrack(RecordSet& record) override {
    if (check_) check_(record.GetString("path"));
    return rc::kOk;
  }
  Result OnDatabaseError(const std::string&, Result error) override {
    ++database_errors;
    return error;
  }
  int database_errors = 0;

 private:
  std::function<void(const std::string&)> check_;
};

class LibraryPassBackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    healthy_syncs = -1;
    MakeDirectories(Root());
    for (const char* name : {"a\\01.mp3", "a\\02.mp3", "b\\03.flac"}) Put(name);
  }
  void TearDown() override { healthy_syncs = -1; }

  std::string Root() const { return dir_.File("drive"); }
  std::string Library() const { return dir_.File("library.db"); }
  std::string Copy() const { return PassBackup::CopyPath(Library()); }
  void Put(const std::string& name) {
    const std::string path = Root() + "\\" + name;
    MakeDirectories(path.substr(0, path.find_last_of('\\')));
    dir_.WriteFile("drive\\" + name,
                   AudioFixture(name.substr(name.find('.') + 1)).Bytes());
  }

  std::unique_ptr<FileSource> Open() {
    std::unique_ptr<FileSource> source(new FileSource(
        MscFileSource::kFlagsWithHostDatabase, Library(), Root(), SyncFailingOpen));
    EXPECT_EQ(source->OpenDatabase(nullptr), rc::kOk);
    return source;
  }

  // fid -> path of every record.
  static std::map<uint32_t, std::string> Records(FileSource& source) {
    std::map<uint32_t, std::string> records;
    RefPtr<RecordSet> all;
    EXPECT_EQ(source.Database()->OpenRecordSet(&all), rc::kOk);
    for (all->MoveFirst(); !all->IsEOF(); all->MoveNext()) {
      records[static_cast<uint32_t>(all->GetInt("fid"))] = all->GetString("path");
    }
    return records;
  }

  // The library after one whole pass over the three files.
  std::map<uint32_t, std::string> FirstPass() {
    auto source = Open();
    EXPECT_EQ(source->Refresh(nullptr, 0), rc::kOk);
    return Records(*source);
  }

  TempDir dir_;
};

TEST_F(LibraryPassBackupTest, AWritingPassHoldsACopyOfTheFileBeforeItAndDropsItAtItsEnd) {
  FirstPass();
  Put("b\\04.ogg");
  auto source = Open();
  const std::string before = TempDir::ReadFile(Library());
  int checks = 0;
  TrackWatcher watcher([&](const std::string& path) {
    ++checks;
    if (path.find("04.ogg") == std::string::npos) {
      EXPECT_FALSE(FileExists(Copy())) << path;  // nothing written yet
      return;
    }
    // The new track is the pass's first write; the copy is the file as it was before it.
    EXPECT_EQ(TempDir::ReadFile(Copy()), before);
    // Another open of the library meanwhile leaves the held copy and the file alone.
    PassBackup::RestoreInterruptedPass(Library());
    EXPECT_TRUE(FileExists(Copy()));
    EXPECT_TRUE(FileExists(Library()));
  });
  ASSERT_EQ(source->Refresh(&watcher, 0), rc::kOk);
  EXPECT_EQ(checks, 4);
  EXPECT_FALSE(FileExists(Copy()));
  EXPECT_EQ(Records(*source).size(), 5u);
}

TEST_F(LibraryPassBackupTest, APassThatChangesNothingTakesNoCopy) {
  FirstPass();
  auto source = Open();
  TrackWatcher watcher([&](const std::string&) { EXPECT_FALSE(FileExists(Copy())); });
  ASSERT_EQ(source->Refresh(&watcher, 0), rc::kOk);
  EXPECT_FALSE(FileExists(Copy()));
}

TEST_F(LibraryPassBackupTest, TheNextOpenPutsBackTheCopyOfAPassCutShort) {
  const std::map<uint32_t, std::string> before = FirstPass();
  // What a killed pass leaves: its copy, a part copy, and a file torn beyond reading.
  ASSERT_TRUE(CopyFileA(Library().c_str(), Copy().c_str(), FALSE));
  dir_.WriteFile("library.db.bak.tmp", "part of a copy");
  std::string torn = TempDir::ReadFile(Library());
  torn.replace(4096, 4096, std::string(4096, '\x5A'));
  dir_.WriteFile("library.db", torn);

  TraceCapture trace;
  auto source = Open();
  EXPECT_NE(trace.lines.find("was cut short"), std::string::npos);
  EXPECT_EQ(Records(*source), before);
  EXPECT_FALSE(FileExists(Copy()));
  EXPECT_FALSE(FileExists(Copy() + ".tmp"));
  // The pass runs again and keeps every fid.
  Put("b\\04.ogg");
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  std::map<uint32_t, std::string> after = Records(*source);
  EXPECT_EQ(after.size(), 5u);
  for (const auto& record : before) EXPECT_EQ(after[record.first], record.second);
}

TEST_F(LibraryPassBackupTest, APartCopyAloneLeavesTheLibraryAsItIs) {
  const std::map<uint32_t, std::string> before = FirstPass();
  dir_.WriteFile("library.db.bak.tmp", "part of a copy");
  auto source = Open();
  EXPECT_EQ(Records(*source), before);
  EXPECT_FALSE(FileExists(Copy() + ".tmp"));
}

TEST_F(LibraryPassBackupTest, APassWhoseEndIsNotSyncedLeavesItsCopyForTheNextOpen) {
  const std::map<uint32_t, std::string> before = FirstPass();
  Put("b\\04.ogg");
  {
    auto source = Open();
    healthy_syncs = 1;  // the one before the copy
    TrackWatcher watcher;
    source->Refresh(&watcher, 0);
    EXPECT_EQ(watcher.database_errors, 1);
    EXPECT_TRUE(source->Db().Inconsistent());
    EXPECT_TRUE(FileExists(Copy()));
    healthy_syncs = -1;
  }
  auto source = Open();
  EXPECT_EQ(Records(*source), before);
  EXPECT_FALSE(FileExists(Copy()));
}

TEST_F(LibraryPassBackupTest, APassThatCannotTakeItsCopyWritesNothing) {
  const std::map<uint32_t, std::string> before = FirstPass();
  Put("b\\04.ogg");
  ASSERT_TRUE(CreateDirectoryA((Copy() + ".tmp").c_str(), nullptr));  // no file can go there
  std::string before_bytes;
  {
    auto source = Open();
    before_bytes = TempDir::ReadFile(Library());
    TrackWatcher watcher;
    source->Refresh(&watcher, 0);
    EXPECT_GE(watcher.database_errors, 1);
    EXPECT_EQ(Records(*source), before);
  }
  EXPECT_EQ(TempDir::ReadFile(Library()), before_bytes);
  EXPECT_FALSE(FileExists(Copy()));
}

}  // namespace
