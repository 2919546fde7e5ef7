// The bytes that Format writes, against the structures that an oracle packs from the format's
// description with Python's struct and binascii.crc_hqx.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/omfs/omfs_layout.h"
#include "omfs_fixture.h"

namespace {

struct OmfsLayoutCase {
  uint32_t block_size, metablock_size, mirrors, blocks_per_unit;
  uint64_t blocks;
  const char* label;
  const char* text;
  const char* anchor;       // 288 bytes
  const char* super_block;  // 336 bytes
  const char* root;         // one metablock
  uint64_t bitmap_block;
  const char* bitmap;       // its first 16 bytes
};

#include "omfs_layout_cases.inc"

class OmfsLayoutTest : public OmfsFixture {};

std::string Bytes(const std::vector<uint8_t>& image, uint64_t offset, size_t length) {
  return std::string(reinterpret_cast<const char*>(image.data() + offset), length);
}

TEST_F(OmfsLayoutTest, FormatWritesTheStructuresOfTheDescription) {
  uint32_t number = 0;
  for (const OmfsLayoutCase& c : kOmfsLayoutCases) {
    SCOPED_TRACE(c.block_size);
    OmfsShape shape;
    shape.block_size = c.block_size;
    shape.metablock_size = c.metablock_size;
    shape.mirrors = c.mirrors;
    shape.blocks_per_unit = c.blocks_per_unit;
    shape.blocks = c.blocks;
    TestBlockDevice* device = NewDevice(number++, shape);
    OmfsFormatParameters parameters = {uint64_t{c.blocks_per_unit} * c.block_size, c.mirrors,
                                       c.metablock_size};
    char name[16];
    snprintf(name, sizeof name, "OMFS:%u", device->Number());
    ASSERT_EQ(0, fs_->Format(c.block_size, name, "omfs", kStart, c.blocks * c.block_size,
                             &parameters, sizeof parameters, c.label, c.text));
    const std::vector<uint8_t> image = device->Image();
    EXPECT_EQ(std::string(c.anchor, 288), Bytes(image, kStart, 288));
    for (uint32_t copy = 0; copy < c.mirrors; ++copy) {
      EXPECT_EQ(std::string(c.super_block, 336),
                Bytes(image, kStart + (1 + copy) * uint64_t{c.block_size}, 336))
          << "super block copy " << copy;
      EXPECT_EQ(std::string(c.root, c.metablock_size),
                Bytes(image, kStart + (1 + c.mirrors + copy) * uint64_t{c.block_size},
                      c.metablock_size))
          << "root copy " << copy;
    }
    EXPECT_EQ(std::string(c.bitmap, 16),
              Bytes(image, kStart + c.bitmap_block * c.block_size, 16));
    // And the volume mounts and describes itself.
    ASSERT_EQ(0, Mount(device, shape));
    char label[257] = {};
    OmfsFormatParameters described = {};
    uint64_t length = 0;
    char type[16] = {};
    uint32_t size = 0;
    EXPECT_EQ(0, Unmount(device));
    EXPECT_EQ(0, fs_->ReadFormat(name, kStart, &length, type, sizeof type, label, &described,
                                 &size));
    EXPECT_EQ(c.blocks * c.block_size, length) << "a length of 0 is taken from the anchor";
    EXPECT_STREQ("OMFS", type);
    EXPECT_EQ(std::string(c.label).substr(0, 256), label);
    EXPECT_EQ(parameters.unit_bytes, described.unit_bytes);
    EXPECT_EQ(16u, size);
  }
}

TEST(OmfsCrcTest, MatchesTheXmodemCheckValue) {
  EXPECT_EQ(kCrcOfDigits, omfs::Crc16(reinterpret_cast<const uint8_t*>("123456789"), 9));
  EXPECT_EQ(0, omfs::Crc16(nullptr, 0));
}

TEST(OmfsNameHashTest, FoldsCase) {
  EXPECT_EQ(omfs::NameHash("Track", 5), omfs::NameHash("track", 5));
  EXPECT_NE(omfs::NameHash("Track1", 6), omfs::NameHash("Track2", 6));
}

}  // namespace
