#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devices/channel_factory.h"
#include "devices/device.h"
#include "devices/device_results.h"
#include "support/byte_order.h"
#include "support/memory_stream.h"
#include "tarnu_channel_fixture.h"

namespace {

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

uint32_t InfoWord(SimHardDiskPlayer& player) {
  return bytes::Le32(player.ImageBytes(player_layout::kMusicStart, 4).data());
}

void SetInfoWord(SimHardDiskPlayer& player, uint32_t word) {
  std::vector<uint8_t> sector = player.ImageBytes(player_layout::kMusicStart, 512);
  bytes::PutLe32(sector.data(), word);
  player.WriteImage(player_layout::kMusicStart / 512, sector.data());
}

TEST_F(TarnuChannelTest, StorageFiguresComeFromThePlayerOrFromTheVolume) {
  player->reply_data[13] =
      Text("name=Internal\nblock_size=4096\nsize_in_blocks=1000\nfree_in_blocks=-1\n"
           "used_in_blocks=900\nbad_in_blocks=2\n");
  {
    PropertyHolder info;
    ASSERT_EQ(channel->GetStorageInfo(0, info), rc::kOk);
    EXPECT_EQ(info.GetString("name"), "Internal");  // the player's own keys stay
    EXPECT_EQ(info.GetString("size_in_bytes"), "4096000");
    EXPECT_EQ(info.GetString("free_in_bytes"), "-4096");
    EXPECT_EQ(info.GetString("bad_in_bytes"), "8192");
    EXPECT_EQ(channel->music_volume(), nullptr);  // the volume was not needed
  }

  // Block size 0: the volume's own figures, with 10 MiB held back.
  player->reply_data[13] = Text("block_size=0\n");
  FsSpace space;
  ASSERT_EQ(channel->MountOmfs(), rc::kOk);
  ASSERT_EQ(channel->music_volume()->GetSpace(&space), rc::kOk);
  PropertyHolder info;
  ASSERT_EQ(channel->GetStorageInfo(0x10000, info), rc::kOk);  // only the low 16 bits count
  const uint64_t reserve = TarnuChannel::kReserveBytes / space.block_size;
  EXPECT_EQ(info.GetString("name"), "Hard disk");
  EXPECT_EQ(info.GetString("storage_type"), "1");
  EXPECT_EQ(info.GetString("free_in_blocks"), std::to_string(space.free_blocks - reserve));
  EXPECT_EQ(info.GetString("used_in_blocks"),
            std::to_string(space.total_blocks - (space.free_blocks - reserve)));
  EXPECT_EQ(info.GetString("size_in_bytes"),
            std::to_string(space.total_blocks * space.block_size));
  EXPECT_EQ(channel->GetStorageInfo(1, info), rc::kBadIndex);

  // A volume with less than the reserve free reports nothing free and everything used.
  MakePlayer(8);
  player->reply_data[13] = Text("");
  PropertyHolder small;
  ASSERT_EQ(channel->GetStorageInfo(0, small), rc::kOk);
  EXPECT_EQ(small.GetString("free_in_blocks"), "0");
  EXPECT_EQ(small.GetString("used_in_blocks"), small.GetString("size_in_blocks"));
}

TEST_F(TarnuChannelTest, DeviceInformation) {
  player->reply_data[5] = Text("serial=XYZ\ncapabilities=format\nrecovery=1\n");
  {
    PropertyHolder info;
    ASSERT_EQ(channel->GetDeviceInfo(info), rc::kOk);
    EXPECT_EQ(info.GetString("capabilities"), ";format;firmware;");
    EXPECT_EQ(info.GetString("device_id"), std::to_string(TarnuChannel::kProductId));
    EXPECT_EQ(info.GetString("serial_raw"), "XYZ");
    EXPECT_EQ(info.GetString("device_generation"), "");  // in recovery nothing is loaded
    EXPECT_EQ(channel->database(), nullptr);
  }
  player->reply_data[5] = Text("serial=XYZ\nserial_raw=raw\ndevice_generation=7\n");
  {
    PropertyHolder info;
    ASSERT_EQ(channel->GetDeviceInfo(info), rc::kOk);
    EXPECT_EQ(info.GetString("device_generation_is_from_device"), "1");
    EXPECT_EQ(info.GetString("serial_raw"), "raw");
    EXPECT_EQ(channel->database(), nullptr);
  }
  // Without a generation from the player, the database file's time stands for it.
  player->reply_data[5] = Text("capabilities=\n");
  PropertyHolder info;
  ASSERT_EQ(channel->GetDeviceInfo(info), rc::kOk);
  EXPECT_EQ(info.GetString("device_generation_is_from_fs"), "1");
  EXPECT_NE(info.GetString("device_generation"), "");
  EXPECT_NE(channel->database(), nullptr);
  EXPECT_EQ(info.GetString("capabilities"), ";");
}

TEST_F(TarnuChannelTest, PlayerRequestsAndCounters) {
  player->reply_data[6] = {3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0};
  PropertyHolder counters;
  ASSERT_EQ(channel->GetButtonCounters(counters), rc::kOk);
  EXPECT_EQ(counters.GetString("buttons"), "3");
  EXPECT_EQ(counters.GetString("rotary_clockwise"), "2");
  EXPECT_EQ(counters.GetString("rotary_anticlockwise"), "1");

  player->reply_data[8] = Text("level=80\ncharging=1");
  PropertyHolder battery;
  ASSERT_EQ(channel->GetBatteryInfo(battery), rc::kOk);
  EXPECT_EQ(battery.GetString("charging"), "1");

  player->fx2_commands.clear();
  EXPECT_EQ(channel->Request117(1, 2, 3), rc::kOk);
  EXPECT_EQ(channel->Request119(4, 5), rc::kOk);
  EXPECT_EQ(channel->Request142("hello", 9), rc::kOk);
  EXPECT_EQ(channel->SetDeviceTime(100, 200), rc::kOk);
  EXPECT_EQ(player->fx2_commands, (std::vector<uint8_t>{10, 11, 9, 7}));
  player->result_words[10] = 0x80000001;
  EXPECT_EQ(channel->Request117(1, 2, 3), static_cast<Result>(0x80000001));

  uint32_t id = 0;
  EXPECT_EQ(channel->GetDeviceID(&id), rc::kOk);
  EXPECT_EQ(id, TarnuChannel::kProductId);
  EXPECT_EQ(channel->GetState(), kStateReady);
  player->result_words[4] = static_cast<uint32_t>(rc::kPlayerGone);
  EXPECT_EQ(channel->GetState(), kStateGone);
  player->result_words[4] = 0x80000002;
  EXPECT_EQ(channel->GetState(), kStateError);
  Predictor* predictor = nullptr;
  EXPECT_EQ(channel->CreatePredictor(1, &predictor), rc::kFail);

  player->result_words[4] = 0;
  ASSERT_EQ(channel->MountOmfs(), rc::kOk);
  player->fx2_commands.clear();
  EXPECT_EQ(channel->CloseAndRebuildDatabase(), rc::kOk);
  EXPECT_EQ(player->fx2_commands.back(), 12);
  EXPECT_FALSE(player->bus_held);
  EXPECT_EQ(channel->music_volume(), nullptr);
}

TEST_F(TarnuChannelTest, InformationWordAndSettingsReset) {
  SetInfoWord(*player, 0x12345678);
  for (const char* path : {"/var/config.ini", "/var/state", "/var/dynamic0", "/var/dynamic1",
                           "/var/dynamic3"})
    WriteMusicFile(path, "x");
  uint32_t word = 0;
  ASSERT_EQ(channel->Request140(&word), rc::kOk);
  EXPECT_EQ(word, 0x12345678u);

  // Only "/var/dynamic4" is missing: 1.
  EXPECT_EQ(channel->ListStateFiles(), 1);
  ASSERT_EQ(channel->HoldStorage(false), rc::kOk);
  EXPECT_EQ(InfoWord(*player), 0u);
  EXPECT_FALSE(MusicFileExists("/var/config.ini"));
  EXPECT_FALSE(MusicFileExists("/var/dynamic3"));
  // The volume survived the cleared word.
  ASSERT_EQ(channel->EnsureDatabase(), rc::kOk);
}

TEST_F(TarnuChannelTest, FormatKeepsTheSettingsFiles) {
  const std::string content(5000, 't');
  PropertyHolder track;
  track.SetInt("fid", 0x200);
  track.SetInt("length", 5000);
  {
    MemoryStream source(content);
    ASSERT_EQ(channel->SendFile(0, *track.GetSet(), &source, nullptr), rc::kOk);
  }
  ASSERT_EQ(channel->Commit(1), rc::kOk);
  WriteMusicFile("/var/config.ini", "volume=\"7\"\n");
  WriteMusicFile("/var/state", std::string(10000, 's'));
  WriteMusicFile("/var/dynamic0", "gone");
  WriteMusicFile("/var/dynamic3", "three");

  ASSERT_EQ(channel->FormatStorage(0, nullptr), rc::kOk);
  EXPECT_EQ(channel->FormatStorage(1, nullptr), rc::kFail);
  ASSERT_EQ(channel->HoldStorage(false), rc::kOk);
  EXPECT_EQ(ReadMusicFile("/var/config.ini"), "volume=\"7\"\n");
  EXPECT_EQ(ReadMusicFile("/var/state"), std::string(10000, 's'));
  EXPECT_EQ(ReadMusicFile("/var/dynamic3"), "three");
  EXPECT_FALSE(MusicFileExists("/var/dynamic0"));
  EXPECT_FALSE(MusicFileExists("/var/dynamic1"));
  EXPECT_FALSE(MusicFileExists("/var/smalldb"));
  EXPECT_FALSE(MusicFileExists("/fids0/_00000/200"));
}

TEST_F(TarnuChannelTest, SuspendClosesAndReopensTheTransport) {
  ASSERT_EQ(channel->MountOmfs(), rc::kOk);
  ASSERT_EQ(channel->Suspend(true), rc::kOk);
  EXPECT_FALSE(player->bus_held);
  EXPECT_EQ(player->holders, 0);

  // Another program holds the player: 15 attempts, 14 waits of 200 ms.
  SimHardDiskUsb other(player);
  ASSERT_EQ(other.Open(), rc::kOk);
  CountingClock clock;
  auto* usb = new SimHardDiskUsb(player, TarnuChannel::kProductId);
  TarnuChannel waiting(usb, TarnuChannel::kProductId, &clock);
  EXPECT_EQ(waiting.Suspend(false), rc::kPlayerBusy);
  EXPECT_EQ(clock.sleeps, 14);
  EXPECT_EQ(clock.slept_ms, 14u * 200);
  other.Close();
  EXPECT_EQ(channel->Suspend(false), rc::kOk);
  EXPECT_EQ(channel->EnsureDatabase(), rc::kOk);
}

TEST_F(TarnuChannelTest, FactoryMakesTheChannelForTheHardDiskPlayer) {
  channel.reset();
  auto* usb = new SimHardDiskUsb(player, TarnuChannel::kProductId);
  ASSERT_EQ(usb->Open(), rc::kOk);
  Channel* made = nullptr;
  ASSERT_EQ(ChannelFactory::Default().Create(TarnuChannel::kProductId, usb, &made), rc::kOk);
  std::unique_ptr<Channel> owned(made);
  EXPECT_NE(dynamic_cast<TarnuChannel*>(made), nullptr);
  uint32_t id = 0;
  EXPECT_EQ(made->GetDeviceID(&id), rc::kOk);
  EXPECT_EQ(id, TarnuChannel::kProductId);
}

}  // namespace

namespace {

TEST_F(TarnuChannelTest, SystemVolumeMountsOnlyAfterTheMusicVolumeIsClosed) {
  ASSERT_EQ(SendTrack(0x200, "abc"), rc::kOk);
  ASSERT_TRUE(channel->database_dirty());
  std::unique_ptr<FileSystem> system;
  ASSERT_EQ(channel->MountSystem(&system), rc::kOk);
  EXPECT_EQ(channel->music_volume(), nullptr);
  EXPECT_EQ(channel->database(), nullptr);
  std::unique_ptr<FsDirHandle> root;
  EXPECT_EQ(system->OpenDir("/", kFsRead, &root), rc::kOk);
  root.reset();
  system.reset();
  auto database = DatabaseOnDisk();
  ASSERT_NE(database, nullptr);
  EXPECT_EQ(database->RowCount(), 1u);  // saved before the layout check
}

}  // namespace
