// A platform with the file-system layer and RAM block devices for OMFS tests, with helpers
// that format, mount, write, read and check a volume through IRFileSystem.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/ir_file_system.h"
#include "fs/omfs/omfs.h"
#include "testlib/test_block_device.h"

struct OmfsShape {
  uint32_t block_size = 4096;
  uint32_t blocks_per_unit = 1;
  uint32_t mirrors = 2;
  uint32_t metablock_size = 512;
  uint64_t blocks = 256;
};

class OmfsFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A zeroed RAM device "OMFS:<number>" of 512-byte sectors that holds the shape's volume at
  // the partition start kStart.
  TestBlockDevice* NewDevice(uint32_t number, const OmfsShape& shape, uint64_t spare_bytes = 0);
  Result Format(TestBlockDevice* device, const OmfsShape& shape, const char* label = "music");
  Result Mount(TestBlockDevice* device, const OmfsShape& shape, uint32_t flags = 0);
  Result Unmount(TestBlockDevice* device);
  // The volume's root path "/dev/OMFS:n@start,length/".
  std::string Root(TestBlockDevice* device, const OmfsShape& shape) const;

  Result WriteWhole(const std::string& path, const std::vector<uint8_t>& data, bool create = true);
  // The whole file; a failure leaves `result` set.
  std::vector<uint8_t> ReadWhole(const std::string& path, Result* result);
  // Debug 101 on the volume's root.
  Result Check(TestBlockDevice* device, const OmfsShape& shape);
  std::vector<std::string> List(const std::string& path);

  static std::vector<uint8_t> Pattern(size_t size, uint32_t seed);

  static constexpr uint64_t kStart = 1024 * 1024;
  IRFileSystem* fs_ = nullptr;
};

// A freshly formatted volume of the default shape, mounted, on the device "OMFS:0".
class MountedOmfsFixture : public OmfsFixture {
 protected:
  void SetUp() override {
    OmfsFixture::SetUp();
    device_ = NewDevice(0, shape_);
    ASSERT_EQ(0, Format(device_, shape_));
    ASSERT_EQ(0, Mount(device_, shape_));
    root_ = Root(device_, shape_);
  }

  OmfsShape shape_;
  TestBlockDevice* device_ = nullptr;
  std::string root_;
};
