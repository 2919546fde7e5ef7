// A firmware package as the updater reads it: a GNU tar archive, enciphered, deciphered through
// the enciphering stream, recognised, and its tree copied onto the player's system volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "devices/harddisk/device_file_system.h"
#include "devices/harddisk/tar_file_system.h"
#include "devices/harddisk/tea_stream.h"
#include "devices/harddisk/tree_copy.h"
#include "fs/ir_file_system.h"
#include "platform/platform.h"
#include "platform/platform_file_system.h"
#include "sim/harddisk/harddisk_player.h"
#include "support/memory_stream.h"
#include "tar_archives.inc"

namespace {

class NoWaitClock : public Fx2Clock {
 public:
  int64_t NowMicroseconds() override { return now += 1000; }
  void SleepMilliseconds(uint32_t) override {}
  int64_t now = 0;
};

std::string ReadAll(FileSystem* fs, const std::string& path) {
  std::unique_ptr<SeekableStream> stream;
  EXPECT_EQ(OpenFileSystemStream(fs, path, kFsStreamRead, &stream), rc::kOk) << path;
  std::string out;
  char buffer[4096];
  uint32_t got = 0;
  while (stream && stream->Read(buffer, sizeof buffer, &got) == rc::kOk) out.append(buffer, got);
  return out;
}

TEST(FirmwarePackageTest, EncipheredGnuTarReachesTheSystemVolume) {
  const uint32_t key[4] = {0x51E7A001, 0x0C0FFEE0, 0x7A2B3C4D, 0x89ABCDEF};
  const std::string plain(reinterpret_cast<const char*>(kGnuTarImage), kGnuTarImageSize);
  MemoryStream cipher;
  TeaStream encipher(&cipher, key, false);
  uint32_t written = 0;
  ASSERT_EQ(encipher.Write(plain.data(), static_cast<uint32_t>(plain.size()), &written), rc::kOk);
  ASSERT_EQ(written, plain.size());  // tar images are whole 512-byte records
  ASSERT_NE(cipher.Bytes(), plain);

  // Deciphered in pieces, as the updater reads the package.
  ASSERT_EQ(cipher.Seek(0), rc::kOk);
  TeaStream decipher(&cipher, key, true);
  decipher.ResetKey();
  std::string package;
  char piece[3000];
  uint32_t got = 0;
  while (decipher.Read(piece, sizeof piece, &got) == rc::kOk && got > 0) package.append(piece, got);
  ASSERT_EQ(package, plain);
  MemoryStream package_stream(package);
  ASSERT_TRUE(TarFileSystem::IsTarStream(&package_stream));
  MemoryStream still_enciphered(cipher.Bytes());
  EXPECT_FALSE(TarFileSystem::IsTarStream(&still_enciphered));

  std::unique_ptr<FileSystem> tar;
  ASSERT_EQ(TarFileSystem::Create(reinterpret_cast<const uint8_t*>(package.data()),
                                  package.size(), &tar),
            rc::kOk);

  InstallPlatformFileSystem();
  ASSERT_EQ(AcquirePlatformFileSystem(), 0);
  {
    auto player = std::make_shared<SimHardDiskPlayer>((0x5004400 + 32 * 1024 * 1024 + 512) / 512);
    SimHardDiskUsb usb(player);
    ASSERT_EQ(usb.Open(), rc::kOk);
    NoWaitClock clock;
    std::unique_ptr<PlayerDisk> disk;
    ASSERT_EQ(PlayerDisk::Create(&usb, &disk, &clock), rc::kOk);
    ASSERT_EQ(disk->Identify(), rc::kOk);
    ASSERT_EQ(disk->AcquireBus(), rc::kOk);
    ASSERT_EQ(DeviceFileSystem::CheckPartitionLayout(disk.get(), LayoutMode::kFresh), rc::kOk);
    std::unique_ptr<FileSystem> system;
    ASSERT_EQ(DeviceFileSystem::MountPartition(disk.get(), 1, &system), rc::kOk);
    ASSERT_EQ(TreeCopy::Copy(tar.get(), "/", system.get(), "/", nullptr), rc::kOk);
    for (const TarListing& row : kGnuTarListing) {
      if (row.kind != '-') continue;
      const std::string path = std::string(row.path).substr(1);  // "./x" as "/x"
      const std::string copied = ReadAll(system.get(), path);
      EXPECT_EQ(copied.size(), row.size) << path;
      EXPECT_EQ(copied, ReadAll(tar.get(), path)) << path;
    }
    std::unique_ptr<FsDirHandle> dir;
    EXPECT_EQ(system->OpenDir("/empty", kFsRead, &dir), rc::kOk);
    dir.reset();
    ASSERT_EQ(system->Close(), rc::kOk);
    system.reset();
    ASSERT_EQ(disk->ReleaseBus(), rc::kOk);
  }
  DestroyPlatform();
  SetFileSystemProvider(nullptr);
}

}  // namespace
