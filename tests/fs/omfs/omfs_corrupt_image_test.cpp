// Damaged images: bytes of the metadata blocks changed at random, with and without a fresh
// seal (so that damage also reaches the checks behind the CRC). Every image is refused or
// repaired; none crashes or hangs.
#include <gtest/gtest.h>

#include <cstring>

#include "fs/omfs/omfs_layout.h"
#include "omfs_fixture.h"

namespace {

using namespace omfs;

class OmfsCorruptImageTest : public OmfsFixture {};

// Walks a volume as a user would: lists, reads, writes and checks; answers are not judged.
void Exercise(OmfsFixture* fixture, IRFileSystem* fs, const std::string& root,
              TestBlockDevice* device, const OmfsShape& shape) {
  (void)fixture;
  for (const char* name : {"a", "dir/b", "dir/c", "many"}) {
    FsHandle* handle = nullptr;
    if (fs->Open(&handle, (root + name).c_str(), nullptr, 1, nullptr) != 0) continue;
    std::vector<uint8_t> buffer(64 * 1024);
    uint32_t count = 0;
    for (int i = 0; i < 8 && fs->ReadFile(handle, buffer.data(), 65536, &count, nullptr) == 0; ++i) {
    }
    fs->Close(handle, nullptr);
  }
  FsHandle* handle = nullptr;
  if (fs->Open(&handle, root.c_str(), nullptr, 0, nullptr) == 0) {
    char name[300];
    for (int i = 0; i < 1000 && fs->ReadDir(handle, name, sizeof name, nullptr) == 0; ++i) {
    }
    fs->Debug(handle, omfs_debug::kCheck, nullptr, nullptr);
    fs->Close(handle, nullptr);
  }
  if (fs->CreateFile(&handle, (root + "new").c_str(), nullptr, 3, nullptr) == 0) {
    uint32_t count = 0;
    std::vector<uint8_t> data(20000, 1);
    fs->WriteFile(handle, data.data(), 20000, &count, nullptr);
    fs->Close(handle, nullptr);
  }
  fs->Remove((root + "dir/b").c_str(), nullptr, nullptr);
  fs->Rename((root + "a").c_str(), nullptr, (root + "dir/a").c_str(), nullptr, nullptr);
  (void)device;
  (void)shape;
}

TEST_F(OmfsCorruptImageTest, MutatedMetablocksAreRefusedOrRepaired) {
  OmfsShape shape;
  shape.mirrors = 1;
  shape.blocks = 128;
  TestBlockDevice* original = NewDevice(0, shape);
  ASSERT_EQ(0, Format(original, shape));
  ASSERT_EQ(0, Mount(original, shape));
  const std::string root = Root(original, shape);
  ASSERT_EQ(0, WriteWhole(root + "a", Pattern(9000, 1)));
  FsHandle* dir = nullptr;
  ASSERT_EQ(0, fs_->CreateDir(&dir, (root + "dir").c_str(), nullptr, 0, nullptr));
  fs_->Close(dir, nullptr);
  ASSERT_EQ(0, WriteWhole(root + "dir/b", Pattern(30000, 2)));
  ASSERT_EQ(0, WriteWhole(root + "dir/c", Pattern(100, 3)));
  // A fragmented file with continuation lists.
  FsHandle* one = nullptr;
  ASSERT_EQ(0, fs_->CreateFile(&one, (root + "many").c_str(), nullptr, 3, nullptr));
  std::vector<uint8_t> block(4096, 5);
  for (uint64_t i = 0; i < 12; ++i) {
    uint32_t count = 0;
    ASSERT_EQ(0, fs_->Seek(one, static_cast<int64_t>(i * 2 * 4096), 0, nullptr));
    ASSERT_EQ(0, fs_->WriteFile(one, block.data(), 4096, &count, nullptr));
  }
  fs_->Close(one, nullptr);
  ASSERT_EQ(0, Unmount(original));
  const std::vector<uint8_t> image = original->Image();
  // The metadata blocks: every block that carries the metablock magic at byte 18.
  std::vector<uint64_t> metablocks = {0};
  for (uint64_t b = 1; b < shape.blocks; ++b)
    if (image[kStart + b * shape.block_size + kHeaderMagic] == kMetaMagic) metablocks.push_back(b);
  ASSERT_GT(metablocks.size(), 6u);
  uint32_t state = 12345;
  auto next = [&]() {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  };
  for (uint32_t round = 0; round < 400; ++round) {
    TestBlockDevice* device = NewDevice(round + 1, shape);
    device->Poke(0, image.data(), image.size());
    const uint64_t block = metablocks[next() % metablocks.size()];
    const bool reseal = round % 2 == 1 && block != 0;
    const uint32_t span = block == 0 ? 288 : shape.metablock_size;
    const uint64_t base = kStart + block * shape.block_size;
    std::vector<uint8_t> data(image.begin() + base, image.begin() + base + span);
    for (int changes = 1 + next() % 3; changes > 0; --changes) {
      // Mostly the fields that carry sizes, counts and block numbers.
      uint32_t offset = next() % span;
      if (next() % 2) offset = (block == 0 ? 256 : 24) + next() % (block == 0 ? 32 : 460);
      if (offset >= span) offset = span - 1;
      data[offset] ^= static_cast<uint8_t>(1 + next() % 255);
    }
    if (reseal) {
      const uint32_t length = std::min<uint32_t>(Get32(&data[kHeaderCrcLength]), span - 24);
      Put32(&data[kHeaderCrcLength], length);
      bytes::PutBe16(&data[kHeaderCrc], Crc16(&data[24], length));
      data[kHeaderXor] = 0;
      uint8_t x = 0;
      for (int i = 0; i < 24; ++i) x ^= data[i];
      data[kHeaderXor] = x;
    }
    device->Poke(base, data.data(), data.size());
    if (Mount(device, shape) == 0) {
      Exercise(this, fs_, Root(device, shape), device, shape);
      Unmount(device);
    }
    device->Destroy();
  }
}

}  // namespace
