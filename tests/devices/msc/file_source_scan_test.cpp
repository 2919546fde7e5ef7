// Synchronisation of a file source over a folder tree of real audio files: records in walk
// order, unchanged and changed files, deletions, playlist files, failures, fid allocation.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "devices/msc/file_source.h"
#include "devices/msc/scan_listener.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "media/record_set.h"
#include "failing_folder_listing.h"
#include "msc_audio_fixtures.h"
#include "support/file_helpers.h"
#include "testlib/asf_builder.h"
#include "testlib/mpeg_frames.h"
#include "testlib/temp_dir.h"

namespace {

// Flags of a source whose database is rebuilt at each open: WAV files scanned, playlist files
// read.
constexpr uint32_t kTestFlags = DirectorySource::kReadPlaylists | DirectorySource::kScanWav |
                                DirectorySource::kTemporaryDatabase |
                                DirectorySource::kNoFingerprint;

class RecordingListener : public ScanListener {
 public:
  Result OnTrack(RecordSet& record) override {
    tracks.push_back(record.GetString("path"));
    return rc::kOk;
  }
  Result OnProgress(const std::string&, uint32_t done, uint32_t total) override {
    progress.emplace_back(done, total);
    return rc::kOk;
  }
  Result OnByteProgress(const std::string&, uint64_t done, uint64_t total) override {
    byte_progress.emplace_back(done, total);
    return rc::kOk;
  }
  Result OnFileError(const std::string& path, Result error) override {
    file_errors[path] = error;
    return file_error_answer;
  }
  std::vector<std::string> tracks;
  std::map<std::string, Result> file_errors;
  Result file_error_answer = rc::kOk;
  std::vector<std::pair<uint32_t, uint32_t>> progress;
  std::vector<std::pair<uint64_t, uint64_t>> byte_progress;
};

void SetModified(const std::string& path, int64_t seconds_back) {
  HANDLE file =
      CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER value;
  value.LowPart = now.dwLowDateTime;
  value.HighPart = now.dwHighDateTime;
  value.QuadPart -= static_cast<uint64_t>(seconds_back) * 10000000u;
  FILETIME when = {value.LowPart, value.HighPart};
  SetFileTime(file, nullptr, nullptr, &when);
  CloseHandle(file);
}

class FileSourceScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA(dir_.File("root").c_str(), nullptr);
    Put("album a\\Disc 1\\01.flac", "flac");
    Put("album a\\x.MP3", "mp3");
    Put("Album B\\02 Song.ogg", "ogg");
    Put("song.WAV", "wav");
    Put("clip.mp4", "mp3");  // not a track extension
    dir_.WriteFile("root\\notes.txt", "text");
    Put("hidden.mp3", "mp3");
    SetFileAttributesA(Root("hidden.mp3").c_str(), FILE_ATTRIBUTE_HIDDEN);
    Put("system.mp3", "mp3");
    SetFileAttributesA(Root("system.mp3").c_str(), FILE_ATTRIBUTE_SYSTEM);
  }

  std::string Root(const std::string& name = "") const {
    return name.empty() ? dir_.File("root") : dir_.File("root\\" + name);
  }
  void Put(const std::string& name, const std::string& kind) {
    const std::string path = Root(name);
    MakeDirectories(path.substr(0, path.find_last_of('\\')));
    dir_.WriteFile("root\\" + name, AudioFixture(kind).Bytes());
    SetModified(path, 3600);
  }

  std::unique_ptr<FileSource> Open(uint32_t flags = kTestFlags) {
    std::unique_ptr<FileSource> source(new FileSource(flags, "", Root()));
    EXPECT_EQ(source->OpenDatabase(nullptr), rc::kOk);
    return source;
  }

  // fid -> path of every record, and its type.
  static std::map<uint32_t, std::string> Records(FileSource& source,
                                                 std::map<uint32_t, std::string>* types = nullptr) {
    std::map<uint32_t, std::string> records;
    RefPtr<RecordSet> all;
    EXPECT_EQ(source.Database()->OpenRecordSet(&all), rc::kOk);
    for (all->MoveFirst(); !all->IsEOF(); all->MoveNext()) {
      const uint32_t fid = static_cast<uint32_t>(all->GetInt("fid"));
      records[fid] = all->GetString("path");
      if (types) (*types)[fid] = all->GetString("type");
    }
    return records;
  }

  static std::string Field(FileSource& source, uint32_t fid, const char* column) {
    RefPtr<RecordSet> record;
    if (source.RecordDb().FindRow(&record, fid) != rc::kOk) return "<none>";
    return record->GetString(column);
  }

  TempDir dir_;
};

TEST_F(FileSourceScanTest, TracksAreRecordedInWalkOrderWithTheirTags) {
  auto source = Open();
  RecordingListener listener;
  ASSERT_EQ(source->Refresh(&listener, 0), rc::kOk);
  const std::vector<std::string> walk = {Root("album a\\Disc 1\\01.flac"), Root("album a\\x.MP3"),
                                         Root("Album B\\02 Song.ogg"), Root("song.WAV")};
  EXPECT_EQ(listener.tracks, walk);
  std::map<uint32_t, std::string> types;
  const std::map<uint32_t, std::string> records = Records(*source, &types);
  const std::map<uint32_t, std::string> expected = {
      {0x100, Root()}, {0x120, walk[0]}, {0x130, walk[1]}, {0x140, walk[2]}, {0x150, walk[3]}};
  EXPECT_EQ(records, expected);
  EXPECT_EQ(types[0x120], "tune");
  EXPECT_EQ(Field(*source, 0x120, "title"), AudioFixture("flac").title);
  EXPECT_EQ(Field(*source, 0x130, "artist"), AudioFixture("mp3").artist);
  EXPECT_EQ(Field(*source, 0x140, "source"), AudioFixture("ogg").album);
  EXPECT_EQ(Field(*source, 0x130, "length"), std::to_string(AudioFixture("mp3").size));
  EXPECT_EQ(Field(*source, 0x140, "fid_generation"), Field(*source, 0x140, "ctime"));
  EXPECT_EQ(Field(*source, 0x140, "state"), "");
  EXPECT_TRUE(listener.file_errors.empty());
}

TEST_F(FileSourceScanTest, WavFilesNeedTheirFlag) {
  auto source = Open(kTestFlags & ~DirectorySource::kScanWav);
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  EXPECT_EQ(Records(*source).size(), 4u);  // the root record and three tracks
  EXPECT_EQ(Records(*source).count(0x150), 0u);
}

TEST_F(FileSourceScanTest, RescanKeepsUnchangedRecordsRereadsChangedOnesAndDropsGoneOnes) {
  auto source = Open();
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  const std::string flac_title = Field(*source, 0x120, "title");

  // Same modification time, other bytes: only the time decides.
  const std::string flac = Root("album a\\Disc 1\\01.flac");
  WIN32_FILE_ATTRIBUTE_DATA before;
  GetFileAttributesExA(flac.c_str(), GetFileExInfoStandard, &before);
  dir_.WriteFile("root\\album a\\Disc 1\\01.flac", AudioFixture("flac").Bytes() + "tail");
  HANDLE handle =
      CreateFileA(flac.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  SetFileTime(handle, nullptr, nullptr, &before.ftLastWriteTime);
  CloseHandle(handle);
  // A new modification time: the file is read again under its old fid.
  dir_.WriteFile("root\\album a\\x.MP3", AudioFixture("ogg").Bytes());
  MoveFileA(Root("album a\\x.MP3").c_str(), Root("album a\\x.ogg").c_str());
  dir_.WriteFile("root\\Album B\\02 Song.ogg", AudioFixture("flac").Bytes());
  MoveFileA(Root("Album B\\02 Song.ogg").c_str(), Root("Album B\\02 Song.flac").c_str());
  Put("Album B\\02 Song.ogg", "ogg");
  SetModified(Root("Album B\\02 Song.ogg"), 60);
  UnlinkFile(Root("song.WAV"));

  RecordingListener listener;
  ASSERT_EQ(source->Refresh(&listener, 0), rc::kOk);
  const std::map<uint32_t, std::string> records = Records(*source);
  EXPECT_EQ(records.count(0x150), 0u) << "the removed file's record stays";
  EXPECT_EQ(records.count(0x100), 1u) << "the root record went";
  EXPECT_EQ(Field(*source, 0x120, "length"), std::to_string(AudioFixture("flac").size));
  EXPECT_EQ(Field(*source, 0x120, "title"), flac_title);
  EXPECT_EQ(Field(*source, 0x140, "path"), Root("Album B\\02 Song.ogg"));
  // New files take the free fids from the lowest up: the mp3's old fid 0x130 is gone.
  EXPECT_EQ(records.count(0x130), 0u);
  EXPECT_EQ(records.size(), 5u);
}

TEST_F(FileSourceScanTest, HiddenFilesRecordsAreDeleted) {
  auto source = Open();
  SetFileAttributesA(Root("hidden.mp3").c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  const size_t with_hidden = Records(*source).size();
  SetFileAttributesA(Root("hidden.mp3").c_str(), FILE_ATTRIBUTE_HIDDEN);
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  EXPECT_EQ(Records(*source).size(), with_hidden - 1);
}

TEST_F(FileSourceScanTest, PlaylistFileBecomesAPlaylistOfTheTracksInsideTheRoots) {
  const std::string outside = dir_.WriteFile("outside.mp3", AudioFixture("mp3").Bytes());
  dir_.WriteFile("root\\Party.m3u",
                 "#EXTM3U\r\nalbum a\\x.MP3\r\n" + outside + "\r\nAlbum B\r\nmissing.mp3\r\n");
  auto source = Open();
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  std::map<uint32_t, std::string> types;
  const std::map<uint32_t, std::string> records = Records(*source, &types);
  uint32_t playlist = 0;
  for (const auto& record : records) {
    EXPECT_NE(record.second, outside) << "a file of the PC was indexed";
    if (record.second == Root("Party.m3u")) playlist = record.first;
  }
  ASSERT_NE(playlist, 0u);
  EXPECT_EQ(types[playlist], "playlist");
  EXPECT_EQ(Field(*source, playlist, "title"), "Party");
  RefPtr<RecordSet> record;
  ASSERT_EQ(source->RecordDb().FindRow(&record, playlist), rc::kOk);
  const std::vector<PlaylistMember> members = RecordMembers(*record);
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(records.at(members[0].fid), Root("album a\\x.MP3"));
  EXPECT_EQ(records.at(members[1].fid), Root("Album B\\02 Song.ogg"));
  EXPECT_EQ(std::to_string(members[0].generation),
            Field(*source, members[0].fid, "fid_generation"));
  // A second pass finds the playlist unchanged under the same fid.
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  EXPECT_EQ(Records(*source), records);
}

TEST_F(FileSourceScanTest, UnreadableTagsAreReportedAndNeverRecorded) {
  dir_.WriteFile("root\\broken.flac", "fLaC but nothing after it");
  auto source = Open();
  RecordingListener listener;
  ASSERT_EQ(source->Refresh(&listener, 0), rc::kOk);
  EXPECT_EQ(listener.file_errors.count(Root("broken.flac")), 1u);
  for (const auto& record : Records(*source)) EXPECT_NE(record.second, Root("broken.flac"));

  // A recorded track whose file turns unreadable keeps its record.
  dir_.WriteFile("root\\album a\\x.MP3", "");
  dir_.WriteFile("root\\album a\\x.flac", "fLaC");
  MoveFileExA(Root("album a\\x.flac").c_str(), Root("album a\\Disc 1\\01.flac").c_str(),
              MOVEFILE_REPLACE_EXISTING);
  SetModified(Root("album a\\Disc 1\\01.flac"), 10);
  listener.file_errors.clear();
  ASSERT_EQ(source->Refresh(&listener, 0), rc::kOk);
  EXPECT_EQ(listener.file_errors.count(Root("album a\\Disc 1\\01.flac")), 1u);
  EXPECT_EQ(Field(*source, 0x120, "path"), Root("album a\\Disc 1\\01.flac"));

  // A listener that answers a failure stops the pass; no record is deleted then.
  UnlinkFile(Root("song.WAV"));
  listener.file_error_answer = static_cast<Result>(0x80040999);
  EXPECT_EQ(source->Refresh(&listener, 0), static_cast<Result>(0x80040999));
  EXPECT_EQ(Field(*source, 0x150, "path"), Root("song.WAV"));
}

TEST_F(FileSourceScanTest, AnUnreadableRootDeletesNoRecord) {
  auto source = Open();
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  const auto records = Records(*source);
  ASSERT_TRUE(MoveFileA(Root().c_str(), dir_.File("away").c_str()));
  RecordingListener listener;
  EXPECT_EQ(source->Refresh(&listener, 0), rc::kOk);
  EXPECT_EQ(listener.file_errors.count(Root()), 1u);
  EXPECT_EQ(Records(*source), records);
  ASSERT_TRUE(MoveFileA(dir_.File("away").c_str(), Root().c_str()));
}

// A folder whose listing fails says nothing about its files: the pass deletes no record (not
// even of a file that is really gone elsewhere), and without a listener it stops.
TEST_F(FileSourceScanTest, AFolderThatCannotBeListedDeletesNoRecord) {
  auto source = Open();
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  const auto records = Records(*source);
  ASSERT_EQ(records.size(), 5u);  // four tracks and the root record
  UnlinkFile(Root("song.WAV"));
  FailingFolderListing listing;
  listing.failing_folder = "album a";
  source->SetFolderListing(&listing);

  RecordingListener listener;
  EXPECT_EQ(source->Refresh(&listener, 0), rc::kOk);
  EXPECT_EQ(listener.file_errors[Root("album a")], rc::FromWin32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Records(*source), records);
  EXPECT_EQ(source->Refresh(nullptr, 0), rc::FromWin32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Records(*source), records);

  listing.failing_folder.clear();
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  EXPECT_EQ(Records(*source).size(), 4u);
  EXPECT_EQ(Records(*source).count(0x150), 0u);
}

// Answers that the player is there until the listing says the drive went away.
class PresenceListener : public MscScanListener {
 public:
  explicit PresenceListener(const FailingFolderListing& listing) : listing_(listing) {}
  bool OnTrack(PropertyHolder&) override { return true; }
  bool PlayerPresent() override { return !listing_.gone(); }

 private:
  const FailingFolderListing& listing_;
};

// The drive goes away at each point of the walk in turn: a listener that knows the player is
// gone ends the pass as gone, one that skips every error ends it without a failure; neither
// pass deletes a record.
TEST_F(FileSourceScanTest, ADriveGoneMidWalkDeletesNoRecord) {
  auto source = Open();
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  UnlinkFile(Root("album a\\x.MP3"));
  const auto records = Records(*source);
  for (uint32_t entries = 0; entries < 16; ++entries) {
    FailingFolderListing listing;
    listing.entries_before_gone = entries;
    source->SetFolderListing(&listing);
    PresenceListener presence(listing);
    EXPECT_EQ(source->Refresh(&presence), rc::kPlayerGone) << entries;
    EXPECT_EQ(Records(*source), records) << entries;

    FailingFolderListing skipped;
    skipped.entries_before_gone = entries;
    source->SetFolderListing(&skipped);
    RecordingListener listener;
    EXPECT_EQ(source->Refresh(&listener, 0), rc::kOk) << entries;
    EXPECT_FALSE(listener.file_errors.empty()) << entries;
    EXPECT_EQ(Records(*source), records) << entries;
  }
  source->SetFolderListing(nullptr);
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  EXPECT_EQ(Records(*source).size(), records.size() - 1);
}

TEST_F(FileSourceScanTest, APassOverOneRootDeletesOnlyUnderIt) {
  CreateDirectoryA(dir_.File("second").c_str(), nullptr);
  dir_.WriteFile("second\\other.mp3", AudioFixture("mp3").Bytes());
  auto source = Open();
  ASSERT_EQ(source->AddRoot(dir_.File("second")), rc::kOk);
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  ASSERT_EQ(Records(*source).size(), 6u);
  UnlinkFile(dir_.File("second\\other.mp3"));
  UnlinkFile(Root("song.WAV"));
  EXPECT_EQ(source->Synchronise(nullptr, dir_.File("nowhere"), true), rc::kOk);
  EXPECT_EQ(Records(*source).size(), 6u);  // a sub-path that is no root walks nothing
  EXPECT_EQ(source->Synchronise(nullptr, dir_.File("second"), true), rc::kOk);
  const auto records = Records(*source);
  EXPECT_EQ(records.size(), 5u);
  EXPECT_EQ(records.count(0x150), 1u);  // the first root's file is gone, its record is not
}

TEST_F(FileSourceScanTest, ScanOfAFileWithoutStatusGivesNoFid) {
  auto source = Open();
  uint32_t fid = 77, generation = 77;
  EXPECT_EQ(source->ScanFile(Root("nothing.mp3"), &fid, &generation, nullptr), rc::kOk);
  EXPECT_EQ(fid, 0u);
  EXPECT_EQ(generation, 0u);
  fid = 77;
  EXPECT_LT(source->ScanFile(Root("notes.txt"), &fid, &generation, nullptr), 0);
  EXPECT_EQ(fid, 0u);
}

// NewFid over tables with gaps: the first free multiple of 16 from 0x120, and the next one
// cached only when nothing follows it.
TEST_F(FileSourceScanTest, NewFidFillsGapsAndCachesOnlyAfterTheLastRecord) {
  const struct {
    std::vector<uint32_t> fids;
    uint32_t first, second;
  } cases[] = {
      {{}, 0x120, 0x130},
      {{0x120, 0x130, 0x150}, 0x140, 0x140},
      {{0x120, 0x130}, 0x140, 0x150},
      {{0x130}, 0x120, 0x120},
      {{0x120, 0x135}, 0x130, 0x130},  // a stray fid blocks nothing below it
      {{0x120, 0x12F}, 0x130, 0x140},
  };
  for (const auto& c : cases) {
    auto source = Open();
    for (uint32_t fid : c.fids) {
      RefPtr<RecordSet> record;
      ASSERT_EQ(source->Database()->OpenRecordSet(&record), rc::kOk);
      record->AddNew();
      record->SetInt("fid", static_cast<int32_t>(fid));
      record->SetString("type", "tune");
      source->Lock();
      ASSERT_EQ(record->Update(), rc::kOk);
      source->Unlock();
    }
    uint32_t first = 0, second = 0;
    ASSERT_EQ(source->NewFid(&first), rc::kOk);
    ASSERT_EQ(source->NewFid(&second), rc::kOk);
    EXPECT_EQ(first, c.first) << std::hex << c.first;
    EXPECT_EQ(second, c.second) << std::hex << c.first;
  }
}

}  // namespace

namespace {

TEST_F(FileSourceScanTest, ANewFileIsRecordedWithTheMetadataItCameWith) {
  auto source = Open();
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  const std::string path = dir_.WriteFile("root\\new.mp3", AudioFixture("mp3").Bytes());
  PropertyHolder file;
  file.SetString("name", path);
  file.SetString("title", "Given Title");
  file.SetString("type", "tune");
  ASSERT_EQ(source->RecordNewFile(file), rc::kOk);
  const uint32_t fid = static_cast<uint32_t>(file.GetSet()->GetInt("fid"));
  EXPECT_EQ(fid, 0x160u);
  EXPECT_EQ(Field(*source, fid, "title"), "Given Title");
  EXPECT_EQ(Field(*source, fid, "path"), path);
  EXPECT_EQ(file.GetString("fid_generation"), Field(*source, fid, "fid_generation"));
  // The tags went into the file: its length is the rewritten file's.
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(file.GetString("length"), std::to_string(data.nFileSizeLow));

  // A file whose tags cannot be written (WMA needs the platform's metadata editor, which is
  // not here): the upload fails and leaves neither file nor record.
  const std::string locked = dir_.WriteFile(
      "root\\locked.wma",
      asftest::Header({asftest::ContentDescription("One", "A")}) + asftest::Data("audio"));
  PropertyHolder failing;
  failing.SetString("name", locked);
  failing.SetString("title", "Never Written");
  EXPECT_LT(source->RecordNewFile(failing), 0);
  EXPECT_FALSE(FileExists(locked));
  for (const auto& record : Records(*source)) EXPECT_NE(record.second, locked);
}

// A drive with room for a new file once but not twice: the sibling a whole-file rewrite would
// need cannot be made (a folder holds its name). The new file's tags grow inside it; a later
// edit of the recorded file still goes through the sibling and fails with the file kept.
TEST_F(FileSourceScanTest, ANewFilesTagsGrowInPlaceWithoutASecondCopy) {
  auto source = Open();
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  const std::string audio = mpegtest::Frames(mpegtest::kMpeg1L3, 400);  // no tag: it must grow
  const std::string path = dir_.WriteFile("root\\upload.mp3", audio);
  ASSERT_NE(0, CreateDirectoryA((path + ".new").c_str(), nullptr));
  const std::string title(3000, 't');
  PropertyHolder file;
  file.SetString("name", path);
  file.SetString("title", title);
  file.SetString("type", "tune");
  ASSERT_EQ(source->RecordNewFile(file), rc::kOk);
  const uint32_t fid = static_cast<uint32_t>(file.GetSet()->GetInt("fid"));
  const std::string written = TempDir::ReadFile(path);
  ASSERT_GT(written.size(), audio.size() + title.size());
  EXPECT_EQ(written.substr(written.size() - audio.size()), audio);
  EXPECT_EQ(Field(*source, fid, "title"), title);
  EXPECT_EQ(Field(*source, fid, "length"), std::to_string(written.size()));

  RefPtr<RecordSet> record;
  ASSERT_EQ(source->RecordDb().FindRow(&record, fid), rc::kOk);
  record->SetString("title", std::string(6000, 'u'));  // beyond the grown tag's padding
  EXPECT_LT(record->Update(), 0);
  EXPECT_EQ(TempDir::ReadFile(path), written);
  EXPECT_EQ(Field(*source, fid, "title"), title);
}

// An upload whose tags cannot be written while another program holds its file (a scanner
// reading it): the upload fails and its file cannot be removed then. No pass lists it while it
// stays, and the first pass after the program lets go removes it.
TEST_F(FileSourceScanTest, AFailedUploadThatCannotBeRemovedYetIsNeverListed) {
  auto source = Open();
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  const std::string path =
      dir_.WriteFile("root\\upload.mp3", mpegtest::Frames(mpegtest::kMpeg1L3, 400));
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  PropertyHolder file;
  file.SetString("name", path);
  file.SetString("title", std::string(3000, 't'));
  file.SetString("type", "tune");
  EXPECT_LT(source->RecordNewFile(file), 0);
  ASSERT_TRUE(FileExists(path)) << "the test must keep the file from going";

  for (int pass = 0; pass < 2; ++pass) {
    RecordingListener listed;
    ASSERT_EQ(source->Refresh(&listed, 0), rc::kOk);
    for (const std::string& track : listed.tracks) EXPECT_NE(track, path) << "pass " << pass;
    for (const auto& record : Records(*source)) EXPECT_NE(record.second, path) << "pass " << pass;
  }
  CloseHandle(held);
  RecordingListener listed;
  ASSERT_EQ(source->Refresh(&listed, 0), rc::kOk);
  EXPECT_FALSE(FileExists(path));
  for (const std::string& track : listed.tracks) EXPECT_NE(track, path);
}

}  // namespace

namespace {

TEST_F(FileSourceScanTest, ProgressCountsFilesOrBytesOfTheExpectedTotal) {
  auto source = Open();
  RecordingListener counted;
  ASSERT_EQ(source->Synchronise(&counted, "", false), rc::kOk);
  const std::vector<std::pair<uint32_t, uint32_t>> files = {{1, 4}, {2, 4}, {3, 4}, {4, 5}};
  EXPECT_EQ(counted.progress, files);  // the total is raised past the count at the last file

  // With an expected byte total, progress comes in bytes.
  const uint64_t total = AudioFixture("flac").size + AudioFixture("mp3").size +
                         AudioFixture("ogg").size + AudioFixture("wav").size;
  RecordingListener bytes;
  ASSERT_EQ(source->Refresh(&bytes, total), rc::kOk);
  EXPECT_TRUE(bytes.progress.empty());
  ASSERT_FALSE(bytes.byte_progress.empty());
  EXPECT_EQ(bytes.byte_progress.front(),
            std::make_pair(uint64_t{AudioFixture("flac").size}, total));
}

}  // namespace

namespace {

TEST_F(FileSourceScanTest, PicturesAreFoundBesideTheTrackOrForItsFolder) {
  dir_.WriteFile("root\\album a\\x.jpg", "own picture");
  dir_.WriteFile("root\\Album B\\AlbumArt_small.jpg", "small");
  dir_.WriteFile("root\\Album B\\AlbumArt_large.jpg", "the larger one");
  auto source = Open(kTestFlags | DirectorySource::kPictures);
  ASSERT_EQ(source->Refresh(nullptr, 0), rc::kOk);
  const struct {
    uint32_t fid;
    const char* options;
    std::string picture;
  } cases[] = {
      {0x130, "8192", Root("album a\\x.jpg")},                 // its own file
      {0x140, "12288", Root("Album B\\AlbumArt_large.jpg")},  // the folder's largest
      {0x120, "", ""},                                         // none for Disc 1
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Field(*source, c.fid, "options"), c.options) << std::hex << c.fid;
    EXPECT_EQ(Field(*source, c.fid, "image_path"), c.picture) << std::hex << c.fid;
  }
}

}  // namespace
