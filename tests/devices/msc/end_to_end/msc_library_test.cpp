// A mass-storage player's music library on M:, the removable drive of the test prefix, with
// files made by Debian's encoders: listing tracks and playlists, uploading, replacing,
// deleting, writing playlists and rescanning after changes made behind the system's back.
// Tags, playlist files and the database are read back by mutagen, an M3U parser of their own
// and db5.3_dump, on the Linux side.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/channel.h"
#include "devices/msc/file_source.h"
#include "devices/msc/msc_device.h"
#include "devices/msc/msc_drive_source.h"
#include "devices/msc/msc_results.h"
#include "devices/output_stream.h"
#include "devices/visitors.h"
#include "host_oracle.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "msc_audio_fixtures.h"
#include "m_drive_player.h"
#include "sim/msc/sim_msc_player.h"
#include "support/file_helpers.h"
#include "support/memory_stream.h"
#include "testlib/com_apartment.h"
#include "testlib/fault_injecting_stream.h"
#include "testlib/temp_dir.h"
#include "wmdm/provider/wmdm_host.h"
#include "wmdm/provider/wmdm_steps.h"

namespace {

using Lines = std::vector<std::string>;

const char kEarlyLight[] = "M:\\Music\\Harbour\\01 Early Light.mp3";
const char kLowTide[] = "M:\\Music\\Harbour\\Disc 2\\02 Low Tide.flac";
const char kNightFerry[] = "M:\\Music\\crossings\\07 Night Ferry.OGG";
const char kMemo[] = "M:\\Music\\Recordings\\Memo.WAV";
const char kMix[] = "M:\\Playlists\\Mix.m3u";

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  MakeDirectories(path.substr(0, path.find_last_of('\\')));
  std::ofstream(path, std::ios::binary) << bytes;
}

// Every entry of the drive's root folder goes.
void ClearDrive() {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("M:\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") {
      SetFileAttributesA(("M:\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteTree("M:\\" + name);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

Lines TemporaryFilesIn(const std::string& folder) {
  Lines names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\TKM*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

std::string LittleEndianFids(const std::vector<uint32_t>& fids) {
  std::string bytes;
  for (uint32_t fid : fids) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(fid >> shift));
  }
  return bytes;
}

// What EnumContents hands out: storages, files by path, playlists by path with the paths of
// their members.
class ContentsRecorder : public ContentsVisitor {
 public:
  bool Storage(PropertyHolder&) override {
    ++storages;
    return true;
  }
  bool File(uint32_t storage, PropertyHolder& file, uint32_t* handle) override {
    EXPECT_EQ(storage, 0u);
    const std::string path = file.GetString("path");
    EXPECT_EQ(file.GetString("name"), path);
    files[path] = PropertyHolder::CloneFrom(file).GetSet();
    paths.push_back(path);
    *handle = static_cast<uint32_t>(paths.size());
    return true;
  }
  bool RootPlaylist(uint32_t, PropertyHolder&, uint32_t*) override { return true; }
  bool PlaylistMembers(uint32_t handle, const std::vector<uint32_t>& members) override {
    Lines& list = playlists[paths.at(handle - 1)];
    for (uint32_t member : members) list.push_back(paths.at(member - 1));
    return true;
  }

  uint32_t Fid(const std::string& path) const {
    return files.count(path) ? static_cast<uint32_t>(files.at(path)->GetInt("fid")) : 0;
  }
  std::string Get(const std::string& path, const char* key) const {
    return files.count(path) ? files.at(path)->GetString(key) : "<not listed>";
  }

  int storages = 0;
  Lines paths;
  std::map<std::string, RefPtr<PropertySet>> files;
  std::map<std::string, Lines> playlists;
};

class MscLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetDriveTypeA("M:\\"), static_cast<UINT>(DRIVE_REMOVABLE))
        << "the test prefix has no removable drive M: (scripts/lib/wine_env.sh maps it)";
    PutPlayerOnDriveM(&io_, player_);
    ClearDrive();
    WriteBytes(kEarlyLight, AudioFixture("mp3").Bytes());
    WriteBytes(kLowTide, AudioFixture("flac").Bytes());
    WriteBytes(kNightFerry, AudioFixture("ogg").Bytes());
    WriteBytes(kMemo, AudioFixture("wav").Bytes());
    WriteBytes("M:\\Music\\Video\\clip.mp4", AudioFixture("mp3").Bytes());
    WriteBytes("M:\\Music\\Hidden.mp3", AudioFixture("mp3").Bytes());
    SetFileAttributesA("M:\\Music\\Hidden.mp3", FILE_ATTRIBUTE_HIDDEN);
    WriteBytes("M:\\Music\\System.mp3", AudioFixture("mp3").Bytes());
    SetFileAttributesA("M:\\Music\\System.mp3", FILE_ATTRIBUTE_SYSTEM);
    outside_ = host_.WriteFile("outside.mp3", AudioFixture("mp3").Bytes());
    WriteBytes(kMix, "#EXTM3U\r\n..\\Music\\Harbour\\01 Early Light.mp3\r\n" + outside_ +
                         "\r\n..\\Music\\crossings\r\n");
  }
  void TearDown() override {
    channel_.reset();
    devices_.clear();
    ClearDrive();
  }

  Channel& OpenChannel() {
    EXPECT_EQ(EnumerateMscDevices(environment_, &devices_), rc::kOk);
    EXPECT_EQ(devices_.size(), 1u);
    Channel* channel = nullptr;
    if (!devices_.empty()) {
      EXPECT_EQ(devices_[0]->OpenChannel(&channel), rc::kOk);
    }
    channel_.reset(channel);
    return *channel_;
  }
  // Closes the channel and the device, and with them the database.
  void CloseDevice() {
    channel_.reset();
    devices_.clear();
  }

  ContentsRecorder Contents() {
    ContentsRecorder contents;
    EXPECT_EQ(channel_->EnumContents(&contents), rc::kOk);
    return contents;
  }

  // An upload through the channel's new-file stream, as the WMDM upload makes it.
  Result Upload(const std::string& bytes, PropertyHolder& file) {
    OutputStream* raw = nullptr;
    Result result = channel_->CreateNewFile(0, &raw);
    if (rc::Failed(result)) return result;
    std::unique_ptr<OutputStream> upload(raw);
    result = upload->Write(reinterpret_cast<const uint8_t*>(bytes.data()),
                           static_cast<uint32_t>(bytes.size()));
    return rc::Succeeded(result) ? upload->Finish(file) : result;
  }

  static PropertyHolder Tune(const std::string& title, const std::string& artist,
                             const std::string& album, int tracknr) {
    PropertyHolder file;
    file.SetString("name", title + ".mp3");
    file.SetString("type", "tune");
    file.SetString("codec", "mp3");
    file.SetString("title", title);
    file.SetString("artist", artist);
    file.SetString("source", album);
    file.SetInt("tracknr", tracknr);
    return PropertyHolder::CloneFrom(file);
  }

  // The entries of a playlist file as the independent parser reads them, made absolute.
  static Lines PlaylistEntries(const std::string& playlist) {
    const std::string folder = playlist.substr(0, playlist.find_last_of('\\'));
    Lines entries;
    for (const std::string& entry : RunHostOracle("m3u", playlist)) {
      if (entry.size() > 1 && entry[1] == ':') {
        entries.push_back(entry);
      } else {
        char full[MAX_PATH];
        GetFullPathNameA((folder + "\\" + entry).c_str(), MAX_PATH, full, nullptr);
        entries.push_back(full);
      }
    }
    return entries;
  }

  TempDir host_;
  std::string outside_;
  std::string database_ = host_.File("player.db");
  SimVolumeIo io_;
  std::shared_ptr<SimMscPlayer> player_ = std::make_shared<SimMscPlayer>();
  MscEnvironment environment_ = [this] {
    MscEnvironment environment;
    environment.volume_io = &io_;
    // A database on the PC, so that it outlives the device and can be read back.
    environment.file_sources = [this](uint32_t, const std::string&, const std::string& root,
                                      std::unique_ptr<MscFileSource>* out) {
      return FileSource::Create(MscFileSource::kFlagsWithHostDatabase, database_, root, out);
    };
    return environment;
  }();
  std::vector<RefPtr<MscDevice>> devices_;
  std::unique_ptr<Channel> channel_;
};

TEST_F(MscLibraryTest, ListsTheTracksAndPlaylistsOfTheDrive) {
  OpenChannel();
  ContentsRecorder contents = Contents();
  EXPECT_EQ(contents.storages, 1);
  const Lines expected = {kNightFerry, kLowTide, kEarlyLight, kMemo, kMix};  // walk order
  EXPECT_EQ(contents.paths, expected);
  EXPECT_EQ(contents.Get(kLowTide, "title"), AudioFixture("flac").title);
  EXPECT_EQ(contents.Get(kEarlyLight, "artist"), AudioFixture("mp3").artist);
  EXPECT_EQ(contents.Get(kNightFerry, "source"), AudioFixture("ogg").album);
  EXPECT_EQ(contents.Get(kNightFerry, "type"), "tune");
  EXPECT_EQ(contents.Get(kMix, "type"), "playlist");
  EXPECT_EQ(contents.Get(kMix, "title"), "Mix");
  EXPECT_EQ(contents.Get(kMix, "flags"), "");
  // The entry outside the drive is left out; the folder entry adds the folder's track.
  EXPECT_EQ(contents.playlists[kMix], (Lines{kEarlyLight, kNightFerry}));
  EXPECT_EQ(contents.Fid(kNightFerry), 0x120u);

  // WMDM, loading the registered DLL through COM, sees the same tracks.
  CloseDevice();
  MscDriveSource drives(environment_);
  TorvexTestSeams seams;
  seams.mass_storage = &drives;
  InApartment(COINIT_MULTITHREADED, [&] {
    WmdmHost host;
    ASSERT_EQ(host.LoadRegistered(seams), S_OK);
    std::vector<IMDSPDevice*> devices;
    ASSERT_EQ(host.ListDevices(&devices), S_OK);
    ASSERT_EQ(devices.size(), 1u);
    const std::vector<std::wstring> names = TrackNames(devices[0]);
    ASSERT_EQ(names.size(), 4u);
    // A WMDM delete removes exactly one of the four files.
    EXPECT_EQ(Delete(devices[0], names[0]), S_OK);
    int left = 0;
    for (const char* track : {kEarlyLight, kLowTide, kNightFerry, kMemo}) left += FileExists(track);
    EXPECT_EQ(left, 3);
    EXPECT_EQ(TrackNames(devices[0]).size(), 3u);
    // A WMDM upload without metadata: the provider reads the tags from the file itself.
    EXPECT_EQ(::Upload(devices[0], L"Song.mp3", AudioFixture("mp3").Bytes()), S_OK);
    EXPECT_EQ(TrackNames(devices[0]).size(), 4u);
  });
  const std::string landed = "M:\\Music\\Harbour\\01 - Early Light.mp3";
  ASSERT_TRUE(FileExists(landed));
  EXPECT_EQ(RunHostOracle("tags", landed),
            (Lines{"album=Harbour", "artist=The Quiet Hours", "title=Early Light",
                   "tracknumber=1"}));
  EXPECT_EQ(TemporaryFilesIn("M:"), Lines{});
}

// Refuses the nth file it is handed.
class RefusingRecorder : public ContentsRecorder {
 public:
  explicit RefusingRecorder(size_t refuse_at) : refuse_at_(refuse_at) {}
  bool File(uint32_t storage, PropertyHolder& file, uint32_t* handle) override {
    ContentsRecorder::File(storage, file, handle);
    return paths.size() != refuse_at_;
  }

 private:
  size_t refuse_at_;
};

TEST_F(MscLibraryTest, AVisitorThatRefusesEndsTheListing) {
  Channel& channel = OpenChannel();
  for (size_t refuse_at : {1u, 5u}) {  // a track, the playlist
    RefusingRecorder contents(refuse_at);
    EXPECT_EQ(channel.EnumContents(&contents), rc::kEnumerationStopped);
    EXPECT_EQ(contents.paths.size(), refuse_at);
  }
}

TEST_F(MscLibraryTest, UploadLandsUnderTheTemplateWithTheTagsItWasSent) {
  OpenChannel();
  Contents();
  PropertyHolder file = Tune("Sent Title", "Sent Artist", "Sent Album", 5);
  ASSERT_EQ(Upload(AudioFixture("mp3").Bytes(), file), rc::kOk);
  const std::string landed = "M:\\Music\\Sent Album\\05 - Sent Title.mp3";
  EXPECT_EQ(file.GetString("name"), landed);
  EXPECT_EQ(file.GetSet()->GetInt("fid"), 0x170);  // the next free fid after the listing's
  EXPECT_EQ(RunHostOracle("tags", landed),
            (Lines{"album=Sent Album", "artist=Sent Artist", "title=Sent Title",
                   "tracknumber=5"}));
  EXPECT_EQ(TemporaryFilesIn("M:"), Lines{});
  ContentsRecorder contents = Contents();
  EXPECT_EQ(contents.Fid(landed), 0x170u);
  EXPECT_EQ(contents.Get(landed, "title"), "Sent Title");
  EXPECT_EQ(contents.Get(landed, "length"), file.GetString("length"));
  EXPECT_EQ(std::to_string(ReadBytes(landed).size()), file.GetString("length"));
}

TEST_F(MscLibraryTest, UploadsThatFailLeaveNothingBehind) {
  OpenChannel();
  const size_t before = Contents().paths.size();
  // The album folder cannot be made: a file stands in its place.
  WriteBytes("M:\\Music\\Blocked Album", "not a folder");
  PropertyHolder blocked = Tune("Song", "Artist", "Blocked Album", 1);
  EXPECT_LT(Upload(AudioFixture("mp3").Bytes(), blocked), 0);
  // The destination exists, made behind the system's back after the name was chosen: the
  // rename refuses it, and the file that was there keeps its bytes.
  PropertyHolder taken = Tune("Song", "Artist", "Taken", 1);
  taken.SetString("name", "M:\\Music\\Taken\\01 - Song.mp3");
  WriteBytes("M:\\Music\\Taken\\01 - Song.mp3", "somebody's file");
  EXPECT_LT(Upload(AudioFixture("mp3").Bytes(), taken), 0);
  EXPECT_EQ(ReadBytes("M:\\Music\\Taken\\01 - Song.mp3"), "somebody's file");
  // Bytes no tag reader takes for an MP3: the upload fails and its file does not stay.
  PropertyHolder unreadable = Tune("Noise", "Artist", "Noise", 1);
  EXPECT_EQ(Upload("ID3 and then no audio at all", unreadable), static_cast<Result>(0xC0040012));
  EXPECT_FALSE(FileExists("M:\\Music\\Noise\\01 - Noise.mp3"));
  EXPECT_EQ(TemporaryFilesIn("M:"), Lines{});
  UnlinkFile("M:\\Music\\Taken\\01 - Song.mp3");
  EXPECT_EQ(Contents().paths.size(), before);
}

TEST_F(MscLibraryTest, SendFileCopiesScansAndMarksAutosync) {
  Channel& channel = OpenChannel();
  Contents();
  PropertyHolder file = Tune("Low Tide", "Marin", "Harbour", 2);
  file.SetString("codec", "flac");
  file.SetString("flags", ";autosync;");
  MemoryStream source(AudioFixture("flac").Bytes());
  // The path exists already: the next numbered name is taken.
  WriteBytes("M:\\Music\\Harbour\\02 - Low Tide.flac", "older");
  ASSERT_EQ(channel.SendFile(0, *file.GetSet(), &source, nullptr), rc::kOk);
  const std::string landed = "M:\\Music\\Harbour\\02 - Low Tide_01.flac";
  EXPECT_EQ(file.GetString("name"), landed);
  EXPECT_EQ(ReadBytes(landed), AudioFixture("flac").Bytes());
  EXPECT_EQ(file.GetString("length"), std::to_string(AudioFixture("flac").size));
  ContentsRecorder contents = Contents();
  EXPECT_EQ(contents.Fid(landed), static_cast<uint32_t>(file.GetSet()->GetInt("fid")));
  EXPECT_EQ(contents.Get(landed, "flags"), ";autosync;");
  EXPECT_EQ(contents.Get(landed, "fid_generation"), file.GetString("fid_generation"));
  // New content without the flag clears the mark.
  file.SetString("flags", "");
  MemoryStream again(AudioFixture("flac").Bytes());
  ASSERT_EQ(channel.SendFileByRequest136(0, *file.GetSet(), &again, nullptr), rc::kOk);
  EXPECT_EQ(Contents().Get(landed, "flags"), "");

  // A copy that fails part-way (the drive is full) leaves no file, record or folder.
  PropertyHolder full = Tune("Big", "Artist", "Too Big", 1);
  MemoryStream bytes(AudioFixture("mp3").Bytes());
  FaultInjectingStream failing(&bytes);
  failing.FailRead(1, rc::FromWin32(ERROR_DISK_FULL));
  EXPECT_EQ(channel.SendFile(0, *full.GetSet(), &failing, nullptr),
            rc::FromWin32(ERROR_DISK_FULL));
  EXPECT_FALSE(FileExists("M:\\Music\\Too Big"));
  EXPECT_EQ(Contents().paths.size(), contents.paths.size());
  EXPECT_EQ(channel.SendFile(3, *full.GetSet(), &bytes, nullptr), rc::kBadIndex);
}

TEST_F(MscLibraryTest, ReplaceSwapsTheContentOnlyWhenTheCopySucceeds) {
  Channel& channel = OpenChannel();
  ContentsRecorder contents = Contents();
  const uint32_t fid = contents.Fid(kEarlyLight);
  std::string renamed = AudioFixture("mp3").Bytes();
  const size_t at = renamed.find("Early Light");
  ASSERT_NE(at, std::string::npos);
  renamed.replace(at, 11, "Early Night");

  PropertyHolder file;
  file.SetInt("fid", static_cast<int32_t>(fid));
  file.SetString("type", "tune");
  MemoryStream bytes(renamed);
  FaultInjectingStream failing(&bytes);
  failing.FailRead(1, rc::FromWin32(ERROR_DISK_FULL));
  EXPECT_EQ(channel.SendFileByRequest136(0, *file.GetSet(), &failing, nullptr),
            rc::FromWin32(ERROR_DISK_FULL));
  EXPECT_EQ(ReadBytes(kEarlyLight), AudioFixture("mp3").Bytes());
  EXPECT_EQ(TemporaryFilesIn("M:\\Music\\Harbour"), Lines{});
  EXPECT_EQ(Contents().Get(kEarlyLight, "title"), "Early Light");

  MemoryStream good(renamed);
  ASSERT_EQ(channel.SendFileByRequest136(0, *file.GetSet(), &good, nullptr), rc::kOk);
  EXPECT_EQ(ReadBytes(kEarlyLight), renamed);
  EXPECT_EQ(TemporaryFilesIn("M:\\Music\\Harbour"), Lines{});
  contents = Contents();
  EXPECT_EQ(contents.Fid(kEarlyLight), fid);
  EXPECT_EQ(contents.Get(kEarlyLight, "title"), "Early Night");

  file.SetInt("fid", 0x990);
  EXPECT_EQ(channel.SendFileByRequest136(0, *file.GetSet(), &good, nullptr), rc::kNotFound);
}

TEST_F(MscLibraryTest, DeleteRemovesTheTrackAndTheFoldersItEmpties) {
  Channel& channel = OpenChannel();
  ContentsRecorder contents = Contents();
  PropertyHolder file;
  file.SetInt("fid", static_cast<int32_t>(contents.Fid(kNightFerry)));
  ASSERT_EQ(channel.DeleteFile(0, file), rc::kOk);
  EXPECT_FALSE(FileExists(kNightFerry));
  EXPECT_FALSE(FileExists("M:\\Music\\crossings"));
  EXPECT_TRUE(FileExists("M:\\Music"));
  contents = Contents();
  EXPECT_EQ(contents.files.count(kNightFerry), 0u);
  EXPECT_EQ(contents.playlists[kMix], Lines{kEarlyLight});

  const struct {
    int32_t fid;
    Result expected;
  } refused[] = {{0x100, rc::kRecordNotDeletable}, {0x990, rc::kOk}, {0x105, rc::kOk}};
  for (const auto& c : refused) {
    file.SetInt("fid", c.fid);
    EXPECT_EQ(channel.DeleteFile(0, file), c.expected) << c.fid;
  }
  EXPECT_TRUE(FileExists("M:\\Music"));
  file.SetInt("fid", static_cast<int32_t>(contents.Fid(kMemo)));
  EXPECT_EQ(channel.DeleteFile(2, file), rc::kBadIndex);

  // Records that name a folder, a root or a file of the PC are never the channel's to delete.
  FileSource* library = devices_[0]->file_source()->Library();
  ASSERT_NE(library, nullptr);
  const struct {
    int32_t fid;
    std::string path;
  } foreign[] = {{0x500, "M:\\Music\\Harbour"}, {0x510, "M:\\"}, {0x520, outside_}};
  for (const auto& c : foreign) {
    RefPtr<RecordSet> record;
    ASSERT_EQ(library->Database()->OpenRecordSet(&record), rc::kOk);
    record->AddNew();
    record->SetInt("fid", c.fid);
    record->SetString("type", "playlist");
    record->SetString("path", c.path);
    library->Lock();
    ASSERT_EQ(record->Update(), rc::kOk);
    library->Unlock();
    file.SetInt("fid", c.fid);
    EXPECT_EQ(channel.DeleteFile(0, file), rc::kRecordNotDeletable) << c.path;
    EXPECT_TRUE(FileExists(c.path)) << c.path;
  }
  EXPECT_TRUE(FileExists(kEarlyLight));
}

TEST_F(MscLibraryTest, PlaylistsAreWrittenRenamedAndRefilled) {
  Channel& channel = OpenChannel();
  ContentsRecorder contents = Contents();
  PropertyHolder playlist;
  playlist.SetString("type", "playlist");
  playlist.SetString("title", "Road Trip");
  MemoryStream members(
      LittleEndianFids({contents.Fid(kEarlyLight), contents.Fid(kLowTide), 0x990}));
  ASSERT_EQ(channel.SendFile(0, *playlist.GetSet(), &members, nullptr), rc::kOk);
  const std::string written = "M:\\Music\\Road Trip.m3u";
  EXPECT_EQ(playlist.GetString("name"), written);
  EXPECT_EQ(PlaylistEntries(written), (Lines{kEarlyLight, kLowTide}));

  playlist.SetString("title", "Night Drive");
  MemoryStream refill(LittleEndianFids({contents.Fid(kNightFerry)}));
  ASSERT_EQ(channel.SendFileByRequest136(0, *playlist.GetSet(), &refill, nullptr), rc::kOk);
  const std::string renamed = "M:\\Music\\Night Drive.m3u";
  EXPECT_FALSE(FileExists(written));
  EXPECT_EQ(PlaylistEntries(renamed), Lines{kNightFerry});
  contents = Contents();
  EXPECT_EQ(contents.Get(renamed, "title"), "Night Drive");
  EXPECT_EQ(contents.playlists[renamed], Lines{kNightFerry});

  // A name that is taken: the rename is refused, the title goes back, nothing is overwritten.
  WriteBytes("M:\\Music\\Blocked.m3u", "somebody's list");
  playlist.SetString("title", "Blocked");
  MemoryStream same(LittleEndianFids({contents.Fid(kNightFerry)}));
  ASSERT_EQ(channel.SendFileByRequest136(0, *playlist.GetSet(), &same, nullptr), rc::kOk);
  EXPECT_EQ(playlist.GetString("title"), "Night Drive");
  EXPECT_EQ(ReadBytes("M:\\Music\\Blocked.m3u"), "somebody's list");
  EXPECT_TRUE(FileExists(renamed));
}

TEST_F(MscLibraryTest, RescanFollowsChangesMadeBehindItsBack) {
  OpenChannel();
  Contents();
  WriteBytes("M:\\Music\\New\\09 New.mp3", AudioFixture("mp3").Bytes());
  WriteBytes("M:\\Music\\Broken.flac", "fLaC and nothing a reader can use");
  UnlinkFile(kMemo);
  ContentsRecorder contents = Contents();
  EXPECT_EQ(contents.files.count("M:\\Music\\New\\09 New.mp3"), 1u);
  EXPECT_EQ(contents.files.count("M:\\Music\\Broken.flac"), 0u);
  EXPECT_EQ(contents.files.count(kMemo), 0u);
  EXPECT_EQ(contents.Fid(kNightFerry), 0x120u);  // fids stay with their files

  CloseDevice();
  const Lines values = RunHostOracle("dump", database_);
  ASSERT_FALSE(values.empty());
  ASSERT_EQ(values[0].rfind("error=", 0), std::string::npos) << values[0];
  auto stored = [&values](const std::string& text) {
    return std::find(values.begin(), values.end(), text) != values.end();
  };
  EXPECT_TRUE(stored("M:\\Music\\New\\09 New.mp3"));
  EXPECT_TRUE(stored(kNightFerry));
  EXPECT_TRUE(stored(AudioFixture("flac").title));
  EXPECT_FALSE(stored(kMemo));
  EXPECT_FALSE(stored("M:\\Music\\Broken.flac"));
  EXPECT_FALSE(stored(outside_));
}

// The caller may let go of the device before the channel it opened: the channel goes on
// working on the player's library, and when the last of the two goes the library file holds
// everything the last listing showed.
TEST_F(MscLibraryTest, TheLibraryFileIsCompleteWhenTheLastReferenceGoes) {
  for (const bool device_first : {true, false}) {
    SCOPED_TRACE(device_first ? "device released first" : "channel released first");
    OpenChannel();
    Contents();
    const std::string added =
        std::string("M:\\Music\\New\\0") + (device_first ? "1" : "2") + " New.mp3";
    WriteBytes(added, AudioFixture("mp3").Bytes());
    UnlinkFile(kMemo);
    ContentsRecorder contents;
    if (device_first) {
      devices_.clear();
      contents = Contents();
      channel_.reset();
    } else {
      contents = Contents();
      channel_.reset();
      devices_.clear();
    }
    ASSERT_EQ(contents.files.count(added), 1u);
    const Lines values = RunHostOracle("dump", database_);
    ASSERT_FALSE(values.empty());
    ASSERT_EQ(values[0].rfind("error=", 0), std::string::npos) << values[0];
    for (const auto& file : contents.files) {
      EXPECT_NE(std::find(values.begin(), values.end(), file.first), values.end()) << file.first;
      const std::string title = file.second->GetString("title");
      if (title.size() >= 3) {  // the reader keeps the longer texts only
        EXPECT_NE(std::find(values.begin(), values.end(), title), values.end()) << title;
      }
    }
    EXPECT_EQ(std::find(values.begin(), values.end(), kMemo), values.end());
    WriteBytes(kMemo, AudioFixture("wav").Bytes());
  }
}

// An upload the caller finishes after letting go of the channel and the device is recorded,
// and the library file holds it once the stream goes too.
TEST_F(MscLibraryTest, AnUploadOutlivingItsChannelAndDeviceIsRecorded) {
  OpenChannel();
  OutputStream* raw = nullptr;
  ASSERT_EQ(channel_->CreateNewFile(0, &raw), rc::kOk);
  std::unique_ptr<OutputStream> upload(raw);
  CloseDevice();
  const std::string bytes = AudioFixture("mp3").Bytes();
  ASSERT_EQ(upload->Write(reinterpret_cast<const uint8_t*>(bytes.data()),
                          static_cast<uint32_t>(bytes.size())),
            rc::kOk);
  PropertyHolder file = Tune("Late Arrival", "The Quiet Hours", "Harbour", 4);
  ASSERT_EQ(upload->Finish(file), rc::kOk);
  upload.reset();
  const Lines values = RunHostOracle("dump", database_);
  ASSERT_FALSE(values.empty());
  ASSERT_EQ(values[0].rfind("error=", 0), std::string::npos) << values[0];
  EXPECT_NE(std::find(values.begin(), values.end(), "Late Arrival"), values.end());
}

TEST_F(MscLibraryTest, RewrittenMetadataGoesIntoTheFileAndTheRecord) {
  Channel& channel = OpenChannel();
  ContentsRecorder contents = Contents();
  RefPtr<PropertySet> file = contents.files.at(kNightFerry);
  file->SetString("title", "Renamed Ferry");
  file->SetString("artist", "Marin & Co");
  ASSERT_EQ(channel.RewriteFileInfo(0, *file), rc::kOk);
  EXPECT_EQ(RunHostOracle("tags", kNightFerry),
            (Lines{"album=Crossings", "artist=Marin & Co", "title=Renamed Ferry",
                   "tracknumber=7"}));
  EXPECT_EQ(file->GetString("length"), std::to_string(ReadBytes(kNightFerry).size()));
  contents = Contents();
  EXPECT_EQ(contents.Get(kNightFerry, "title"), "Renamed Ferry");
  EXPECT_EQ(contents.Fid(kNightFerry), 0x120u);

  file->SetInt("fid", 0x990);  // no such record: nothing happens
  EXPECT_EQ(channel.RewriteFileInfo(0, *file), rc::kOk);
}

TEST_F(MscLibraryTest, ReceiveFileReadsOnlyThePlayersFiles) {
  Channel& channel = OpenChannel();
  PropertyHolder file;
  file.SetString("name", kLowTide);
  MemoryStream sink;
  ASSERT_EQ(channel.ReceiveFile(0, *file.GetSet(), &sink, nullptr), rc::kOk);
  EXPECT_EQ(sink.Bytes(), AudioFixture("flac").Bytes());
  file.SetString("name", outside_);
  EXPECT_EQ(channel.ReceiveFile(0, *file.GetSet(), &sink, nullptr), rc::kInvalidArg);
  file.SetString("name", "M:\\Music\\gone.mp3");
  EXPECT_LT(channel.ReceiveFile(0, *file.GetSet(), &sink, nullptr), 0);
  EXPECT_EQ(channel.ReceiveFile(1, *file.GetSet(), &sink, nullptr), rc::kBadIndex);
}

}  // namespace
