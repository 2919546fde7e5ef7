// Files made by lame and id3v2 go up through WMDM (the test build of the DLL loaded through
// COM, the player found on WMDM's plug and play road) into a simulated hard-disk player, are
// listed and deleted; between sessions the player's disk is read with a disk and file system of
// the test's own: the track bytes, the music database's rows against mutagen, the settings files
// after a format.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "devices/flash/end_to_end_audio.h"
#include "devices/harddisk/fid_path.h"
#include "devices/harddisk/tarnu_channel.h"
#include "fs/ir_file_system.h"
#include "platform/platform.h"
#include "platform/platform_file_system.h"
#include "sim/harddisk/harddisk_usb_source.h"
#include "sim/harddisk/player_files.h"
#include "wmdm/provider/provider_environment.h"
#include "wmdm/provider/wmdm_host.h"
#include "wmdm/provider/wmdm_steps.h"
#include "wmdm/wmdm_types.h"

namespace {

constexpr char kPlayerPath[] = "\\\\?\\usb#vid_0e21&pid_5210#hd1";
constexpr uint64_t kMiB = 1024 * 1024;
// A disk of 145 MiB: its music volume holds a little over 64 MiB.
constexpr uint64_t kDiskBytes = 145 * kMiB;

const char kPlayerInfo[] = "serial=HD-0001\nname=Tarnu\ncapabilities=format\n";

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// The row of the database whose "title" is `title`; the record set stands on it when found.
RefPtr<RecordSet> RowTitled(ColumnTable& table, const std::string& title) {
  RefPtr<RecordQuery> query;
  table.CreateQuery(&query);
  query->AddTextCondition("title", kOpEqual, title);
  RefPtr<RecordSet> rows;
  query->Execute(&rows);
  return rows && !rows->IsEOF() ? rows : RefPtr<RecordSet>();
}

class HardDiskEndToEndTest : public testing::Test {
 protected:
  HardDiskEndToEndTest() {
    player_ = std::make_shared<SimHardDiskPlayer>(kDiskBytes / 512);
    player_->reply_data[5] = Text(kPlayerInfo);
    usb_.Attach(TarnuChannel::kProductId, kPlayerPath, player_);
    seams_.usb = &usb_;
  }

  void SetUp() override {
    OnPlayerDisk([&] {
      ASSERT_EQ(rc::kOk, PreparePlayerDisk(player_, true));
      ASSERT_EQ(rc::kOk, WritePlayerFile(player_, "/var/config.ini", "language=\"en\"\n"));
      ASSERT_EQ(rc::kOk, WritePlayerFile(player_, "/var/dynamic0", "forgotten"));
    });
    OpenHost();
  }

  void OpenHost() {
    host_ = std::make_unique<WmdmHost>();
    ASSERT_EQ(S_OK, host_->LoadRegistered(seams_));
  }
  // Ends the WMDM session: the provider lets go of the player.
  void CloseHost() { host_.reset(); }

  // The player's one device, as WMDM finds it through plug and play.
  IMDSPDevice* Device() {
    std::vector<IMDSPDevice*> devices;
    EXPECT_EQ(S_OK, host_->CreateDevices(usb_.PnpNames(), &devices));
    EXPECT_EQ(1u, devices.size());
    return devices.empty() ? nullptr : devices[0];
  }

  // Runs `work` with a platform of the test's own over the player's disk; the WMDM session
  // must be closed.
  template <typename Work>
  void OnPlayerDisk(Work work) {
    ASSERT_EQ(nullptr, host_.get());
    InstallPlatformFileSystem();
    ASSERT_EQ(0, AcquirePlatformFileSystem());
    work();
    DestroyPlatform();
    SetFileSystemProvider(nullptr);
  }

  std::string PlayerFile(const std::string& path, Result* result = nullptr) {
    std::string content;
    const Result read = ReadPlayerFile(player_, path, &content);
    if (result) *result = read;
    return content;
  }

  // Every fixture's row agrees with mutagen, and its fid holds the bytes that went up.
  void ExpectTracksOnDisk(const std::vector<const char*>& names) {
    OnPlayerDisk([&] {
      std::unique_ptr<ColumnTable> database = PlayerDatabase(player_);
      ASSERT_NE(nullptr, database.get()) << "the player's database does not load";
      EXPECT_EQ(names.size(), database->RowCount());
      for (const char* name : names) {
        const EndToEndAudio& audio = Audio(name);
        SCOPED_TRACE(name);
        RefPtr<RecordSet> row = RowTitled(*database, audio.title);
        ASSERT_TRUE(row.Get());
        EXPECT_EQ(audio.artist, row->GetString("artist"));
        EXPECT_EQ(audio.album, row->GetString("source"));
        EXPECT_EQ("mp3", row->GetString("codec"));
        EXPECT_EQ(static_cast<int32_t>(audio.size), row->GetInt("length"));
        ExpectWithin(static_cast<uint32_t>(row->GetInt("duration")), audio.mutagen_duration_ms,
                     audio.ffprobe_duration_ms, 30, "duration");
        const uint32_t fid = static_cast<uint32_t>(row->GetInt("fid"));
        EXPECT_TRUE(tarnu_fid::IsValidFid(fid)) << fid;
        EXPECT_TRUE(PlayerFile(tarnu_fid::FidPath(fid)) == Bytes(audio))
            << "the track's bytes differ from the source";
        EXPECT_NE(std::string::npos,
                  PlayerFile(tarnu_fid::PropertyPath(fid)).find(std::string("title=") + audio.title));
      }
    });
  }

  std::shared_ptr<SimHardDiskPlayer> player_;
  SimHardDiskUsbSource usb_;
  TorvexTestSeams seams_;
  ProviderEnvironment environment_;
  std::unique_ptr<WmdmHost> host_;
};

TEST_F(HardDiskEndToEndTest, InformationUploadsReopenAndFormat) {
  IMDSPDevice* device = Device();
  ASSERT_NE(nullptr, device);
  const DeviceReport report = WmdmHost::Describe(device);
  EXPECT_EQ(S_OK, report.results.at("GetName"));
  EXPECT_EQ(TarnuChannel::kProductId, report.product_id);

  ComRef<IMDSPStorage> root = Root(device);
  ASSERT_NE(nullptr, root.Get());
  IMDSPStorageGlobals* globals = nullptr;
  ASSERT_EQ(S_OK, root->GetStorageGlobals(&globals));
  DWORD free_low = 0, free_high = 0, total_low = 0, total_high = 0;
  EXPECT_EQ(S_OK, globals->GetTotalFree(&free_low, &free_high));
  EXPECT_EQ(S_OK, globals->GetTotalSize(&total_low, &total_high));
  const uint64_t free_bytes = uint64_t{free_high} << 32 | free_low;
  const uint64_t total_bytes = uint64_t{total_high} << 32 | total_low;
  EXPECT_GT(free_bytes, 40 * kMiB);  // 64 MiB less the reserve and the volume's own blocks
  EXPECT_LT(free_bytes, total_bytes - 10 * kMiB + 1);
  globals->Release();

  for (const char* name : {"Road_Song.mp3", "Mono_Song.mp3"}) {
    SCOPED_TRACE(name);
    const EndToEndAudio& audio = Audio(name);
    EXPECT_EQ(S_OK, Upload(device, Utf8ToWideString(name), Bytes(audio)));
  }
  EXPECT_EQ(Sorted({ListedName(Audio("Mono_Song.mp3")), ListedName(Audio("Road_Song.mp3"))}),
            Sorted(TrackNames(device)));
  CloseHost();
  ExpectTracksOnDisk({"Road_Song.mp3", "Mono_Song.mp3"});

  // A new session lists what the database kept; a delete takes the row and the content.
  OpenHost();
  device = Device();
  ASSERT_NE(nullptr, device);
  EXPECT_EQ(S_OK, WmdmHost::Describe(device).results.at("GetSerialNumber"));
  EXPECT_EQ(2u, TrackNames(device).size());
  uint32_t deleted_fid = 0;
  {
    CloseHost();
    OnPlayerDisk([&] {
      std::unique_ptr<ColumnTable> database = PlayerDatabase(player_);
      ASSERT_NE(nullptr, database.get());
      RefPtr<RecordSet> row = RowTitled(*database, Audio("Mono_Song.mp3").title);
      ASSERT_TRUE(row.Get());
      deleted_fid = static_cast<uint32_t>(row->GetInt("fid"));
    });
    OpenHost();
    device = Device();
    ASSERT_NE(nullptr, device);
  }
  EXPECT_EQ(S_OK, Delete(device, ListedName(Audio("Mono_Song.mp3"))));
  EXPECT_EQ(std::vector<std::wstring>{ListedName(Audio("Road_Song.mp3"))}, TrackNames(device));
  CloseHost();
  ExpectTracksOnDisk({"Road_Song.mp3"});
  OnPlayerDisk([&] {
    Result result = rc::kOk;
    PlayerFile(tarnu_fid::FidPath(deleted_fid), &result);
    EXPECT_TRUE(rc::Failed(result)) << "the deleted track's content is still there";
  });
  OpenHost();
  device = Device();
  ASSERT_NE(nullptr, device);
  EXPECT_EQ(std::vector<std::wstring>{ListedName(Audio("Road_Song.mp3"))}, TrackNames(device));

  // Formatting empties the music volume and keeps the player's settings.
  root = Root(device);
  ASSERT_NE(nullptr, root.Get());
  ASSERT_EQ(S_OK, root->GetStorageGlobals(&globals));
  EXPECT_EQ(S_OK, globals->Initialize(WMDM_MODE_BLOCK, nullptr));
  globals->Release();
  root = ComRef<IMDSPStorage>();
  CloseHost();
  OnPlayerDisk([&] {
    EXPECT_EQ("language=\"en\"\n", PlayerFile("/var/config.ini"));
    Result result = rc::kOk;
    PlayerFile("/var/dynamic0", &result);
    EXPECT_TRUE(rc::Failed(result));
    PlayerFile("/var/smalldb", &result);
    EXPECT_TRUE(rc::Failed(result)) << "the player builds its database after a format";
  });
}

TEST_F(HardDiskEndToEndTest, ChangedGenerationMakesTheDeviceDead) {
  player_->reply_data[5] = Text(std::string(kPlayerInfo) + "device_generation=1\n");
  IMDSPDevice* device = Device();
  ASSERT_NE(nullptr, device);
  EXPECT_EQ(S_OK, WmdmHost::Describe(device).results.at("GetSerialNumber"));
  player_->reply_data[5] = Text(std::string(kPlayerInfo) + "device_generation=2\n");
  const DeviceReport report = WmdmHost::Describe(device);
  EXPECT_EQ(WMDM_E_INTERFACEDEAD, report.results.at("GetSerialNumber"));
  EXPECT_EQ(S_OK, report.results.at("GetName"));
}

}  // namespace
