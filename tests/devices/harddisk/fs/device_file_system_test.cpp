#include "devices/harddisk/device_file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "devices/harddisk/harddisk_results.h"
#include "fs/ir_file_system.h"
#include "fs/omfs/omfs.h"
#include "platform/platform.h"
#include "platform/platform_file_system.h"
#include "sim/harddisk/harddisk_player.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// A disk of whole MiB whose music volume holds a little over `mib` MiB. The platform sees one
// sector less than the disk (the disk information counts to the last sector's address), so the
// music partition is rarely whole OMFS blocks.
constexpr uint64_t kMusicDisk(uint64_t mib) { return (mib + 81) * kMiB; }

class NoWaitClock : public Fx2Clock {
 public:
  int64_t NowMicroseconds() override { return now += 1000; }
  void SleepMilliseconds(uint32_t) override {}
  int64_t now = 0;
};

// A platform with its file system and a simulated player whose bus the PC holds.
class DeviceFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallPlatformFileSystem();
    ASSERT_EQ(AcquirePlatformFileSystem(), 0);
    Attach(kMusicDisk(48));
  }
  void TearDown() override {
    disk.reset();
    DestroyPlatform();
    SetFileSystemProvider(nullptr);
  }

  void Attach(uint64_t bytes) {
    player = std::make_shared<SimHardDiskPlayer>(bytes / 512);
    usb = std::make_unique<SimHardDiskUsb>(player);
    ASSERT_EQ(usb->Open(), rc::kOk);
    ASSERT_EQ(PlayerDisk::Create(usb.get(), &disk, &clock), rc::kOk);
    ASSERT_EQ(disk->Identify(), rc::kOk);
    ASSERT_EQ(disk->AcquireBus(), rc::kOk);
  }

  // Size the platform sees: the disk information's figure (the last block's address) in bytes.
  uint64_t SeenSize() const { return (player->block_count() - 1) * 512; }

  std::string ReadAll(FileSystem* fs, const std::string& path) {
    std::unique_ptr<SeekableStream> stream;
    EXPECT_EQ(OpenFileSystemStream(fs, path, kFsStreamRead, &stream), rc::kOk) << path;
    std::string out;
    char buffer[4096];
    uint32_t got = 0;
    while (stream && stream->Read(buffer, sizeof buffer, &got) == rc::kOk) out.append(buffer, got);
    return out;
  }

  Result WriteAll(FileSystem* fs, const std::string& path, const std::string& data,
                  uint32_t flags = kFsStreamWrite | kFsStreamCreate | kFsStreamReplace) {
    std::unique_ptr<SeekableStream> stream;
    Result result = OpenFileSystemStream(fs, path, flags, &stream);
    if (rc::Failed(result)) return result;
    uint32_t done = 0;
    return stream->Write(data.data(), static_cast<uint32_t>(data.size()), &done);
  }

  NoWaitClock clock;
  std::shared_ptr<SimHardDiskPlayer> player;
  std::unique_ptr<SimHardDiskUsb> usb;
  std::unique_ptr<PlayerDisk> disk;
};

TEST_F(DeviceFileSystemTest, FreshLayoutMountsBothVolumesAndKeepsFiles) {
  ASSERT_EQ(DeviceFileSystem::CheckPartitionLayout(disk.get(), LayoutMode::kFresh), rc::kOk);
  // The partition sector as written: entry 2 runs to 16 KiB before the end.
  const std::vector<uint8_t> sector = player->ImageBytes(0, 512);
  EXPECT_EQ(sector[510], 0x55);
  EXPECT_EQ(sector[511], 0xAA);

  std::unique_ptr<FileSystem> music;
  ASSERT_EQ(DeviceFileSystem::MountPartition(disk.get(), 2, &music), rc::kOk);
  std::unique_ptr<FsDirHandle> dir;
  ASSERT_EQ(music->OpenDir("/fids0", kFsCreate, &dir), rc::kOk);
  dir.reset();
  const std::string track(300000, 'T');
  ASSERT_EQ(WriteAll(music.get(), "/fids0/newfid", track + "stale tail"), rc::kOk);
  ASSERT_EQ(WriteAll(music.get(), "/fids0/newfid", track), rc::kOk);  // replaced, not overlaid
  ASSERT_EQ(music->Rename("/fids0/_00110", "/fids0/newfid"), rc::kOk);
  EXPECT_EQ(ReadAll(music.get(), "/fids0/_00110"), track);

  std::unique_ptr<FsFileHandle> file;
  EXPECT_EQ(music->OpenFile("/fids0", kFsRead, &file), rc::kWrongNodeKind);
  EXPECT_EQ(music->OpenDir("/fids0/_00110", kFsRead, &dir), rc::kWrongNodeKind);
  FsSpace space;
  ASSERT_EQ(music->GetSpace(&space), rc::kOk);
  EXPECT_GT(space.free_blocks, 0u);
  EXPECT_LT(space.free_blocks, space.total_blocks);
  ASSERT_EQ(music->Close(), rc::kOk);

  std::unique_ptr<FileSystem> both;
  ASSERT_EQ(DeviceFileSystem::MountPartition(disk.get(), 2, &both), rc::kOk);
  EXPECT_EQ(ReadAll(both.get(), "fids0/_00110"), track);
}

TEST_F(DeviceFileSystemTest, LayoutOfASmallerDiskIsRepairedAndOthersAreRefused) {
  ASSERT_EQ(DeviceFileSystem::CheckPartitionLayout(disk.get(), LayoutMode::kFresh), rc::kOk);
  std::unique_ptr<FileSystem> music;
  ASSERT_EQ(DeviceFileSystem::MountPartition(disk.get(), 2, &music), rc::kOk);
  ASSERT_EQ(WriteAll(music.get(), "/keep", "kept"), rc::kOk);
  ASSERT_EQ(music->Close(), rc::kOk);
  music.reset();

  // The same image on a disk 8 MiB larger.
  auto old_player = player;
  disk.reset();
  usb.reset();
  Attach(kMusicDisk(56));
  for (uint64_t block = 0; block < old_player->block_count(); ++block) {
    uint8_t sector[512];
    old_player->ReadImage(block, sector);
    if (std::any_of(sector, sector + 512, [](uint8_t b) { return b != 0; }))
      player->WriteImage(block, sector);
  }
  ASSERT_EQ(DeviceFileSystem::CheckPartitionLayout(disk.get(), LayoutMode::kFormatSystem),
            rc::kOk);
  ASSERT_EQ(DeviceFileSystem::MountPartition(disk.get(), 2, &music), rc::kOk);
  EXPECT_EQ(ReadAll(music.get(), "keep"), "kept");
  ASSERT_EQ(music->Close(), rc::kOk);
  music.reset();

  // A failed resize is an I/O failure, not a layout mismatch (after which a caller would
  // re-partition and format).
  {
    auto grown = player;
    disk.reset();
    usb.reset();
    Attach(kMusicDisk(64));
    for (uint64_t block = 0; block < grown->block_count(); ++block) {
      uint8_t bytes[512];
      grown->ReadImage(block, bytes);
      if (std::any_of(bytes, bytes + 512, [](uint8_t b) { return b != 0; }))
        player->WriteImage(block, bytes);
    }
    player->fail_all_writes = true;
    const Result result =
        DeviceFileSystem::CheckPartitionLayout(disk.get(), LayoutMode::kFormatSystem);
    EXPECT_TRUE(rc::Failed(result));
    EXPECT_NE(result, rc::kPartitionLayoutMismatch);
    player->fail_all_writes = false;
  }

  // An entry moved: refused, nothing formatted.
  std::vector<uint8_t> sector = player->ImageBytes(0, 512);
  sector[446 + 16 + 8] ^= 0x10;  // entry 1's start
  player->WriteImage(0, sector.data());
  const uint64_t written = player->sectors_written;
  EXPECT_EQ(DeviceFileSystem::CheckPartitionLayout(disk.get(), LayoutMode::kFormatMusic),
            rc::kPartitionLayoutMismatch);
  EXPECT_EQ(player->sectors_written, written);
}

// The volume check reports its progress through a typed object, or to nobody.
TEST_F(DeviceFileSystemTest, TheVolumeCheckReportsToItsProgressOrToNone) {
  struct Recording : OmfsProgress {
    void Progress(uint64_t done, uint64_t total) override {
      ++calls;
      last_done = done;
      last_total = total;
    }
    int calls = 0;
    uint64_t last_done = 0, last_total = 0;
  } progress;
  ASSERT_EQ(DeviceFileSystem::CheckPartitionLayout(disk.get(), LayoutMode::kFresh), rc::kOk);
  std::unique_ptr<FileSystem> music;
  ASSERT_EQ(DeviceFileSystem::MountPartition(disk.get(), 2, &music), rc::kOk);
  ASSERT_EQ(WriteAll(music.get(), "/file", std::string(100000, 'f')), rc::kOk);
  EXPECT_EQ(music->Control(nullptr), rc::kOk);
  EXPECT_EQ(music->Control(&progress), rc::kOk);
  EXPECT_GT(progress.calls, 1);
  EXPECT_GT(progress.last_total, 0u);
  EXPECT_EQ(progress.last_done, progress.last_total);
  EXPECT_EQ(ReadAll(music.get(), "/file"), std::string(100000, 'f'));
}

// One disk size in every step of a sector over an OMFS block (8 KiB): partition 2 is whole
// blocks for one of them only.
class DiskSizeTest : public DeviceFileSystemTest,
                     public ::testing::WithParamInterface<uint64_t> {};

TEST_P(DiskSizeTest, FreshLayoutMountsBothVolumesAndReadsFilesBackAfterRemount) {
  disk.reset();
  usb.reset();
  Attach(GetParam() * 512);
  ASSERT_EQ(DeviceFileSystem::CheckPartitionLayout(disk.get(), LayoutMode::kFresh), rc::kOk);
  const std::string content = "written on a disk of " + std::to_string(GetParam()) + " sectors";
  for (int partition : {1, 2}) {
    std::unique_ptr<FileSystem> volume;
    ASSERT_EQ(DeviceFileSystem::MountPartition(disk.get(), partition, &volume), rc::kOk)
        << "partition " << partition;
    ASSERT_EQ(WriteAll(volume.get(), "/file", content), rc::kOk);
    ASSERT_EQ(volume->Close(), rc::kOk);
  }
  for (int partition : {1, 2}) {
    std::unique_ptr<FileSystem> volume;
    ASSERT_EQ(DeviceFileSystem::MountPartition(disk.get(), partition, &volume), rc::kOk)
        << "partition " << partition << " again";
    EXPECT_EQ(ReadAll(volume.get(), "/file"), content);
  }
}

INSTANTIATE_TEST_SUITE_P(SixteenConsecutiveSizes, DiskSizeTest,
                         ::testing::Range<uint64_t>(262179, 262195));

}  // namespace
