// Files made by lame, id3v2 and ffmpeg go up through WMDM's storage and file objects into the
// simulated players: the player keeps the bytes and a record whose fields agree with what
// mutagen and ffprobe read from the same files. Then delete, a full player and an unplugged one.
#include <algorithm>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "devices/flash/end_to_end_audio.h"
#include "devices/flash/end_to_end/end_to_end_fixture.h"
#include "support/text_convert.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/wmdm_conventions.h"
#include "wmdm/wmdm_types.h"

namespace {

// Where each family's record keeps the texts (the common numeric fields are shared).
struct RecordLayout {
  uint32_t title, title_width, artist, album, person_width;
  uint32_t rid;
  bool utf8;  // else Latin-1
};
const RecordLayout kDirectoryUtf8 = {256, 64, 320, 384, 64, 72, true};    // family D
const RecordLayout kDirectoryLatin1 = {256, 64, 320, 384, 64, 72, false};  // family C
const RecordLayout kFamilyARecord = {128, 128, 256, 352, 96, 512 + 27, false};

std::string Text(const std::vector<uint8_t>& record, uint32_t offset, uint32_t width,
                 bool utf8) {
  const std::string raw = RecordText(record, offset, width);
  return utf8 ? raw : Latin1ToUtf8(raw);
}

std::string Hex(const std::vector<uint8_t>& record, uint32_t offset) {
  std::string text;
  char pair[3];
  for (uint32_t i = 0; i < 16 && offset + i < record.size(); ++i) {
    std::snprintf(pair, sizeof pair, "%02x", record[offset + i]);
    text += pair;
  }
  return text;
}

// The stored file against the oracles.
void ExpectStored(const StoredFile& stored, const EndToEndAudio& audio,
                  const RecordLayout& layout) {
  const std::string bytes(audio.bytes, audio.size);
  const std::vector<uint8_t>& record = stored.record;
  ASSERT_EQ(2048u, record.size());
  EXPECT_EQ(audio.size, RecordLe32(record, 8));
  EXPECT_TRUE(stored.data == bytes) << "the player holds other bytes";
  EXPECT_EQ(layout.utf8, (RecordLe32(record, 20) & kSimFlagUtf8) != 0);
  EXPECT_EQ(audio.title, Text(record, layout.title, layout.title_width, layout.utf8));
  EXPECT_EQ(audio.artist, Text(record, layout.artist, layout.person_width, layout.utf8));
  EXPECT_EQ(audio.album, Text(record, layout.album, layout.person_width, layout.utf8));
  // mutagen leaves the encoder's delay and padding out, ffprobe counts them; a millisecond
  // of rounding either way.
  ExpectWithin(RecordLe32(record, 12), audio.mutagen_duration_ms, audio.ffprobe_duration_ms, 1,
               "duration");
  // The record keeps whole kbit/s as bytes per second.
  ExpectWithin(RecordLe32(record, 40) * 8, audio.mutagen_bitrate, audio.ffprobe_bitrate, 1000,
               "bit rate");
  EXPECT_EQ(audio.mutagen_sample_rate, RecordLe32(record, 36));
  EXPECT_EQ(audio.ffprobe_sample_rate, RecordLe32(record, 36));
  EXPECT_EQ(audio.mutagen_channels, record[34] | record[35] << 8u);
  EXPECT_EQ(audio.ffprobe_channels, record[34] | record[35] << 8u);
  EXPECT_EQ(audio.rid, Hex(record, layout.rid));
}

TEST_F(EndToEndTest, ToolMadeFilesGoUpWithBytesAndRecordsTheOraclesAgreeWith) {
  enum Family { kD, kC, kA };
  const struct {
    const wchar_t* device;
    Family family;
    uint32_t storage;
    const char* file;
  } cases[] = {
      {L"Pavo Sim Internal", kD, 0, "Road_Song.mp3"},
      {L"Pavo Sim Card", kD, 1, "Road_Song.mp3"},
      {L"Pavo Sim Card", kD, 1, "Mono_Song.mp3"},
      {L"Pavo Sim Card", kD, 1, "Windows_Song.wma"},
      // Family C keeps Latin-1 and draws non-ASCII titles: plain tags only.
      {L"Qel Sorn Pellor", kC, 1, "Road_Song.mp3"},
      {L"Qel Sorn Internal Memory", kC, 0, "Mono_Song.mp3"},
      {L"Qel Pirn", kA, 0, "Road_Song.mp3"},
      {L"Qel Pirn", kA, 0, "Windows_Song.wma"},
  };
  const std::vector<IMDSPDevice*> devices = List();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.device, c.device + wcslen(c.device)) + " " + c.file);
    const EndToEndAudio& audio = Audio(c.file);
    IMDSPDevice* device = DeviceNamed(devices, c.device);
    ASSERT_NE(nullptr, device);
    const uint64_t free_before = FreeBytes(device);

    ASSERT_EQ(S_OK, Upload(device, Utf8ToWideString(audio.file_name), Bytes(audio)));

    const RecordLayout& layout = c.family == kD   ? kDirectoryUtf8
                                 : c.family == kC ? kDirectoryLatin1
                                                  : kFamilyARecord;
    SimDirectoryPlayer* directory = c.family == kD ? family_d_.get() : family_c_.get();
    ExpectStored(c.family == kA ? LastSlot() : LastFile(directory->Storage(c.storage)), audio,
                 layout);
    const std::vector<std::wstring> names = TrackNames(device);
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), ListedName(audio)));
    EXPECT_LT(FreeBytes(device), free_before);
    if (c.family == kD) {
      // Family D rounds a file to 16 KiB units and adds one more to anything over one.
      const uint64_t units = (audio.size + 16383) / 16384;
      EXPECT_EQ(free_before - 16384 * (units < 2 ? units : units + 1), FreeBytes(device));
    }
  }
  // Nothing is left open, locked or busy, and the temporary copies are gone.
  for (SimFlashPlayer* player : {static_cast<SimFlashPlayer*>(family_d_.get()),
                                 static_cast<SimFlashPlayer*>(family_c_.get()),
                                 static_cast<SimFlashPlayer*>(family_a_.get())}) {
    EXPECT_EQ(0, player->holders);
    EXPECT_EQ(0, player->lock_depth);
    EXPECT_FALSE(player->Busy());
    EXPECT_EQ(0, player->unexpected_writes);
  }
  EXPECT_EQ(0, BusyCount());
  for (const char* extension : {".mp3", ".wma"}) {
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesA(temp().File(std::string("TorvexTmp") + extension).c_str()));
  }
}

TEST_F(EndToEndTest, DeletedTracksLeaveThePlayerAndTheListing) {
  std::vector<IMDSPDevice*> devices = List();
  IMDSPDevice* internal = DeviceNamed(devices, L"Pavo Sim Internal");
  const EndToEndAudio& audio = Audio("Road_Song.mp3");
  const uint64_t free_before = FreeBytes(internal);
  ASSERT_EQ(S_OK, Upload(internal, L"Road_Song.mp3", Bytes(audio)));

  const struct {
    const wchar_t* device;
    const wchar_t* track;
  } cases[] = {
      {L"Pavo Sim Internal", L"Road Song.mp3"},
      {L"Pavo Sim Internal", L"Old_Song.mp3"},
      {L"Qel Sorn Internal Memory", L"Old_Song.mp3"},  // found by name and folder
      {L"Qel Pirn", L"Old Song.mp3"},                  // its database slot emptied
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.track, c.track + wcslen(c.track)));
    IMDSPDevice* device = DeviceNamed(devices, c.device);
    ComRef<IMDSPStorage> track = Track(device, c.track);
    ASSERT_NE(nullptr, track.Get());
    ComRef<IMDSPObject> object(track.As<IMDSPObject>(IID_IMDSPObject));
    EXPECT_EQ(S_OK, object->Delete(0, nullptr));
    // The object is gone with its file.
    EXPECT_EQ(kInterfaceDead, object->Delete(0, nullptr));
    const std::vector<std::wstring> names = TrackNames(device);
    EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), c.track));
  }
  EXPECT_TRUE(family_d_->Storage(0).files.empty());
  EXPECT_TRUE(family_c_->Storage(0).files.empty());
  EXPECT_EQ(1, family_c_->finds_by_name);
  EXPECT_EQ(0u, family_a_->FileCount());
  // The uploaded file's space comes back, and the old track's single unit with it.
  EXPECT_EQ(free_before + 16384, FreeBytes(internal));

  // A new listing agrees with the player.
  devices = List();
  EXPECT_TRUE(TrackNames(DeviceNamed(devices, L"Pavo Sim Internal")).empty());
  EXPECT_TRUE(TrackNames(DeviceNamed(devices, L"Qel Sorn Internal Memory")).empty());
}

// The player answers "FULL" for a data piece, or the storage has no file number left: the
// upload fails with ERROR_DISK_FULL, the player keeps nothing and is free for the next one.
TEST_F(EndToEndTest, AFullPlayerRefusesTheUploadAndTakesTheNextOne) {
  // Every number of the second player's only storage is taken (0 is the player's own).
  for (uint32_t number = 1; number < 1024; ++number) {
    second_d_->AddFile(0, number << 4, "x", "File" + std::to_string(number) + ".mp3");
  }
  family_d_->full_piece = 2;
  const std::vector<IMDSPDevice*> devices = List();
  const EndToEndAudio& audio = Audio("Road_Song.mp3");
  const struct {
    const wchar_t* device;
    SimDirectoryPlayer* player;
  } cases[] = {{L"Pavo Sim Internal", family_d_.get()}, {L"Pavo Two", second_d_.get()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.device, c.device + wcslen(c.device)));
    IMDSPDevice* device = DeviceNamed(devices, c.device);
    ASSERT_NE(nullptr, device);
    const size_t files_before = c.player->Storage(0).files.size();
    const uint64_t free_before = FreeBytes(device);
    const std::vector<std::wstring> names_before = TrackNames(device);

    HRESULT closed = S_OK;
    EXPECT_EQ(kDiskFull, Upload(device, L"Road_Song.mp3", Bytes(audio), &closed));
    EXPECT_EQ(kDiskFull, closed);
    EXPECT_EQ(files_before, c.player->Storage(0).files.size());
    EXPECT_FALSE(c.player->Busy());
    EXPECT_EQ(0, c.player->holders);
    EXPECT_EQ(0, c.player->lock_depth);
    EXPECT_EQ(free_before, FreeBytes(device));
    EXPECT_EQ(names_before, TrackNames(device));
    DWORD status = 0;
    EXPECT_EQ(S_OK, device->GetStatus(&status));
    EXPECT_EQ(static_cast<DWORD>(WMDM_STATUS_READY), status);
  }
  // Room again on the first player: the next upload goes through at once.
  family_d_->full_piece = 0;
  EXPECT_EQ(S_OK, Upload(DeviceNamed(devices, L"Pavo Sim Internal"), L"Road_Song.mp3", Bytes(audio)));
  EXPECT_TRUE(LastFile(family_d_->Storage(0)).data == Bytes(audio));
  EXPECT_EQ(0, BusyCount());
}

// Trouble on the way: a chunk the player found damaged is sent again, and a transfer that
// fails on the PC's side is ended on the player, which takes the next upload at once.
TEST_F(EndToEndTest, TransferTroubleIsRepairedOrEndedOnThePlayer) {
  const struct {
    const char* name;
    int crcf_times, fail_write_at;
    HRESULT result;
    int aborts;
  } cases[] = {
      {"damaged chunk, twice", 2, 0, S_OK, 0},
      // The player's fourth bulk write is the second data piece.
      {"the second piece cannot be sent", 0, 4, rc::kTimeout, 1},
  };
  const std::string bytes = Bytes(Audio("Road_Song.mp3"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto player = std::make_shared<SimDirectoryPlayer>(false, kFamilyD);
    player->storages[0].total_blocks = player->storages[0].free_blocks = 1u << 24;
    player->crcf_piece = 2;
    player->crcf_times = c.crcf_times;
    player->fail_write_at = c.fail_write_at;
    player->fail_write_code = rc::kTimeout;
    player->fail_write_done = 100;
    usb_.Detach(UsbPath(kFamilyD, 1));
    usb_.Attach(kFamilyD, UsbPath(kFamilyD, 1), player);
    IMDSPDevice* device = DeviceNamed(DevicesOf(UsbPath(kFamilyD, 1)), L"Sim Player Internal");
    ASSERT_NE(nullptr, device);

    EXPECT_EQ(c.result, Upload(device, L"Road_Song.mp3", bytes));
    const std::vector<std::string> log = player->LogLines();
    EXPECT_EQ(c.crcf_times, std::count(log.begin(), log.end(), "R:SQELCRCF"));
    EXPECT_EQ(c.aborts, player->aborts);
    EXPECT_FALSE(player->Busy());
    EXPECT_EQ(0, player->holders);
    EXPECT_EQ(0, player->lock_depth);
    EXPECT_EQ(0, BusyCount());
    if (SUCCEEDED(c.result)) {
      EXPECT_TRUE(LastFile(player->Storage(0)).data == bytes);
      continue;
    }
    EXPECT_TRUE(player->Storage(0).files.empty());
    // Nothing is left waiting on the player: the next upload goes through.
    EXPECT_EQ(S_OK, Upload(device, L"Road_Song.mp3", bytes));
    EXPECT_TRUE(LastFile(player->Storage(0)).data == bytes);
  }
}

TEST_F(EndToEndTest, APlayerUnpluggedDuringAnUploadLeavesNothingOpenOrBusy) {
  const std::vector<IMDSPDevice*> devices = List();
  IMDSPDevice* card = DeviceNamed(devices, L"Pavo Sim Card");
  ASSERT_NE(nullptr, card);
  ComRef<IMDSPStorage> file;
  std::wstring name = L"Road_Song.mp3";
  ASSERT_EQ(S_OK, Root(card)->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr, &name[0], file.Out()));
  ComRef<IMDSPObject> object(file.As<IMDSPObject>(IID_IMDSPObject));
  ASSERT_EQ(S_OK, object->Open(MDSP_WRITE));

  family_d_->unplug_after_calls = 3;
  std::string bytes = Bytes(Audio("Road_Song.mp3"));
  HRESULT status = S_OK;
  for (size_t at = 0; at < bytes.size() && SUCCEEDED(status); at += 8192) {
    DWORD size = static_cast<DWORD>(std::min<size_t>(8192, bytes.size() - at));
    status = object->Write(reinterpret_cast<BYTE*>(&bytes[at]), &size, nullptr);
  }
  // The transport's word for a player that went away reaches WMDM as it is.
  const HRESULT kNotConnected = HResultFromWin32(ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(kNotConnected, status);
  EXPECT_EQ(kNotConnected, object->Close());
  EXPECT_EQ(kInterfaceDead, object->Close());

  EXPECT_TRUE(family_d_->Storage(1).files.empty());
  EXPECT_EQ(0, family_d_->holders);
  EXPECT_EQ(0, BusyCount());
  DWORD device_status = 0;
  EXPECT_EQ(S_OK, card->GetStatus(&device_status));
  EXPECT_EQ(static_cast<DWORD>(WMDM_STATUS_READY), device_status);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(temp().File("TorvexTmp.mp3").c_str()));
}

}  // namespace
