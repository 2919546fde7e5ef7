// Two writers on one player's drive, each with a file source of its own (two applications) or
// sharing one, sending tracks and playlists of one name at the same moment or deleting what
// the other has replaced: neither may lose, swap or remove the other's files.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "devices/msc/file_source.h"
#include "devices/msc/msc_channel.h"
#include "devices/msc/msc_results.h"
#include "m_drive_player.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "msc_audio_fixtures.h"
#include "sim/msc/sim_msc_player.h"
#include "support/file_helpers.h"
#include "support/memory_stream.h"
#include "support/text_convert.h"

namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Upload {
  Result result = rc::kFail;
  std::string path;
  uint32_t fid = 0;
};

// One application's view of the player on M:: a channel over a file source of its own, or
// over one it shares with another channel of the same application.
class Writer {
 public:
  Writer(SimVolumeIo* io, const MscDriveRecord& record,
         std::shared_ptr<FileSource> source = nullptr)
      : source_(source ? source : OpenSource()) {
    MscEnvironment environment;
    environment.volume_io = io;
    channel_.reset(new MscChannel(record, source_.get(), environment));
  }

  Upload Send(const std::string& bytes, const std::string& title = "Early Light") {
    PropertyHolder file;
    file.SetString("type", "tune");
    file.SetString("codec", "mp3");
    file.SetString("source", "Harbour Lights");
    file.SetInt("tracknr", 1);
    file.SetString("title", title);
    MemoryStream stream(bytes);
    return Sent(file, &stream);
  }

  // A playlist of these fids, in the plain form the channel takes.
  Upload SendPlaylist(const std::string& title, const std::vector<uint32_t>& fids) {
    PropertyHolder file;
    file.SetString("type", "playlist");
    file.SetString("title", title);
    std::string list;
    for (uint32_t fid : fids) {
      for (int shift = 0; shift < 32; shift += 8) list += static_cast<char>(fid >> shift);
    }
    MemoryStream stream(list);
    return Sent(file, &stream);
  }

  Result Delete(uint32_t fid) {
    PropertyHolder file;
    file.SetInt("fid", static_cast<int32_t>(fid));
    return channel_->DeleteFile(0, file);
  }

  // The library's own change of a track's title, written into its file.
  Result Retitle(uint32_t fid, const std::string& title) {
    PropertyHolder file;
    file.SetInt("fid", static_cast<int32_t>(fid));
    file.SetString("title", title);
    return channel_->RewriteFileInfo(0, *file.GetSet());
  }

  // The library's record of a fid: its path and length, empty when there is none.
  std::pair<std::string, std::string> Record(uint32_t fid) {
    RefPtr<RecordSet> record;
    if (rc::Failed(source_->RecordDb().FindRow(&record, fid))) return {};
    return {Utf8ToLatin1(record->GetString("path")), record->GetString("length")};
  }

  FileSource& Library() { return *source_; }

  static std::shared_ptr<FileSource> OpenSource() {
    auto source =
        std::make_shared<FileSource>(MscFileSource::kFlagsWithoutHostDatabase, "", "M:\\");
    EXPECT_EQ(source->OpenDatabase(nullptr), rc::kOk);
    return source;
  }

 private:
  Upload Sent(PropertyHolder& file, Stream* stream) {
    Upload upload;
    upload.result = channel_->SendFile(0, *file.GetSet(), stream, nullptr);
    upload.path = Utf8ToLatin1(file.GetString("name"));
    upload.fid = static_cast<uint32_t>(file.GetSet()->GetInt("fid"));
    return upload;
  }

  std::shared_ptr<FileSource> source_;
  std::unique_ptr<MscChannel> channel_;
};

MscDriveRecord DriveM() {
  MscDriveRecord record;
  record.drive_letter = 'M';
  record.drive_entries.resize(1);
  record.drive_entries[0].drive_letter = 'M';
  record.drive_entries[0].not_hot_pluggable = 0;
  return record;
}

// Runs both sends at once, so that both choose a name before either creates it.
void AtOnce(const std::function<void()>& first, const std::function<void()>& second) {
  std::atomic<int> waiting{2};
  auto start = [&](const std::function<void()>& send) {
    --waiting;
    while (waiting.load() > 0) {
    }
    send();
  };
  std::thread other(start, std::cref(second));
  start(first);
  other.join();
}

// The bytes of one writer's upload: the same song, each writer's copy its own.
std::string UploadBytes(char writer) {
  return AudioFixture("mp3").Bytes() + std::string(64, writer);
}

// The tracks a playlist file names, as absolute paths: every line that is not empty and not
// a comment is a path relative to the playlist's folder, '/' separated.
std::vector<std::string> PlaylistTracks(const std::string& playlist) {
  std::vector<std::string> tracks;
  std::istringstream lines(ReadBytes(playlist));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::replace(line.begin(), line.end(), '/', '\\');
    tracks.push_back(playlist.substr(0, playlist.find_last_of('\\') + 1) + line);
  }
  return tracks;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

class MscUploadRaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetDriveTypeA("M:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
    DeleteTree("M:\\Music");
    PutPlayerOnDriveM(&io_, std::make_shared<SimMscPlayer>());
  }
  void TearDown() override { DeleteTree("M:\\Music"); }

  SimVolumeIo io_;
};

TEST_F(MscUploadRaceTest, TwoWritersOfTheSameTrackNameKeepEachOthersUploads) {
  Writer first(&io_, DriveM());
  Writer second(&io_, DriveM());
  const std::string first_bytes = UploadBytes('A');
  const std::string second_bytes = UploadBytes('B');

  // Each round both writers choose among the same names; the hundred forms of the name
  // hold every round's two uploads.
  std::vector<std::pair<Upload, const std::string*>> uploads;
  for (int round = 0; round < 45; ++round) {
    Upload a, b;
    AtOnce([&] { a = first.Send(first_bytes); }, [&] { b = second.Send(second_bytes); });
    EXPECT_EQ(a.result, rc::kOk) << "round " << round;
    EXPECT_EQ(b.result, rc::kOk) << "round " << round;
    EXPECT_NE(a.path, b.path) << "round " << round;
    uploads.push_back({a, &first_bytes});
    uploads.push_back({b, &second_bytes});
  }
  // Every upload reported is on the drive with its own writer's bytes, after every later one.
  for (const auto& upload : uploads) {
    if (rc::Succeeded(upload.first.result)) {
      EXPECT_EQ(ReadBytes(upload.first.path), *upload.second) << upload.first.path;
    }
  }
}

// Two writers send a playlist of one title at once, each listing its own track: every
// playlist reported as sent is on the drive, listing its own writer's track alone. Two
// applications (a file source each) and one application with two channels on one source.
TEST_F(MscUploadRaceTest, TwoWritersOfTheSamePlaylistTitleKeepEachOthersPlaylists) {
  for (const bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "one file source, two channels" : "two file sources");
    DeleteTree("M:\\Music");
    std::shared_ptr<FileSource> library = shared ? Writer::OpenSource() : nullptr;
    Writer first(&io_, DriveM(), library);
    Writer second(&io_, DriveM(), library);
    const Upload first_track = first.Send(UploadBytes('A'), "Early Light");
    const Upload second_track = second.Send(UploadBytes('B'), "Late Light");
    ASSERT_EQ(first_track.result, rc::kOk);
    ASSERT_EQ(second_track.result, rc::kOk);

    std::vector<std::pair<Upload, std::string>> playlists;  // with the track it must list
    for (int round = 0; round < 30; ++round) {
      Upload a, b;
      AtOnce([&] { a = first.SendPlaylist("Mix", {first_track.fid}); },
             [&] { b = second.SendPlaylist("Mix", {second_track.fid}); });
      EXPECT_EQ(a.result, rc::kOk) << "round " << round;
      EXPECT_EQ(b.result, rc::kOk) << "round " << round;
      EXPECT_NE(a.path, b.path) << "round " << round;
      playlists.push_back({a, first_track.path});
      playlists.push_back({b, second_track.path});
    }
    for (const auto& playlist : playlists) {
      if (rc::Failed(playlist.first.result)) continue;
      const std::vector<std::string> tracks = PlaylistTracks(playlist.first.path);
      ASSERT_EQ(tracks.size(), 1u) << playlist.first.path;
      EXPECT_EQ(Lower(tracks[0]), Lower(playlist.second)) << playlist.first.path;
    }
  }
}

// A deletes with a library that has not seen the drive change: B has deleted A's upload and
// put its own at the same path. B's file stays, A learns why, and A's library then shows the
// file that is there.
TEST_F(MscUploadRaceTest, ADeleteFromAStaleLibraryLeavesAnotherApplicationsNewFile) {
  Writer a(&io_, DriveM());
  Writer b(&io_, DriveM());
  const Upload old_upload = a.Send(UploadBytes('A'));
  ASSERT_EQ(old_upload.result, rc::kOk);
  ASSERT_EQ(b.Library().Refresh(nullptr, 0), rc::kOk);
  uint32_t seen_by_b = 0;
  uint32_t generation = 0;
  ASSERT_EQ(b.Library().ScanFile(old_upload.path, &seen_by_b, &generation, nullptr), rc::kOk);
  ASSERT_EQ(b.Delete(seen_by_b), rc::kOk);
  ASSERT_FALSE(FileExists(old_upload.path));
  const std::string new_bytes = AudioFixture("mp3").Bytes() + std::string(4096, 'B');
  const Upload new_upload = b.Send(new_bytes);
  ASSERT_EQ(new_upload.result, rc::kOk);
  ASSERT_EQ(new_upload.path, old_upload.path);

  EXPECT_EQ(a.Delete(old_upload.fid), rc::kFileChangedOnDrive);
  EXPECT_EQ(ReadBytes(new_upload.path), new_bytes);
  EXPECT_EQ(a.Record(old_upload.fid),
            std::make_pair(new_upload.path, std::to_string(new_bytes.size())));

  // A record that still describes its file is deleted with it.
  EXPECT_EQ(b.Delete(new_upload.fid), rc::kOk);
  EXPECT_FALSE(FileExists(new_upload.path));
}

// What the library itself wrote into its files leaves their records describing them: its
// own edits never make its deletes refused. The file is an hour old when the library retitles
// it, so that the write falls in another second than the record's scan.
TEST_F(MscUploadRaceTest, ADeleteAfterTheLibrarysOwnChangesGoesThrough) {
  Writer a(&io_, DriveM());
  const Upload track = a.Send(UploadBytes('A'));
  ASSERT_EQ(track.result, rc::kOk);
  HANDLE file = CreateFileA(track.path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER hour_ago;
  hour_ago.LowPart = now.dwLowDateTime;
  hour_ago.HighPart = now.dwHighDateTime;
  hour_ago.QuadPart -= 3600ull * 10000000u;
  const FILETIME then = {hour_ago.LowPart, hour_ago.HighPart};
  SetFileTime(file, nullptr, nullptr, &then);
  CloseHandle(file);
  ASSERT_EQ(a.Library().Refresh(nullptr, 0), rc::kOk);

  ASSERT_EQ(a.Retitle(track.fid, "Early Light (Live)"), rc::kOk);
  const Upload playlist = a.SendPlaylist("Mix", {track.fid});
  ASSERT_EQ(playlist.result, rc::kOk);
  EXPECT_EQ(a.Delete(playlist.fid), rc::kOk);
  EXPECT_FALSE(FileExists(playlist.path));
  EXPECT_EQ(a.Delete(track.fid), rc::kOk);
  EXPECT_FALSE(FileExists(track.path));
}

// A send that fails removes the folders it made for its file and no other: an empty album
// folder that another writer made a moment before (to put its own upload there) stays.
TEST_F(MscUploadRaceTest, AFailedSendRemovesOnlyTheFoldersItMade) {
  Writer writer(&io_, DriveM());
  const std::string unreadable = "ID3 and then no audio at all";
  ASSERT_LT(writer.Send(unreadable).result, 0);
  EXPECT_FALSE(FileExists("M:\\Music"));

  ASSERT_EQ(MakeDirectories("M:\\Music\\Harbour Lights"), rc::kOk);
  const Upload failed = writer.Send(unreadable);
  ASSERT_LT(failed.result, 0);
  EXPECT_FALSE(FileExists("M:\\Music\\Harbour Lights\\01 - Early Light.mp3"));
  EXPECT_TRUE(FileExists("M:\\Music\\Harbour Lights"));
}

}  // namespace
