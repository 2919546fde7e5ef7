// A mass-storage player whose files live on M:, the removable drive of the test prefix: its
// storage reports the drive's real sizes, its state files are removed on reset, and WMDM's
// format (which passes no progress interface down) reaches the volume formatter and succeeds.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "devices/channel.h"
#include "devices/msc/fat32_format.h"
#include "devices/msc/msc_device.h"
#include "devices/msc/msc_drive_source.h"
#include "devices/output_stream.h"
#include "media/property_holder.h"
#include "msc_audio_fixtures.h"
#include "m_drive_player.h"
#include "sim/msc/sim_msc_player.h"
#include "support/file_helpers.h"
#include "wmdm/enumerator_device_source.h"
#include "wmdm/provider/wmdm_host.h"
#include "wmdm/provider/wmdm_steps.h"

namespace {

// A formatter that reports its progress and success, and counts its runs.
class CountingFormatter : public FormatterLibrary {
 public:
  static int runs;
  static std::wstring root;
  FormatExFunction Load() override { return &FormatEx; }
  void Unload() override {}
  static VOID WINAPI FormatEx(PWCHAR drive, DWORD, PWCHAR, PWCHAR, BOOL, DWORD,
                              FormatExCallback callback) {
    ++runs;
    root = drive;
    for (DWORD percent : {0u, 40u, 100u}) callback(kFormatProgress, 0, &percent);
    BOOLEAN ok = TRUE;
    callback(kFormatDone, 0, &ok);
  }
};
int CountingFormatter::runs = 0;
std::wstring CountingFormatter::root;

class MscDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetDriveTypeA("M:\\"), static_cast<UINT>(DRIVE_REMOVABLE))
        << "the test prefix has no removable drive M: (scripts/lib/wine_env.sh maps it)";
    PutPlayerOnDriveM(&io_, player_);
    player_->accepted.insert(134);
  }

  // The devices stay alive with the fixture: a channel uses its device's file source.
  std::unique_ptr<Channel> OpenChannel() {
    std::vector<RefPtr<MscDevice>>& devices = devices_;
    EXPECT_EQ(EnumerateMscDevices(environment_, &devices), rc::kOk);
    EXPECT_EQ(devices.size(), 1u);
    Channel* channel = nullptr;
    if (!devices.empty()) {
      EXPECT_EQ(devices[0]->OpenChannel(&channel), rc::kOk);
    }
    return std::unique_ptr<Channel>(channel);
  }

  SimVolumeIo io_;
  std::vector<RefPtr<MscDevice>> devices_;
  std::shared_ptr<SimMscPlayer> player_ = std::make_shared<SimMscPlayer>();
  CountingFormatter formatter_;
  MscEnvironment environment_ = [this] {
    MscEnvironment environment;
    environment.volume_io = &io_;
    environment.formatter = &formatter_;
    return environment;
  }();
};

TEST_F(MscDriveTest, StorageReportsTheDrivesSizes) {
  auto channel = OpenChannel();
  ASSERT_NE(channel, nullptr);
  PropertyHolder storage;
  ASSERT_EQ(channel->GetStorageInfo(0, storage), rc::kOk);
  uint64_t total = 0, free = 0, used = 0;
  ASSERT_EQ(DiskSpace("M:\\", &total, &free, &used), rc::kOk);
  EXPECT_EQ(static_cast<uint64_t>(storage.GetSet()->GetInt64("size_in_bytes")), total);
  EXPECT_GT(storage.GetSet()->GetInt("block_size"), 0);
  EXPECT_EQ(storage.GetString("drive_letter"), "77");  // 'M'
  EXPECT_EQ(storage.GetString("name"), "Internal");
}

TEST_F(MscDriveTest, ResetRemovesThePlayersStateFiles) {
  std::ofstream("M:\\.PLAYING") << "track 3";
  std::ofstream("M:\\.SETTINGS") << "volume=4";
  SetFileAttributesA("M:\\.SETTINGS", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
  auto channel = OpenChannel();
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->ListStateFiles(), rc::kOk);
  EXPECT_EQ(io_.LogLines("M: D0 134"), std::vector<std::string>{"M: D0 134 v=0 i=0 out=0"});
  EXPECT_FALSE(FileExists("M:\\.PLAYING"));
  EXPECT_FALSE(FileExists("M:\\.SETTINGS"));
  EXPECT_EQ(channel->ListStateFiles(), rc::kOk);  // nothing left to remove is no failure
  player_->accepted.erase(134);
  std::ofstream("M:\\.PLAYING") << "track 3";
  EXPECT_EQ(channel->ListStateFiles(), rc::kNotImplemented);
  EXPECT_TRUE(FileExists("M:\\.PLAYING"));  // the player said no: its files stay
  UnlinkFile("M:\\.PLAYING");
}

TEST_F(MscDriveTest, UploadLandsUnderTheTrackTemplate) {
  auto channel = OpenChannel();
  ASSERT_NE(channel, nullptr);
  OutputStream* raw = nullptr;
  EXPECT_EQ(channel->CreateNewFile(5, &raw), rc::kBadIndex);
  ASSERT_EQ(channel->CreateNewFile(0, &raw), rc::kOk);
  std::unique_ptr<OutputStream> upload(raw);
  const std::string bytes = AudioFixture("mp3").Bytes();
  ASSERT_EQ(upload->Write(reinterpret_cast<const uint8_t*>(bytes.data()),
                          static_cast<uint32_t>(bytes.size())),
            rc::kOk);
  PropertyHolder file;
  file.SetString("name", "Song.mp3");  // the bare name the WMDM upload hands over
  file.SetString("type", "tune");
  file.SetString("codec", "mp3");
  file.SetString("source", "Best Of");
  file.SetInt("tracknr", 3);
  file.SetString("title", "Song");
  ASSERT_EQ(upload->Finish(file), rc::kOk);
  const std::string landed = "M:\\Music\\Best Of\\03 - Song.mp3";
  EXPECT_EQ(file.GetString("name"), landed);
  EXPECT_EQ(file.GetString("directory"), "M:\\Music\\Best Of");
  // The audio arrives as it was sent; the tag in front of it is written anew from "title".
  std::ifstream in(landed, std::ios::binary);
  const std::string landed_bytes(std::istreambuf_iterator<char>(in), {});
  in.close();
  EXPECT_NE(landed_bytes.find(bytes.substr(bytes.size() / 2)), std::string::npos);
  EXPECT_EQ(file.GetString("length"), std::to_string(landed_bytes.size()));
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA("M:\\TKM*", &found);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "a temporary file was left: " << found.cFileName;
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  EXPECT_EQ(DeleteTree("M:\\Music"), rc::kOk);
}

TEST_F(MscDriveTest, WmdmFormatWithoutProgressSucceeds) {
  MscDriveSource drives(environment_);
  EnumeratorDeviceSource system(nullptr, &drives);
  DeviceSource* previous = SetDeviceSourceForTesting(&system);
  {
    WmdmHost host;
    ASSERT_EQ(host.Load(), S_OK);
    std::vector<IMDSPDevice*> devices;
    ASSERT_EQ(host.ListDevices(&devices), S_OK);
    ASSERT_EQ(devices.size(), 1u);
    ComRef<IMDSPStorage> root = Root(devices[0]);
    ASSERT_NE(root.Get(), nullptr);
    ComRef<IMDSPStorageGlobals> globals;
    ASSERT_EQ(root->GetStorageGlobals(globals.Out()), S_OK);
    EXPECT_EQ(globals->Initialize(WMDM_MODE_BLOCK, nullptr), S_OK);
    EXPECT_EQ(CountingFormatter::runs, 1);
    EXPECT_EQ(CountingFormatter::root, L"M:\\");
  }
  SetDeviceSourceForTesting(previous);
}

}  // namespace
