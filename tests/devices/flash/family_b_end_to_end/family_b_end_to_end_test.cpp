// Files made by lame, id3v2 and ffmpeg go up through WMDM into a simulated family B player;
// after every step the track database image the player holds is decoded and compared with
// what went up, and a new WMDM session over the same player sees the same tracks.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "devices/flash/end_to_end_audio.h"
#include "devices/flash/fid_tag_mapper.h"
#include "devices/flash/family_b_end_to_end/family_b_fixture.h"
#include "devices/flash/family_b_end_to_end/track_image_decoder.h"
#include "devices/flash/packed_track_database.h"
#include "media/property_holder.h"
#include "support/text_convert.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/wmdm_conventions.h"
#include "wmdm/wmdm_types.h"

namespace {

// The row the database holds for a fixture, against the oracles.
void ExpectRow(const DatabaseRow& row, const EndToEndAudio& audio) {
  SCOPED_TRACE(audio.file_name);
  EXPECT_EQ(audio.title, row.title);
  EXPECT_EQ(audio.artist, row.artist);
  EXPECT_EQ(audio.album, row.source);
  EXPECT_EQ(audio.size, row.length);
  // Whole seconds; mutagen leaves the encoder's delay and padding out, ffprobe counts them.
  ExpectWithin(row.duration_s, audio.mutagen_duration_ms / 1000,
               audio.ffprobe_duration_ms / 1000, 0, "duration");
  ExpectWithin(row.bitrate, audio.mutagen_bitrate, audio.ffprobe_bitrate, 1000, "bit rate");
  EXPECT_EQ(audio.mutagen_channels, row.channels);
  EXPECT_EQ(audio.ffprobe_channels, row.channels);
  const bool wma = std::string(audio.file_name).find(".wma") != std::string::npos;
  EXPECT_EQ(wma ? 1u : 0u, row.type_code);  // "tune" with "mp3" or "wma"
  EXPECT_EQ(audio.rid, row.rid);
}

const DatabaseRow* RowTitled(const std::vector<DatabaseRow>& rows, const std::string& title) {
  for (const DatabaseRow& row : rows)
    if (row.title == title) return &row;
  return nullptr;
}

std::vector<std::string> Titles(const std::vector<DatabaseRow>& rows) {
  std::vector<std::string> titles;
  for (const DatabaseRow& row : rows) titles.push_back(row.title);
  std::sort(titles.begin(), titles.end());
  return titles;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
  std::sort(names.begin(), names.end());
  return names;
}

constexpr uint32_t kOldFid = 0x10;
const std::string kOldBytes = "already there";

// The player holds one track, listed in its database.
class SeededFamilyBTest : public FamilyBEndToEndTest {
 protected:
  SeededFamilyBTest() { Seed(); }

  void Seed() {
    PropertyHolder old;
    old.SetInt("fid", kOldFid);
    old.SetString("type", "tune");
    old.SetString("codec", "mp3");
    old.SetString("title", "Old Song");
    old.SetString("artist", "Old Artist");
    old.SetInt("length", static_cast<int32_t>(kOldBytes.size()));
    std::unique_ptr<PackedTrackDatabase> database = PackedTrackDatabase::Create();
    EXPECT_EQ(rc::kOk, FidTagMapper::StoreNewTrack(database.get(), old));
    const uint8_t* image = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(rc::kOk, database->GetImage(&image, &size));
    player_->database.assign(reinterpret_cast<const char*>(image), size);
    player_->has_database = true;
    player_->PutFile(0, SimFileRecord(kOldFid, static_cast<uint32_t>(kOldBytes.size())),
                     kOldBytes);
  }

  // Nothing is left open, locked or busy.
  void ExpectIdle() {
    EXPECT_EQ(0, player_->holders);
    EXPECT_EQ(0, player_->lock_depth);
    EXPECT_FALSE(player_->Busy());
    EXPECT_EQ(0, player_->unexpected_writes);
    EXPECT_EQ(0, player_->bad_chunks);
    EXPECT_EQ(0, player_->bad_database_blocks);
    EXPECT_EQ(0, player_->bad_database_images);
    EXPECT_EQ(0, BusyCount());
  }
};

// The decoder the tests read images with finds the layout broken where it is broken: an id
// that points at another id's track, an id table cut short.
TEST_F(SeededFamilyBTest, TheTestsDecoderRefusesBrokenImages) {
  ASSERT_EQ(S_OK, Upload(Device(L"Bellis Sim Internal"), L"Road_Song.mp3",
                         Bytes(Audio("Road_Song.mp3"))));
  const std::string image = player_->database;
  ASSERT_EQ("", DecodeTrackImage(image).error);
  ASSERT_EQ(2u, DecodeTrackImage(image).tracks.size());
  auto word = [](const std::string& i, uint32_t at) {
    const auto* p = reinterpret_cast<const uint8_t*>(i.data()) + at * 3;
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
  };
  const uint32_t table = word(image, 2);
  // Entries of numbers 1 (the old song, fid 0x10) and the new song's: copy one over the other.
  uint32_t first = 0, second = 0;
  for (uint32_t n = 0; n < word(image, table); ++n) {
    if (word(image, table + 1 + n) == 0xFFFFFF) continue;
    (first ? second : first) = table + 1 + n;
  }
  ASSERT_NE(0u, second);
  std::string shared = image;
  shared.replace(second * 3, 3, image.substr(first * 3, 3));
  EXPECT_NE("", DecodeTrackImage(shared).error);
  EXPECT_NE("", DecodeTrackImage(image.substr(0, image.size() - 3)).error);
}

TEST_F(SeededFamilyBTest, UploadsListDeletesAndAReopenedSessionAgreeWithTheDatabase) {
  EXPECT_EQ(std::vector<std::wstring>{L"Old Song.mp3"}, TrackNames(Device(L"Bellis Sim Internal")));
  EXPECT_TRUE(TrackNames(Device(L"Bellis Sim Card")).empty());

  const struct {
    const wchar_t* device;
    const char* file;
    uint32_t storage;
  } uploads[] = {
      {L"Bellis Sim Internal", "Road_Song.mp3", 0},
      {L"Bellis Sim Internal", "Windows_Song.wma", 0},
      {L"Bellis Sim Card", "Mono_Song.mp3", 1},
  };
  std::vector<std::string> titles = {"Old Song"};
  for (const auto& u : uploads) {
    SCOPED_TRACE(u.file);
    const EndToEndAudio& audio = Audio(u.file);
    IMDSPDevice* device = Device(u.device);
    ASSERT_NE(nullptr, device);
    const int writes = player_->database_writes;
    ASSERT_EQ(S_OK, Upload(device, Utf8ToWideString(audio.file_name), Bytes(audio)));

    // One new image, holding every earlier row and the new one.
    EXPECT_EQ(writes + 1, player_->database_writes);
    const std::vector<DatabaseRow> rows = PlayerRows();
    titles.push_back(audio.title);
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(titles, Titles(rows));
    const DatabaseRow* row = RowTitled(rows, audio.title);
    ASSERT_NE(nullptr, row);
    ExpectRow(*row, audio);
    EXPECT_EQ(u.storage, row->fid >> 14) << "the fid names the storage";
    EXPECT_TRUE(StoredBytes(row->fid) == Bytes(audio)) << "the player holds other bytes";
    const std::vector<std::wstring> names = TrackNames(device);
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), ListedName(audio)));
    ExpectIdle();
  }
  EXPECT_TRUE(StoredBytes(kOldFid) == kOldBytes);

  // Deleting takes the file and its row; the other rows stay as they were.
  const DatabaseRow road = *RowTitled(PlayerRows(), "Road Song");
  ASSERT_EQ(S_OK, Delete(Device(L"Bellis Sim Internal"), L"Road Song.mp3"));
  EXPECT_EQ(std::vector<std::string>({"Mono Song", "Old Song", "Windows Song"}),
            Titles(PlayerRows()));
  EXPECT_TRUE(StoredBytes(road.fid).empty());
  ExpectRow(*RowTitled(PlayerRows(), "Windows Song"), Audio("Windows_Song.wma"));
  ExpectIdle();

  // A new session reads the database again and lists what it holds.
  const int reads = player_->database_reads, writes = player_->database_writes;
  Reopen();
  EXPECT_EQ(Sorted({L"Old Song.mp3", L"Windows Song.wma"}),
            Sorted(TrackNames(Device(L"Bellis Sim Internal"))));
  EXPECT_EQ(std::vector<std::wstring>{L"Mono Song.mp3"}, TrackNames(Device(L"Bellis Sim Card")));
  EXPECT_LT(reads, player_->database_reads);
  EXPECT_EQ(writes, player_->database_writes) << "listing wrote the database";

  // The reopened session deletes and uploads on the database it read.
  ASSERT_EQ(S_OK, Delete(Device(L"Bellis Sim Internal"), L"Old Song.mp3"));
  ASSERT_EQ(S_OK, Upload(Device(L"Bellis Sim Internal"), L"Road_Song.mp3",
                         Bytes(Audio("Road_Song.mp3"))));
  EXPECT_EQ(std::vector<std::string>({"Mono Song", "Road Song", "Windows Song"}),
            Titles(PlayerRows()));
  EXPECT_FALSE(StoredBytes(kOldFid) == kOldBytes) << "the old track is still on the player";
  ExpectIdle();
}

TEST_F(FamilyBEndToEndTest, APlayerWithoutADatabaseListsNothingAndGetsOneWithTheFirstUpload) {
  ASSERT_FALSE(player_->has_database);
  IMDSPDevice* device = Device(L"Bellis Sim Internal");
  ASSERT_NE(nullptr, device);
  EXPECT_TRUE(TrackNames(device).empty());
  EXPECT_TRUE(TrackNames(Device(L"Bellis Sim Card")).empty());
  EXPECT_EQ(0, player_->database_writes) << "listing wrote a database";

  const EndToEndAudio& audio = Audio("Windows_Song.wma");
  ASSERT_EQ(S_OK, Upload(device, L"Windows_Song.wma", Bytes(audio)));
  ASSERT_TRUE(player_->has_database);
  const std::vector<DatabaseRow> rows = PlayerRows();
  ASSERT_EQ(1u, rows.size());
  ExpectRow(rows[0], audio);
  EXPECT_TRUE(StoredBytes(rows[0].fid) == Bytes(audio));
  EXPECT_EQ(std::vector<std::wstring>{ListedName(audio)}, TrackNames(device));
}

// The player refuses the first block of a database image, once or every time. A refusal that
// passes is repaired by the session's next commit, so the player's database ends up with the
// change; for an upload that commit is the one of its close, so the caller hears of nothing. One that lasts leaves the player's
// image as it was; a track whose file went is then still listed, and deleting it once the
// player takes images again takes its row.
TEST_F(SeededFamilyBTest, AFailedDatabaseWriteIsReportedAndRetriedOnTheNextCommit) {
  const EndToEndAudio& road = Audio("Road_Song.mp3");
  const struct {
    const char* name;
    bool upload;  // else delete the old track
    int failures;
    bool changed;  // the player's database holds the change at the end
    bool reported;  // the caller hears of the failure
  } cases[] = {
      {"upload, refused once", true, 1, true, false},
      {"upload, refused always", true, 100, false, true},
      {"delete, refused once", false, 1, true, true},
      {"delete, refused always", false, 100, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReplacePlayer();
    Seed();
    Reopen();
    const std::string before = player_->database;
    IMDSPDevice* device = Device(L"Bellis Sim Internal");
    ASSERT_NE(nullptr, device);
    ASSERT_EQ(std::vector<std::wstring>{L"Old Song.mp3"}, TrackNames(device));

    player_->database_failures = c.failures;
    const HRESULT result = c.upload ? Upload(device, L"Road_Song.mp3", Bytes(road))
                                    : Delete(device, L"Old Song.mp3");
    EXPECT_EQ(c.reported, FAILED(result)) << std::hex << result;
    ExpectIdle();
    std::vector<std::string> titles =
        c.upload ? std::vector<std::string>{"Old Song", "Road Song"} : std::vector<std::string>{};
    if (c.changed) {
      EXPECT_EQ(titles, Titles(PlayerRows()));
    } else {
      EXPECT_EQ(before, player_->database) << "the player took a partial image";
      titles = {"Old Song"};
    }
    if (c.upload && c.changed) {
      const DatabaseRow* row = RowTitled(PlayerRows(), "Road Song");
      ASSERT_NE(nullptr, row);
      EXPECT_TRUE(StoredBytes(row->fid) == Bytes(road));
    }
    if (!c.upload) {
      EXPECT_TRUE(StoredBytes(kOldFid).empty()) << "the player kept the file";
    }

    // The player takes images again; a new session lists what its database holds.
    player_->database_failures = 0;
    Reopen();
    device = Device(L"Bellis Sim Internal");
    std::vector<std::wstring> names;
    for (const std::string& title : titles) names.push_back(Utf8ToWideString(title + ".mp3"));
    EXPECT_EQ(names, Sorted(TrackNames(device)));
    if (!c.upload && !c.changed) {
      EXPECT_EQ(S_OK, Delete(device, L"Old Song.mp3"));
      titles.clear();
      EXPECT_TRUE(PlayerRows().empty());
      EXPECT_TRUE(TrackNames(device).empty());
    }
    const EndToEndAudio& windows = Audio("Windows_Song.wma");
    EXPECT_EQ(S_OK, Upload(device, L"Windows_Song.wma", Bytes(windows)));
    titles.push_back("Windows Song");
    EXPECT_EQ(titles, Titles(PlayerRows()));
    ExpectIdle();
  }
}

// An upload whose database write is refused keeps its row for the next commit, so its fid
// stays taken: the next upload of the same session gets a fid of its own, and at the end every
// file on the player has its row and every row its file. A refusal that passes before the
// upload's close is repaired by the close's commit; one that lasts is reported by the close.
TEST_F(SeededFamilyBTest, AFidWhoseRowWaitsIsNotHandedOutAgain) {
  const struct {
    int failures;
    bool upload_succeeds;
  } cases[] = {{1, true}, {2, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failures);
    ReplacePlayer();
    Seed();
    Reopen();
    IMDSPDevice* device = Device(L"Bellis Sim Internal");
    ASSERT_NE(nullptr, device);
    player_->database_failures = c.failures;
    const HRESULT first = Upload(device, L"Road_Song.mp3", Bytes(Audio("Road_Song.mp3")));
    EXPECT_EQ(c.upload_succeeds, SUCCEEDED(first)) << std::hex << first;
    ExpectIdle();
    EXPECT_EQ(S_OK, Upload(device, L"Windows_Song.wma", Bytes(Audio("Windows_Song.wma"))));
    ExpectIdle();

    const std::vector<DatabaseRow> rows = PlayerRows();
    EXPECT_EQ((std::vector<std::string>{"Old Song", "Road Song", "Windows Song"}), Titles(rows));
    size_t files = 0;
    for (const SimStorage& storage : player_->storages) files += storage.files.size();
    EXPECT_EQ(rows.size(), files);
    const struct {
      const char* title;
      const char* file;
    } uploads[] = {{"Road Song", "Road_Song.mp3"}, {"Windows Song", "Windows_Song.wma"}};
    for (const auto& u : uploads) {
      const DatabaseRow* row = RowTitled(rows, u.title);
      ASSERT_NE(nullptr, row) << u.title;
      EXPECT_TRUE(StoredBytes(row->fid) == Bytes(Audio(u.file))) << u.title;
    }
  }
}

// The player goes away in the middle of an upload, or before a delete: the caller hears that
// it is not connected, the player's database is left as it was, and the player is not listed
// any more.
TEST_F(SeededFamilyBTest, AnUnpluggedPlayerKeepsItsDatabaseAndLeavesTheListing) {
  const HRESULT kNotConnected = HResultFromWin32(ERROR_DEVICE_NOT_CONNECTED);
  const std::string before = player_->database;
  IMDSPDevice* device = Device(L"Bellis Sim Internal");
  ASSERT_NE(nullptr, device);

  // Into the second 1 MiB block of the file's data.
  player_->unplug_after_calls = 12;
  const HRESULT uploaded = Upload(device, L"Road_Song.mp3", Bytes(Audio("Road_Song.mp3")));
  EXPECT_EQ(kNotConnected, uploaded) << std::hex << uploaded;
  EXPECT_EQ(before, player_->database);
  EXPECT_EQ(1u, player_->Storage(0).files.size());

  // The player is gone before the delete: no channel opens.
  EXPECT_TRUE(FAILED(Delete(device, L"Old Song.mp3")));
  EXPECT_EQ(before, player_->database);
  EXPECT_TRUE(StoredBytes(kOldFid) == kOldBytes);
  EXPECT_EQ(0, BusyCount());

  usb_.Detach(kFamilyBPath);
  EXPECT_TRUE(DeviceNames().empty());

  // Another goes away in the middle of the database write that ends an upload; the close's
  // commit, which tries the write again, finds it gone.
  ReplacePlayer();
  Seed();
  Reopen();
  player_->unplug_at_database = true;
  EXPECT_EQ(rc::kPlayerGone,
            Upload(Device(L"Bellis Sim Internal"), L"Road_Song.mp3", Bytes(Audio("Road_Song.mp3"))));
  EXPECT_EQ(before, player_->database);
  EXPECT_EQ(0, BusyCount());
}

// Larger files go out in 1 MiB transfers, each rounded up to 32 KiB. A chunk the player found
// damaged is sent again; a full player ends the upload with "disk full", keeps neither the
// file nor a row, and takes the next upload.
TEST_F(SeededFamilyBTest, TransferTroubleIsRepairedOrLeavesTheDatabaseAlone) {
  std::string big = Bytes(Audio("Road_Song.mp3"));
  big.resize(2621440 + 1000, '\0');
  const struct {
    const char* name;
    int crcf_piece, crcf_times, full_piece;
    HRESULT result;
  } cases[] = {
      {"three transfers", 0, 0, 0, S_OK},
      {"damaged second transfer, twice", 2, 2, 0, S_OK},
      {"full at the second transfer", 0, 0, 2, HResultFromWin32(ERROR_DISK_FULL)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReplacePlayer();
    Seed();
    Reopen();
    const std::string before = player_->database;
    player_->crcf_piece = c.crcf_piece;
    player_->crcf_times = c.crcf_times;
    player_->full_piece = c.full_piece;
    IMDSPDevice* device = Device(L"Bellis Sim Internal");
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(c.result, Upload(device, L"Big_Song.mp3", big));
    ExpectIdle();
    if (FAILED(c.result)) {
      EXPECT_EQ(before, player_->database);
      EXPECT_EQ(1u, player_->Storage(0).files.size());
      EXPECT_EQ(std::vector<std::wstring>{L"Old Song.mp3"}, TrackNames(device));
      player_->full_piece = 0;
      ASSERT_EQ(S_OK, Upload(device, L"Big_Song.mp3", big));
    } else {
      EXPECT_EQ(0, player_->crcf_times) << "the damaged chunk was not sent again";
    }
    EXPECT_EQ(std::vector<uint32_t>({1048576, 1048576, 557056}),
              std::vector<uint32_t>(player_->chunk_lengths.end() - 3,
                                    player_->chunk_lengths.end()));
    const DatabaseRow* row = RowTitled(PlayerRows(), "Road Song");
    ASSERT_NE(nullptr, row);
    EXPECT_EQ(big.size(), row->length);
    EXPECT_TRUE(StoredBytes(row->fid) == big) << "the player holds other bytes";
    EXPECT_EQ(std::vector<std::string>({"Old Song", "Road Song"}), Titles(PlayerRows()));
  }
}

// Each player keeps its own database: changes to one leave the other's image and listing
// alone, also while both are listed by the same session.
TEST_F(SeededFamilyBTest, TwoPlayersKeepTheirOwnDatabases) {
  std::shared_ptr<FlakyDatabasePlayer> first = player_;
  ReplacePlayer();
  std::memcpy(&player_->info_block[128], "Other Sim\0\0\0", 12);
  player_->has_database = true;
  player_->database = first->database;
  player_->PutFile(0, SimFileRecord(kOldFid, static_cast<uint32_t>(kOldBytes.size())),
                   kOldBytes);
  usb_.Detach(kFamilyBPath);
  usb_.Attach(0x5221, "\\\\?\\usb#vid_0e21&pid_5221#1", player_);
  usb_.Attach(kFamilyB, kFamilyBPath, first);
  Reopen();

  IMDSPDevice* mine = Device(L"Bellis Sim Internal");
  IMDSPDevice* other = Device(L"Other Sim Internal");
  ASSERT_NE(nullptr, mine);
  ASSERT_NE(nullptr, other);
  const std::string other_before = player_->database;
  ASSERT_EQ(S_OK, Delete(mine, L"Old Song.mp3"));
  ASSERT_EQ(S_OK, Upload(mine, L"Mono_Song.mp3", Bytes(Audio("Mono_Song.mp3"))));
  EXPECT_EQ(other_before, player_->database);
  EXPECT_EQ(std::vector<std::wstring>{L"Old Song.mp3"}, TrackNames(other));
  EXPECT_EQ(std::vector<std::wstring>{L"Mono Song.mp3"}, TrackNames(mine));

  ASSERT_EQ(S_OK, Upload(other, L"Road_Song.mp3", Bytes(Audio("Road_Song.mp3"))));
  EXPECT_EQ(std::vector<std::wstring>{L"Mono Song.mp3"}, TrackNames(mine));
  EXPECT_EQ(Sorted({L"Old Song.mp3", L"Road Song.mp3"}), Sorted(TrackNames(other)));
  EXPECT_EQ(std::vector<std::string>({"Old Song", "Road Song"}), Titles(PlayerRows()));
  player_ = first;
  EXPECT_EQ(std::vector<std::string>({"Mono Song"}), Titles(PlayerRows()));
}

// An upload holds the player from Open to Close, database and all: a delete on the player's
// other storage meanwhile is refused as busy rather than written from a database that the
// upload's commit would then overwrite. Both changes go through one after the other.
TEST_F(SeededFamilyBTest, ADeleteDuringAnUploadIsRefusedAndLosesNoRow) {
  player_->PutFile(1, SimFileRecord(0x4010, 3), "abc");
  std::unique_ptr<PackedTrackDatabase> database = PackedTrackDatabase::Create();
  ASSERT_EQ(rc::kOk, database->Rebuild(reinterpret_cast<const uint8_t*>(player_->database.data()),
                                       static_cast<uint32_t>(player_->database.size())));
  PropertyHolder card_song;
  card_song.SetInt("fid", 0x4010);
  card_song.SetString("type", "tune");
  card_song.SetString("codec", "mp3");
  card_song.SetString("title", "Card Song");
  card_song.SetInt("length", 3);
  ASSERT_EQ(rc::kOk, FidTagMapper::StoreNewTrack(database.get(), card_song));
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(rc::kOk, database->GetImage(&image, &size));
  player_->database.assign(reinterpret_cast<const char*>(image), size);

  IMDSPDevice* internal = Device(L"Bellis Sim Internal");
  IMDSPDevice* card = Device(L"Bellis Sim Card");
  ASSERT_EQ(std::vector<std::wstring>{L"Card Song.mp3"}, TrackNames(card));
  ComRef<IMDSPStorage> file;
  std::wstring name = L"Road_Song.mp3";
  ASSERT_EQ(S_OK,
            Root(internal)->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr, &name[0], file.Out()));
  ComRef<IMDSPObject> object(file.As<IMDSPObject>(IID_IMDSPObject));
  ASSERT_EQ(S_OK, object->Open(MDSP_WRITE));
  std::string bytes = Bytes(Audio("Road_Song.mp3"));
  for (size_t at = 0; at < bytes.size(); at += 8192) {
    if (at == 8192) {
      EXPECT_EQ(rc::kPlayerBusy, Delete(card, L"Card Song.mp3"));
    }
    DWORD n = static_cast<DWORD>(std::min<size_t>(8192, bytes.size() - at));
    ASSERT_EQ(S_OK, object->Write(reinterpret_cast<BYTE*>(&bytes[at]), &n, nullptr));
  }
  ASSERT_EQ(S_OK, object->Close());
  EXPECT_EQ(std::vector<std::string>({"Card Song", "Old Song", "Road Song"}),
            Titles(PlayerRows()));

  ASSERT_EQ(S_OK, Delete(card, L"Card Song.mp3"));
  EXPECT_EQ(std::vector<std::string>({"Old Song", "Road Song"}), Titles(PlayerRows()));
  EXPECT_TRUE(player_->Storage(1).files.empty());
  ExpectIdle();
}

}  // namespace
