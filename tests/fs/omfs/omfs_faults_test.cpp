// Values from the disk that must not be trusted, and the mended faults of growth, bitmap
// rebuilds, the check, Pop, unwritten bytes, renames and the reformatting mount.
#include <gtest/gtest.h>

#include <cstring>

#include "fs/omfs/omfs_layout.h"
#include "omfs_fixture.h"

namespace {

using namespace omfs;
constexpr Result kBad = static_cast<Result>(0x80820001);
constexpr Result kCorrupt = static_cast<Result>(0x80820013);
// What Mount reports when the only type that could take a device found it damaged.
constexpr Result kDeclined = static_cast<Result>(0x80820011);

class OmfsFaultsTest : public OmfsFixture {
 protected:
  void Start(const OmfsShape& shape, uint64_t spare = 0) {
    shape_ = shape;
    device_ = NewDevice(0, shape_, spare);
    ASSERT_EQ(0, Format(device_, shape_));
    ASSERT_EQ(0, Mount(device_, shape_));
    root_ = Root(device_, shape_);
  }
  uint64_t BlockOffset(uint64_t block) const { return kStart + block * shape_.block_size; }
  std::vector<uint8_t> Metablock(uint64_t block) {
    std::vector<uint8_t> image = device_->Image();
    return std::vector<uint8_t>(image.begin() + BlockOffset(block),
                                image.begin() + BlockOffset(block) + shape_.metablock_size);
  }
  // Changes a metablock and seals it again, in every mirror copy.
  void Reseal(uint64_t block, const std::function<void(uint8_t*)>& change) {
    std::vector<uint8_t> data = Metablock(block);
    change(data.data());
    const uint32_t length = Get32(&data[kHeaderCrcLength]);
    data[19] = 0;
    bytes::PutBe16(&data[kHeaderCrc], Crc16(&data[kHeaderBytes], length));
    uint8_t x = 0;
    for (int i = 0; i < 24; ++i) x ^= data[i];
    data[19] = x;
    for (uint32_t copy = 0; copy < shape_.mirrors; ++copy)
      device_->Poke(BlockOffset(block + copy), data.data(), data.size());
  }
  uint64_t NodeOf(const std::string& path) {
    FsHandle* handle = nullptr;
    EXPECT_EQ(0, fs_->Open(&handle, (root_ + path).c_str(), nullptr, 0, nullptr));
    uint64_t identity[2] = {};
    fs_->GetAttr(handle, 7, identity, sizeof identity, nullptr);
    fs_->Close(handle, nullptr);
    return identity[0];
  }
  uint64_t BlocksHeld(const std::string& path) {
    FsHandle* handle = nullptr;
    EXPECT_EQ(0, fs_->Open(&handle, (root_ + path).c_str(), nullptr, 0, nullptr));
    uint64_t bytes = 0;
    fs_->GetAttr(handle, 5, &bytes, 8, nullptr);
    fs_->Close(handle, nullptr);
    return bytes / shape_.block_size;
  }
  uint64_t SuperField(uint32_t offset) { return Get64(&Metablock(1)[offset]); }

  OmfsShape shape_;
  TestBlockDevice* device_ = nullptr;
  std::string root_;
};

TEST_F(OmfsFaultsTest, SizesFromTheAnchorAndSuperBlockAreChecked) {
  Start(OmfsShape());
  ASSERT_EQ(0, Unmount(device_));
  std::vector<uint8_t> image = device_->Image();
  uint8_t anchor[288];
  memcpy(anchor, &image[kStart], sizeof anchor);
  struct Case {
    uint32_t offset, value;
    Result expected;
  } cases[] = {
      {kAnchorMetablockSize, 256, kBad},  // below a node header and one extent
      {kAnchorMetablockSize, 3000, kBad}, // does not divide the block size
      {kAnchorBlockSize, 0, kBad},
      {kAnchorMirrors, 9, kDeclined},
      {kAnchorMirrors, 0x7FFFFFFF, kDeclined},
      {kAnchorMagic, 0x12345678, kDeclined},
  };
  for (const Case& c : cases) {
    uint8_t changed[288];
    memcpy(changed, anchor, sizeof changed);
    Put32(changed + c.offset, c.value);
    device_->Poke(kStart, changed, sizeof changed);
    EXPECT_EQ(c.expected, Mount(device_, shape_)) << c.offset << " = " << c.value;
  }
  device_->Poke(kStart, anchor, sizeof anchor);
  // Units of 3 blocks, and a bitmap beyond the end of the volume.
  Reseal(1, [](uint8_t* super) { Put32(super + kSuperBlocksPerUnit, 3); });
  EXPECT_EQ(kDeclined, Mount(device_, shape_));
  Reseal(1, [](uint8_t* super) { Put32(super + kSuperBlocksPerUnit, 1); });
  const uint64_t bitmap = SuperField(kSuperBitmap);
  Reseal(1, [&](uint8_t* super) { Put64(super + kSuperBitmap, shape_.blocks); });
  EXPECT_EQ(kDeclined, Mount(device_, shape_));
  Reseal(1, [&](uint8_t* super) { Put64(super + kSuperBitmap, bitmap); });
  EXPECT_EQ(0, Mount(device_, shape_));
}

// An anchor and a super block that disagree only on the volume size, as a cut resize leaves
// them, mount with the super block's size, and only when it is a size the device holds; any
// other difference is damage.
TEST_F(OmfsFaultsTest, ASuperBlockBehindTheAnchorOnlyInSizeGivesTheSize) {
  Start(OmfsShape());
  ASSERT_EQ(0, Unmount(device_));
  const uint64_t blocks = shape_.blocks;
  const uint32_t mirrors = shape_.mirrors;
  const struct {
    const char* what;
    uint64_t super_blocks;
    uint32_t super_mirrors;
    Result with_super_size, with_anchor_size;
  } cases[] = {
      {"a smaller size", blocks - 10, mirrors, 0, kBad},
      {"a size beyond the device", blocks + 1000, mirrors, kBad, kDeclined},
      {"no size", 0, mirrors, kBad, kDeclined},
      {"another mirror count too", blocks - 10, mirrors + 1, kBad, kDeclined},
  };
  char device[32];
  snprintf(device, sizeof device, "OMFS:%u", device_->Number());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reseal(1, [&](uint8_t* super) {
      Put64(super + kSuperVolumeBlocks, c.super_blocks);
      Put32(super + kSuperMirrors, c.super_mirrors);
    });
    const Result with_super =
        fs_->Mount(device, kStart, c.super_blocks * shape_.block_size, 0, nullptr, 0);
    EXPECT_EQ(c.with_super_size, with_super);
    if (with_super == 0) {
      OmfsShape smaller = shape_;
      smaller.blocks = c.super_blocks;
      EXPECT_EQ(0, Check(device_, smaller));
      EXPECT_EQ(0, Unmount(device_));
    }
    EXPECT_EQ(c.with_anchor_size, fs_->Mount(device, kStart, blocks * shape_.block_size, 0,
                                             nullptr, 0));
  }
}

// Format counts the whole blocks of the partition; the rest of a last block is no part of
// the volume, and the volume mounts with the partition's own length.
TEST_F(OmfsFaultsTest, APartitionMountsWhenItsWholeBlocksAreTheVolume) {
  OmfsShape shape;
  Start(shape, 2 * shape.block_size);
  ASSERT_EQ(0, WriteWhole(root_ + "kept", Pattern(6000, 1)));
  ASSERT_EQ(0, Unmount(device_));
  const uint64_t volume = shape.blocks * shape.block_size;
  const struct {
    uint64_t length;
    Result expected;
  } cases[] = {
      {volume, 0},
      {volume + 512, 0},
      {volume + shape.block_size - 512, 0},
      {volume + shape.block_size, kBad},
      {volume - 512, kBad},
  };
  char device[32];
  snprintf(device, sizeof device, "OMFS:%u", device_->Number());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    ASSERT_EQ(c.expected, fs_->Mount(device, kStart, c.length, 0, nullptr, 0));
    if (c.expected != 0) continue;
    char name[96];
    FsFormatVolumeName(name, sizeof name, device, kStart, c.length);
    const std::string root = std::string("/dev/") + name + "/";
    Result result = 0;
    EXPECT_EQ(Pattern(6000, 1), ReadWhole(root + "kept", &result));
    EXPECT_EQ(0, WriteWhole(root + "more", Pattern(100, 2)));
    EXPECT_EQ(0, fs_->Remove((root + "more").c_str(), nullptr, nullptr));
    EXPECT_EQ(0, fs_->Unmount(device, kStart, c.length));
  }
}

TEST_F(OmfsFaultsTest, FormatRefusesBadShapes) {
  OmfsShape shape;
  TestBlockDevice* device = NewDevice(0, shape);
  struct Case {
    uint32_t block_size, per_unit, mirrors, metablock_size;
  } cases[] = {{4096, 1, 2, 256}, {4096, 3, 2, 512}, {4096, 64, 2, 512},
               {4096, 1, 9, 512}, {4096, 1, 0, 512}, {512, 1, 1, 512}, {4096, 1, 2, 3000}};
  for (const Case& c : cases) {
    OmfsShape bad = shape;
    bad.block_size = c.block_size;
    bad.blocks_per_unit = c.per_unit;
    bad.mirrors = c.mirrors;
    bad.metablock_size = c.metablock_size;
    bad.blocks = shape.blocks * shape.block_size / c.block_size;
    EXPECT_EQ(kBad, Format(device, bad)) << c.block_size << " " << c.per_unit << " "
                                         << c.mirrors << " " << c.metablock_size;
  }
}

TEST_F(OmfsFaultsTest, ExtentCountsBeyondTheirCapacityAreDamage) {
  Start(OmfsShape());
  ASSERT_EQ(0, WriteWhole(root_ + "f", Pattern(10000, 1)));
  const uint64_t node = NodeOf("f");
  ASSERT_EQ(0, Unmount(device_));
  Reseal(node, [](uint8_t* data) { Put32(data + kNodeList + kListCount, 1000); });
  ASSERT_EQ(0, Mount(device_, shape_));
  Result result = 0;
  ReadWhole(root_ + "f", &result);
  EXPECT_EQ(kCorrupt, result);
  EXPECT_EQ(kCorrupt, Check(device_, shape_));
  ASSERT_EQ(0, Unmount(device_));
  Reseal(node, [](uint8_t* data) {
    Put32(data + kNodeList + kListCount, 2);
    Put32(data + kNodeList + kListCapacity, 500);  // more than the metablock holds
  });
  ASSERT_EQ(0, Mount(device_, shape_));
  ReadWhole(root_ + "f", &result);
  EXPECT_EQ(kCorrupt, result);
}

TEST_F(OmfsFaultsTest, GrowingWritesABitmapOfTheNewSizeFirst) {
  OmfsShape shape;
  shape.block_size = 1024;
  shape.metablock_size = 1024;
  shape.blocks = 1024;
  const uint64_t grown = 16384;  // its bitmap needs three blocks instead of one
  Start(shape, (grown - shape.blocks) * shape.block_size);
  std::vector<uint8_t> kept = Pattern(200000, 4);
  ASSERT_EQ(0, WriteWhole(root_ + "kept", kept));
  ASSERT_EQ(0, Unmount(device_));
  ASSERT_EQ(0, fs_->Resize("OMFS:0", kStart, grown * shape.block_size));
  shape_.blocks = grown;
  ASSERT_EQ(0, Mount(device_, shape_));
  root_ = Root(device_, shape_);
  Result result = 0;
  EXPECT_EQ(kept, ReadWhole(root_ + "kept", &result));
  EXPECT_EQ(0, Check(device_, shape_));
  // The grown space is usable and writing it harms nothing.
  std::vector<uint8_t> big = Pattern(12 * 1024 * 1024, 5);
  ASSERT_EQ(0, WriteWhole(root_ + "big", big));
  ASSERT_EQ(0, Unmount(device_));
  ASSERT_EQ(0, Mount(device_, shape_));
  EXPECT_EQ(kept, ReadWhole(root_ + "kept", &result));
  EXPECT_EQ(big, ReadWhole(root_ + "big", &result));
  EXPECT_EQ(0, Check(device_, shape_));
}

TEST_F(OmfsFaultsTest, ShrinkingRefusesBlocksInUseAndKeepsTheVolume) {
  OmfsShape shape;
  shape.blocks = 512;
  Start(shape);
  ASSERT_EQ(0, WriteWhole(root_ + "f", Pattern(300 * 4096, 6)));
  ASSERT_EQ(0, Unmount(device_));
  EXPECT_EQ(static_cast<Result>(0x8082002A), fs_->Resize("OMFS:0", kStart, 100 * 4096));
  ASSERT_EQ(0, Mount(device_, shape_));
  ASSERT_EQ(0, fs_->Remove((root_ + "f").c_str(), nullptr, nullptr));
  ASSERT_EQ(0, Unmount(device_));
  ASSERT_EQ(0, fs_->Resize("OMFS:0", kStart, 100 * 4096));
  shape_.blocks = 100;
  ASSERT_EQ(0, Mount(device_, shape_));
  root_ = Root(device_, shape_);
  EXPECT_EQ(0, Check(device_, shape_));
}

TEST_F(OmfsFaultsTest, TheCheckKeepsFixedBlocksAndMarksBlocksInUse) {
  OmfsShape shape;
  shape.blocks = 64;
  Start(shape);
  std::vector<uint8_t> first = Pattern(20 * 4096, 7);
  ASSERT_EQ(0, WriteWhole(root_ + "first", first));
  const uint64_t bitmap = SuperField(kSuperBitmap);
  ASSERT_EQ(0, Unmount(device_));
  // The stored bitmap loses the file's blocks.
  std::vector<uint8_t> bits(16, 0);
  bits[0] = 0x7F;  // anchor, super copies, root copies, bitmap
  device_->Poke(BlockOffset(bitmap), bits.data(), bits.size());
  ASSERT_EQ(0, Mount(device_, shape_));
  EXPECT_EQ(0, Check(device_, shape_));
  // Filling the volume must neither overwrite the first file nor the fixed structures.
  Result filled = 0;
  for (int i = 0; filled == 0 && i < 20; ++i)
    filled = WriteWhole(root_ + "fill" + std::to_string(i), Pattern(4 * 4096, 8 + i));
  ASSERT_EQ(0, Unmount(device_));
  ASSERT_EQ(0, Mount(device_, shape_));
  Result result = 0;
  EXPECT_EQ(first, ReadWhole(root_ + "first", &result));
  EXPECT_EQ(0, Check(device_, shape_));
}

TEST_F(OmfsFaultsTest, PopFreesToTheEndOfTheFileAndOnlyWholeUnits) {
  OmfsShape shape;
  shape.blocks_per_unit = 4;
  Start(shape);
  FsHandle* handle = nullptr;
  ASSERT_EQ(0, fs_->CreateFile(&handle, (root_ + "f").c_str(), nullptr, 3, nullptr));
  ASSERT_EQ(0, fs_->Pop(handle, 5000, 0, 1, ~uint64_t{0}, 0, 1, nullptr));
  fs_->Close(handle, nullptr);
  EXPECT_EQ(5u, BlocksHeld("f")) << "one whole unit and the node";
  ASSERT_EQ(0, fs_->Open(&handle, (root_ + "f").c_str(), nullptr, 3, nullptr));
  ASSERT_EQ(0, fs_->Pop(handle, 5000, 0, 1, ~uint64_t{0}, 0, 0, nullptr));
  EXPECT_EQ(5u, BlocksHeld("f")) << "nothing wholly inside";
  ASSERT_EQ(0, fs_->Pop(handle, 0, 0, 16384, ~uint64_t{0}, 0, 0, nullptr));
  EXPECT_EQ(1u, BlocksHeld("f"));
  std::vector<uint8_t> data = Pattern(40000, 9);
  uint32_t count = 0;
  ASSERT_EQ(0, fs_->WriteFile(handle, data.data(), 40000, &count, nullptr));
  EXPECT_EQ(13u, BlocksHeld("f"));
  // The short form (to the end of the file) from the second unit on.
  ASSERT_EQ(0, fs_->Pop(handle, 16384, 0, nullptr));
  EXPECT_EQ(5u, BlocksHeld("f"));
  fs_->Close(handle, nullptr);
  EXPECT_EQ(0, Check(device_, shape_));
}

TEST_F(OmfsFaultsTest, BytesNeverWrittenReadAsZeros) {
  OmfsShape shape;
  shape.blocks_per_unit = 4;
  shape.blocks = 64;
  Start(shape);
  // A removed file leaves its bytes in the blocks the next file gets.
  ASSERT_EQ(0, WriteWhole(root_ + "old", std::vector<uint8_t>(40 * 4096, 0xEE)));
  ASSERT_EQ(0, fs_->Remove((root_ + "old").c_str(), nullptr, nullptr));
  FsHandle* handle = nullptr;
  ASSERT_EQ(0, fs_->CreateFile(&handle, (root_ + "new").c_str(), nullptr, 3, nullptr));
  uint32_t count = 0;
  ASSERT_EQ(0, fs_->WriteFile(handle, "abc", 3, &count, nullptr));
  // Preallocated, then the size raised over it.
  ASSERT_EQ(0, fs_->Pop(handle, 0, 0, 8 * 4096, ~uint64_t{0}, 0, 1, nullptr));
  uint64_t size = 6 * 4096;
  ASSERT_EQ(0, fs_->SetAttr(handle, 2, &size, 8, nullptr, 0, nullptr));
  // A write inside a hole below the size: the rest of its unit reads as zeros.
  size = 30 * 4096;
  ASSERT_EQ(0, fs_->SetAttr(handle, 2, &size, 8, nullptr, 0, nullptr));
  ASSERT_EQ(0, fs_->Seek(handle, 20 * 4096 + 100, 0, nullptr));
  ASSERT_EQ(0, fs_->WriteFile(handle, "xyz", 3, &count, nullptr));
  fs_->Close(handle, nullptr);
  Result result = 0;
  std::vector<uint8_t> data = ReadWhole(root_ + "new", &result);
  ASSERT_EQ(30u * 4096, data.size());
  std::vector<uint8_t> expected(30 * 4096, 0);
  memcpy(expected.data(), "abc", 3);
  memcpy(expected.data() + 20 * 4096 + 100, "xyz", 3);
  EXPECT_TRUE(data == expected) << "stale bytes of a removed file came back";
}

TEST_F(OmfsFaultsTest, ADirectoryCannotMoveBelowItself) {
  Start(OmfsShape());
  FsHandle* handle = nullptr;
  ASSERT_EQ(0, fs_->CreateDir(&handle, (root_ + "a").c_str(), nullptr, 0, nullptr));
  fs_->Close(handle, nullptr);
  ASSERT_EQ(0, fs_->CreateDir(&handle, (root_ + "a/b").c_str(), nullptr, 0, nullptr));
  fs_->Close(handle, nullptr);
  EXPECT_EQ(static_cast<Result>(0x8082000D),
            fs_->Rename((root_ + "a").c_str(), nullptr, (root_ + "a/b/c").c_str(), nullptr, nullptr));
  EXPECT_EQ(static_cast<Result>(0x8082000D),
            fs_->Rename((root_ + "a").c_str(), nullptr, (root_ + "a/c").c_str(), nullptr, nullptr));
  EXPECT_EQ(std::vector<std::string>{"a"}, List(root_));
  EXPECT_EQ(std::vector<std::string>{"b"}, List(root_ + "a"));
  EXPECT_EQ(0, fs_->Rename((root_ + "a/b").c_str(), nullptr, (root_ + "b2").c_str(), nullptr,
                           nullptr));
  EXPECT_EQ(0, Check(device_, shape_));
  FsHandle* inner = nullptr;
  ASSERT_EQ(0, fs_->CreateDir(&inner, (root_ + "a/c").c_str(), nullptr, 0, nullptr));
  fs_->Close(inner, nullptr);
  EXPECT_EQ(static_cast<Result>(0x8082001F), fs_->Remove((root_ + "a").c_str(), nullptr, nullptr));
}

TEST_F(OmfsFaultsTest, ReformatOnlyWhenTheVolumeIsDamaged) {
  Start(OmfsShape());
  std::vector<uint8_t> kept = Pattern(5000, 10);
  ASSERT_EQ(0, WriteWhole(root_ + "kept", kept));
  const uint64_t bitmap = SuperField(kSuperBitmap);
  ASSERT_EQ(0, Unmount(device_));
  // A read error on the bitmap is no damage: nothing is reformatted.
  device_->FailRead((BlockOffset(bitmap)) / 512, TestBlockDevice::Fault::kOnce);
  EXPECT_NE(0, Mount(device_, shape_, 2));
  ASSERT_EQ(0, Mount(device_, shape_, 2));
  Result result = 0;
  EXPECT_EQ(kept, ReadWhole(root_ + "kept", &result));
  // Mounted already: no reformat either.
  EXPECT_EQ(static_cast<Result>(0x8082001B), Mount(device_, shape_, 2));
  EXPECT_EQ(kept, ReadWhole(root_ + "kept", &result));
  ASSERT_EQ(0, Unmount(device_));
  // A bitmap outside the volume is damage: the volume is made empty again.
  Reseal(1, [&](uint8_t* super) { Put64(super + kSuperBitmap, shape_.blocks + 5); });
  EXPECT_EQ(kDeclined, Mount(device_, shape_, 0));
  ASSERT_EQ(0, Mount(device_, shape_, 2));
  EXPECT_EQ(std::vector<std::string>{}, List(root_));
  EXPECT_EQ(0, Check(device_, shape_));
}

TEST_F(OmfsFaultsTest, ADamagedFirstCopyIsReadFromTheMirrorAndRepaired) {
  Start(OmfsShape());
  ASSERT_EQ(0, WriteWhole(root_ + "f", Pattern(100, 11)));
  const uint64_t node = NodeOf("f");
  ASSERT_EQ(0, Unmount(device_));
  std::vector<uint8_t> good = Metablock(node);
  uint8_t flipped = good[200] ^ 0x40;
  device_->Poke(BlockOffset(node) + 200, &flipped, 1);
  ASSERT_EQ(0, Mount(device_, shape_));
  Result result = 0;
  EXPECT_EQ(Pattern(100, 11), ReadWhole(root_ + "f", &result));
  EXPECT_EQ(good, Metablock(node)) << "copy 0 is written again";
}

TEST_F(OmfsFaultsTest, NamesAreCutTo256AndFoldCase) {
  Start(OmfsShape());
  const std::string long_name(300, 'n');
  ASSERT_EQ(0, WriteWhole(root_ + long_name, Pattern(10, 12)));
  EXPECT_EQ(std::vector<std::string>{long_name.substr(0, 256)}, List(root_));
  ASSERT_EQ(0, WriteWhole(root_ + "Track", Pattern(10, 13)));
  Result result = 0;
  EXPECT_EQ(Pattern(10, 13), ReadWhole(root_ + "track", &result));
  FsHandle* handle = nullptr;
  EXPECT_EQ(static_cast<Result>(0x80820005),
            fs_->Open(&handle, (root_ + "track").c_str(), nullptr, 0x201, nullptr));
  ASSERT_EQ(0, WriteWhole(root_ + "track", Pattern(10, 14)));
  EXPECT_EQ(Pattern(10, 14), ReadWhole(root_ + "track", &result)) << "the exact spelling wins";
  EXPECT_EQ(Pattern(10, 13), ReadWhole(root_ + "Track", &result));
}

// The stored bitmap has no checksum. One cleared bit over a fixed block must not let a write
// take that block: the volume still mounts, keeps its files and passes the check.
TEST_F(OmfsFaultsTest, AClearedBitOverAFixedBlockIsMarkedAgainAtMount) {
  OmfsShape player;  // the players' shape: units of 8 blocks, metablocks of 2 KiB
  player.block_size = 8192;
  player.blocks_per_unit = 8;
  player.metablock_size = 2048;
  player.blocks = 512;
  OmfsShape one_mirror;  // new nodes are then looked for from block 0 on
  one_mirror.mirrors = 1;
  uint32_t number = 0;
  for (const OmfsShape& shape : {OmfsShape(), one_mirror, player}) {
    const uint64_t root = shape.mirrors + 1;
    struct Case {
      const char* what;
      uint64_t block;  // the bitmap's first block when ~0
    } cases[] = {{"anchor", 0}, {"super block", 1}, {"super block mirror", shape.mirrors},
                 {"root", root}, {"root mirror", root + shape.mirrors - 1}, {"bitmap", ~0ull}};
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", blocks of " + std::to_string(shape.block_size) +
                   ", mirrors " + std::to_string(shape.mirrors));
      shape_ = shape;
      device_ = NewDevice(number++, shape_);
      ASSERT_EQ(0, Format(device_, shape_));
      ASSERT_EQ(0, Mount(device_, shape_));
      root_ = Root(device_, shape_);
      const std::vector<uint8_t> kept = Pattern(3 * shape.block_size + 100, 20);
      ASSERT_EQ(0, WriteWhole(root_ + "kept", kept));
      const uint64_t bitmap = SuperField(kSuperBitmap);
      ASSERT_EQ(0, Unmount(device_));
      const uint64_t block = c.block == ~0ull ? bitmap : c.block;
      const uint64_t byte = BlockOffset(bitmap) + block / 8;
      uint8_t bits = device_->Image()[byte];
      ASSERT_NE(0, bits & (1 << block % 8));
      bits = static_cast<uint8_t>(bits & ~(1 << block % 8));
      device_->Poke(byte, &bits, 1);

      // Files until the volume is full: every free block is handed out.
      ASSERT_EQ(0, Mount(device_, shape_));
      const size_t size = 8 * shape.block_size;
      int written = 0;
      while (written < 200 && WriteWhole(root_ + "new" + std::to_string(written),
                                         Pattern(size, 21 + written)) == 0)
        ++written;
      ASSERT_GT(written, 2);
      ASSERT_LT(written, 200);
      ASSERT_EQ(0, Unmount(device_));
      EXPECT_NE(0, device_->Image()[byte] & (1 << block % 8)) << "the bit is stored again";
      ASSERT_EQ(0, Mount(device_, shape_));
      Result result = 0;
      EXPECT_EQ(kept, ReadWhole(root_ + "kept", &result));
      for (int i = 0; i < written; ++i)
        EXPECT_EQ(Pattern(size, 21 + i), ReadWhole(root_ + "new" + std::to_string(i), &result));
      EXPECT_EQ(0, Check(device_, shape_));
      ASSERT_EQ(0, Unmount(device_));
    }
  }
}

// A sealed super block whose bitmap field names a fixed block is refused; one that names a
// data block mounts, but the fixed blocks stay out of reach of every write.
TEST_F(OmfsFaultsTest, ABitmapOverAFixedBlockIsRefused) {
  Start(OmfsShape());
  ASSERT_EQ(0, WriteWhole(root_ + "data", Pattern(8 * 4096, 30)));
  FsHandle* handle = nullptr;
  ASSERT_EQ(0, fs_->Open(&handle, (root_ + "data").c_str(), nullptr, 1, nullptr));
  uint64_t map[3] = {0, 0, 0};
  ASSERT_EQ(0, fs_->Debug(handle, omfs_debug::kMapQuery, map, reinterpret_cast<void*>(sizeof map)));
  fs_->Close(handle, nullptr);
  const uint64_t data_block = map[1] / shape_.block_size;  // a byte address in the volume
  const uint64_t root = shape_.mirrors + 1;
  ASSERT_EQ(0, Unmount(device_));
  for (uint64_t block : {uint64_t{0}, uint64_t{1}, uint64_t{shape_.mirrors}, root,
                         root + shape_.mirrors - 1}) {
    Reseal(1, [&](uint8_t* super) { Put64(super + kSuperBitmap, block); });
    EXPECT_EQ(kDeclined, Mount(device_, shape_)) << block;
  }
  const auto anchor = [&] {
    const std::vector<uint8_t> image = device_->Image();
    return std::vector<uint8_t>(image.begin() + kStart, image.begin() + kStart + 512);
  };
  const std::vector<uint8_t> anchor_before = anchor();
  Reseal(1, [&](uint8_t* super) { Put64(super + kSuperBitmap, data_block); });
  ASSERT_EQ(0, Mount(device_, shape_));
  for (int i = 0; i < 8; ++i) WriteWhole(root_ + "new" + std::to_string(i), Pattern(30000, 31 + i));
  ASSERT_EQ(0, Unmount(device_));
  EXPECT_EQ(anchor_before, anchor());
  ASSERT_EQ(0, Mount(device_, shape_));
  EXPECT_FALSE(List(root_).empty());
}

}  // namespace
