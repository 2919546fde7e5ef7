#include <gtest/gtest.h>

#include "fs/ir_file_system.h"
#include "platform/ir_block_device.h"
#include "platform/platform.h"
#include "platform/platform_file_system.h"

namespace {

TEST(PlatformFileSystemTest, AcquireStartsTheFileSystemWithItsWinFsDevice) {
  InstallPlatformFileSystem();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(0, AcquirePlatformFileSystem());
    auto* fs = static_cast<IRFileSystem*>(AcquiredFileSystem());
    ASSERT_NE(nullptr, fs);
    EXPECT_EQ(fs, CurrentPlatform()->GetInterface("IRFileSystem"));
    auto* devices = static_cast<IRBlockDevice*>(CurrentPlatform()->GetInterface("IRBlockDevice"));
    BlockDevice* device = nullptr;
    ASSERT_EQ(0, devices->Open(&device, "WINFS:0"));
    devices->Close(device);
    FsHandle* root = nullptr;
    ASSERT_EQ(0, fs->Open(&root, "/dev", nullptr, 0, nullptr));
    EXPECT_EQ(0, fs->Close(root, nullptr));
    EXPECT_NE(nullptr, fs->manager()->FindType("WinFS"));
    EXPECT_EQ(0, PlatformRelease());
    EXPECT_EQ(nullptr, CurrentPlatform());
  }
  SetFileSystemProvider(nullptr);
}

}  // namespace
