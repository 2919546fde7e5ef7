#include <gtest/gtest.h>

#include <algorithm>

#include "omfs_fixture.h"

namespace {

using OmfsFilesTest = MountedOmfsFixture;

TEST_F(OmfsFilesTest, WrittenFilesReadBackAfterRemount) {
  std::vector<uint8_t> small = Pattern(10, 1), large = Pattern(300000, 2);
  ASSERT_EQ(0, WriteWhole(root_ + "small", small));
  FsHandle* dir = nullptr;
  ASSERT_EQ(0, fs_->CreateDir(&dir, (root_ + "albums").c_str(), nullptr, 0, nullptr));
  fs_->Close(dir, nullptr);
  ASSERT_EQ(0, WriteWhole(root_ + "albums/large", large));
  ASSERT_EQ(0, Unmount(device_));
  ASSERT_EQ(0, Mount(device_, shape_));
  Result result = 0;
  EXPECT_EQ(small, ReadWhole(root_ + "small", &result));
  EXPECT_EQ(0, result);
  EXPECT_EQ(large, ReadWhole(root_ + "albums/large", &result));
  EXPECT_EQ(0, result);
  EXPECT_EQ(0, Check(device_, shape_));
}

}  // namespace
