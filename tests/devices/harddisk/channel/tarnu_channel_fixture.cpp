#include "tarnu_channel_fixture.h"

#include "devices/harddisk/stream_copy.h"
#include "fs/ir_file_system.h"
#include "platform/platform.h"
#include "platform/platform_file_system.h"
#include "support/memory_stream.h"

namespace {
CountingClock g_clock;
}  // namespace

void TarnuChannelTest::SetUp() {
  InstallPlatformFileSystem();
  ASSERT_EQ(AcquirePlatformFileSystem(), 0);
  MakePlayer(48);
}

void TarnuChannelTest::TearDown() {
  channel.reset();
  DestroyPlatform();
  SetFileSystemProvider(nullptr);
}

std::unique_ptr<ColumnTable> TarnuChannelTest::EmptyDatabase() {
  auto table = std::make_unique<ColumnTable>(8, 3);
  table->AddColumn("fid", kColumnTypeInt32, kColumnSorted);
  table->AddColumn("fid_generation", kColumnTypeInt32, 0);
  table->AddColumn("type", kColumnTypeString, 0);
  table->AddColumn("title", kColumnTypeString, 0);
  table->AddColumn("artist", kColumnTypeString, 0);
  table->AddColumn("album", kColumnTypeString, 0);
  table->AddColumn("genre", kColumnTypeString, 0);
  table->AddColumn("codec", kColumnTypeString, 0);
  table->AddColumn("length", kColumnTypeInt32, 0);
  table->AddColumn("tracknr", kColumnTypeInt32, 0);
  table->AddColumn("duration", kColumnTypeInt32, 0);
  table->AddColumn("options", kColumnTypeInt32, 0);
  table->AddColumn("playlist", kColumnTypeBlob, 0);
  table->AddColumn("profile", kColumnTypeBlob, 0);
  return table;
}

std::string TarnuChannelTest::DatabaseBytes(const ColumnTable& table) {
  MemoryStream stream;
  EXPECT_EQ(table.Save(&stream), rc::kOk);
  return stream.Bytes();
}

template <typename Work>
void TarnuChannelTest::WithMusicVolume(Work work) {
  if (channel) channel->Suspend(true);
  auto usb = std::make_unique<SimHardDiskUsb>(player);
  ASSERT_EQ(usb->Open(), rc::kOk);
  std::unique_ptr<PlayerDisk> disk;
  ASSERT_EQ(PlayerDisk::Create(usb.get(), &disk, &g_clock), rc::kOk);
  ASSERT_EQ(disk->AcquireBus(), rc::kOk);
  {
    std::unique_ptr<FileSystem> music;
    ASSERT_EQ(DeviceFileSystem::MountPartition(disk.get(), 2, &music), rc::kOk);
    work(music.get());
    music->Close();
  }
  EXPECT_EQ(disk->ReleaseBus(), rc::kOk);
  disk.reset();
  usb.reset();
  if (channel) {
    ASSERT_EQ(channel->Suspend(false), rc::kOk);
  }
}

void TarnuChannelTest::MakePlayer(uint64_t music_mib, bool with_database) {
  channel.reset();
  player = std::make_shared<SimHardDiskPlayer>(MusicDisk(music_mib) / 512);
  {
    auto usb = std::make_unique<SimHardDiskUsb>(player);
    ASSERT_EQ(usb->Open(), rc::kOk);
    std::unique_ptr<PlayerDisk> disk;
    ASSERT_EQ(PlayerDisk::Create(usb.get(), &disk, &g_clock), rc::kOk);
    ASSERT_EQ(disk->AcquireBus(), rc::kOk);
    ASSERT_EQ(DeviceFileSystem::CheckPartitionLayout(disk.get(), LayoutMode::kFresh), rc::kOk);
    ASSERT_EQ(disk->ReleaseBus(), rc::kOk);
  }
  WithMusicVolume([&](FileSystem* music) {
    for (const char* dir : {"var", "fids0"}) {
      std::unique_ptr<FsDirHandle> handle;
      ASSERT_EQ(music->OpenDir(dir, kFsCreate, &handle), rc::kOk);
    }
  });
  if (with_database) WriteMusicFile("var/smalldb", DatabaseBytes(*EmptyDatabase()));
  MakeChannel();
}

void TarnuChannelTest::MakeChannel() {
  channel.reset();
  auto* usb = new SimHardDiskUsb(player, TarnuChannel::kProductId);
  ASSERT_EQ(usb->Open(), rc::kOk);
  channel = std::make_unique<TarnuChannel>(usb, TarnuChannel::kProductId, &g_clock);
}

std::string TarnuChannelTest::ReadMusicFile(const std::string& path, Result* result) {
  std::string content;
  Result opened = rc::kFail;
  WithMusicVolume([&](FileSystem* music) {
    std::unique_ptr<SeekableStream> stream;
    opened = OpenFileSystemStream(music, path, kFsStreamRead, &stream);
    if (rc::Failed(opened)) return;
    char buffer[4096];
    uint32_t got = 0;
    Result read;
    do {
      read = stream->Read(buffer, sizeof buffer, &got);
      content.append(buffer, got);
    } while (read == rc::kOk && got > 0);
  });
  if (result) *result = opened;
  return content;
}

bool TarnuChannelTest::MusicFileExists(const std::string& path) {
  Result result = rc::kFail;
  ReadMusicFile(path, &result);
  return rc::Succeeded(result);
}

void TarnuChannelTest::WriteMusicFile(const std::string& path, const std::string& content) {
  WithMusicVolume([&](FileSystem* music) {
    std::unique_ptr<SeekableStream> stream;
    ASSERT_EQ(OpenFileSystemStream(music, path,
                                   kFsStreamWrite | kFsStreamCreate | kFsStreamReplace, &stream),
              rc::kOk);
    ASSERT_EQ(WriteAll(stream.get(), reinterpret_cast<const uint8_t*>(content.data()),
                       static_cast<uint32_t>(content.size())),
              rc::kOk);
  });
}

std::unique_ptr<ColumnTable> TarnuChannelTest::DatabaseOnDisk() {
  Result result = rc::kFail;
  MemoryStream stream(ReadMusicFile("var/smalldb", &result));
  if (rc::Failed(result)) return nullptr;
  auto table = std::make_unique<ColumnTable>(8, 3);
  if (rc::Failed(table->Load(&stream, true))) return nullptr;
  return table;
}

RefPtr<PropertySet> TarnuChannelTest::Track(uint32_t fid, const std::string& content,
                                            const std::string& title) {
  RefPtr<PropertySet> set;
  PropertySet::Create(&set);
  set->AddNew();
  set->SetInt("fid", static_cast<int32_t>(fid));
  set->SetString("type", "track");
  set->SetString("title", title);
  set->SetString("artist", "The Band");
  set->SetString("codec", "mp3");
  set->SetInt("length", static_cast<int32_t>(content.size()));
  set->SetInt("tracknr", 0);
  return set;
}
