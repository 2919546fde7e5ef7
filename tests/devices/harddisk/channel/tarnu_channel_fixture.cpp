#include "tarnu_channel_fixture.h"

#include "sim/harddisk/player_files.h"
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

template <typename Work>
void TarnuChannelTest::Suspended(Work work) {
  if (channel) channel->Suspend(true);
  work();
  if (channel) {
    ASSERT_EQ(channel->Suspend(false), rc::kOk);
  }
}

void TarnuChannelTest::MakePlayer(uint64_t music_mib, bool with_database) {
  channel.reset();
  player = std::make_shared<SimHardDiskPlayer>(MusicDisk(music_mib) / 512);
  ASSERT_EQ(PreparePlayerDisk(player, with_database), rc::kOk);
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
  Result read = rc::kFail;
  Suspended([&] { read = ReadPlayerFile(player, path, &content); });
  if (result) *result = read;
  return content;
}

bool TarnuChannelTest::MusicFileExists(const std::string& path) {
  Result result = rc::kFail;
  ReadMusicFile(path, &result);
  return rc::Succeeded(result);
}

void TarnuChannelTest::WriteMusicFile(const std::string& path, const std::string& content) {
  Suspended([&] { ASSERT_EQ(WritePlayerFile(player, path, content), rc::kOk); });
}

std::unique_ptr<ColumnTable> TarnuChannelTest::DatabaseOnDisk() {
  std::unique_ptr<ColumnTable> table;
  Suspended([&] { table = PlayerDatabase(player); });
  return table;
}
Result TarnuChannelTest::SendTrack(uint32_t fid, const std::string& content) {
  MemoryStream source(content);
  return channel->SendFile(0, *Track(fid, content), &source, nullptr);
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
