// Renaming over an existing file: the renamed file takes the name in one step and the old one's
// blocks are freed; a plain rename still refuses a name in use. The check removes a later node
// of exactly the same name in a chain, which lookups never reach, and keeps a renamed file that
// a cut left out of every chain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fs/omfs/omfs_layout.h"
#include "fs/omfs/omfs_volume.h"
#include "omfs_fixture.h"

namespace {

using namespace omfs;
constexpr Result kExists = static_cast<Result>(0x80820018);
constexpr Result kNotFound = static_cast<Result>(0x80820005);
constexpr Result kOpenElsewhere = static_cast<Result>(0x8082001D);

class OmfsRenameTest : public MountedOmfsFixture {
 protected:
  void SetUp() override {
    MountedOmfsFixture::SetUp();
    FsHandle* dir = nullptr;
    ASSERT_EQ(0, fs_->CreateDir(&dir, (root_ + "dir").c_str(), nullptr, 0, nullptr));
    fs_->Close(dir, nullptr);
  }
  uint64_t FreeBytes() {
    FsHandle* root = nullptr;
    EXPECT_EQ(0, fs_->Open(&root, root_.c_str(), nullptr, 0, nullptr));
    uint64_t space[2] = {};
    EXPECT_EQ(0, fs_->GetAttr(root, 4, space, sizeof space, nullptr));
    fs_->Close(root, nullptr);
    return space[0];
  }
  Result Replace(const std::string& from, const std::string& to) {
    return fs_->RenameReplacing((root_ + from).c_str(), nullptr, (root_ + to).c_str(), nullptr,
                                nullptr);
  }
  // Two names of one hash chain: the later one created stands ahead of the earlier.
  static std::pair<std::string, std::string> NamesOfOneChain(uint32_t metablock_size) {
    const uint32_t buckets = HashBuckets(metablock_size);
    const std::string first = "track";
    const uint32_t bucket = NameHash(first.data(), 5) % buckets;
    for (int i = 0;; ++i) {
      const std::string other = "new" + std::to_string(i);
      if (NameHash(other.data(), static_cast<uint32_t>(other.size())) % buckets == bucket)
        return {first, other};
    }
  }

};

TEST_F(OmfsRenameTest, ARenameOverAFileReplacesItAndFreesItsBlocks) {
  const auto chain = NamesOfOneChain(shape_.metablock_size);
  struct Case {
    const char* what;
    std::string old_file, new_file;
    bool new_first;  // the new file is created first (stands behind the old one in a chain)
  } cases[] = {
      {"same folder", "old", "new", false},
      {"from another folder", "old", "dir/new", false},
      {"into another folder", "dir/old", "new", false},
      {"one chain, new ahead", chain.first, chain.second, false},
      {"one chain, old ahead", chain.first, chain.second, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> old_data = Pattern(30000, 1), new_data = Pattern(9000, 2);
    const uint64_t empty = FreeBytes();
    if (c.new_first) {
      ASSERT_EQ(0, WriteWhole(root_ + c.new_file, new_data));
    }
    ASSERT_EQ(0, WriteWhole(root_ + c.old_file, old_data));
    if (!c.new_first) {
      ASSERT_EQ(0, WriteWhole(root_ + c.new_file, new_data));
    }
    const uint64_t both = FreeBytes();
    ASSERT_EQ(0, Replace(c.new_file, c.old_file));
    Result result = 0;
    EXPECT_EQ(new_data, ReadWhole(root_ + c.old_file, &result));
    ReadWhole(root_ + c.new_file, &result);
    EXPECT_EQ(kNotFound, result);
    // The old file's blocks (its node and 30000 bytes of data) are free again.
    EXPECT_EQ(both + 2 * shape_.block_size + 8 * shape_.block_size, FreeBytes());
    const std::string folder = c.old_file.find('/') == std::string::npos ? "" : "dir";
    const std::string base = c.old_file.substr(c.old_file.find('/') + 1);
    const std::vector<std::string> names = List(root_ + folder);
    EXPECT_EQ(1, std::count(names.begin(), names.end(), base));
    ASSERT_EQ(0, Unmount(device_));
    ASSERT_EQ(0, Mount(device_, shape_));
    EXPECT_EQ(new_data, ReadWhole(root_ + c.old_file, &result));
    EXPECT_EQ(0, Check(device_, shape_));
    EXPECT_EQ(both + 10 * shape_.block_size, FreeBytes()) << "the check found nothing to free";
    ASSERT_EQ(0, fs_->Remove((root_ + c.old_file).c_str(), nullptr, nullptr));
    EXPECT_EQ(empty, FreeBytes());
  }
}

TEST_F(OmfsRenameTest, WhatARenameRefuses) {
  ASSERT_EQ(0, WriteWhole(root_ + "a", Pattern(100, 1)));
  ASSERT_EQ(0, WriteWhole(root_ + "b", Pattern(200, 2)));
  // The plain rename never replaces.
  EXPECT_EQ(kExists, fs_->Rename((root_ + "a").c_str(), nullptr, (root_ + "b").c_str(), nullptr,
                                 nullptr));
  // Nor does the replacing one replace a folder, or a file open elsewhere.
  EXPECT_EQ(kExists, Replace("a", "dir"));
  FsHandle* open = nullptr;
  ASSERT_EQ(0, fs_->Open(&open, (root_ + "b").c_str(), nullptr, 1, nullptr));
  EXPECT_EQ(kOpenElsewhere, Replace("a", "b"));
  fs_->Close(open, nullptr);
  // Without a file of the new name it moves the file; onto its own name it does nothing.
  EXPECT_EQ(0, Replace("a", "dir/a2"));
  EXPECT_EQ(0, Replace("dir/a2", "dir/a2"));
  Result result = 0;
  EXPECT_EQ(Pattern(100, 1), ReadWhole(root_ + "dir/a2", &result));
  // A name that differs only in case is another name: both stay.
  EXPECT_EQ(0, Replace("dir/a2", "B"));
  EXPECT_EQ(Pattern(200, 2), ReadWhole(root_ + "b", &result));
  EXPECT_EQ(Pattern(100, 1), ReadWhole(root_ + "B", &result));
  EXPECT_EQ(0, Check(device_, shape_));
}

TEST_F(OmfsRenameTest, TheCheckRemovesALaterNodeOfTheSameNameInAChain) {
  const auto chain = NamesOfOneChain(shape_.metablock_size);
  const std::vector<uint8_t> kept = Pattern(5000, 3), shadowed = Pattern(20000, 4);
  ASSERT_EQ(0, WriteWhole(root_ + chain.first, shadowed));
  ASSERT_EQ(0, WriteWhole(root_ + chain.second, kept));  // ahead of the first in the chain
  const uint64_t both = FreeBytes();
  ASSERT_EQ(0, Unmount(device_));
  // The node ahead takes the name of the one behind it.
  std::vector<uint8_t> image = device_->Image();
  std::vector<uint8_t> name(kNameBytes, 0);
  memcpy(name.data(), chain.second.data(), chain.second.size());
  size_t renamed = 0;
  for (uint64_t block = 0; block < shape_.blocks; ++block) {
    uint8_t* node = &image[kStart + block * shape_.block_size];
    if (node[kHeaderMagic] != kMetaMagic || node[kHeaderType] != kTypeNode) continue;
    if (memcmp(node + kNodeName, chain.second.data(), chain.second.size() + 1) != 0 &&
        memcmp(node + kNodeName, chain.first.data(), chain.first.size() + 1) != 0)
      continue;
    // Both copies of the node behind get the other name.
    if (memcmp(node + kNodeName, chain.first.data(), chain.first.size() + 1) == 0) {
      memcpy(node + kNodeName, name.data(), name.size());
      OmfsSeal(node);
      device_->Poke(kStart + block * shape_.block_size, node, shape_.metablock_size);
      ++renamed;
    }
  }
  ASSERT_EQ(renamed, shape_.mirrors);
  ASSERT_EQ(0, Mount(device_, shape_));
  Result result = 0;
  EXPECT_EQ(kept, ReadWhole(root_ + chain.second, &result));
  std::vector<std::string> names = List(root_);
  EXPECT_EQ(2, std::count(names.begin(), names.end(), chain.second));
  ASSERT_EQ(0, Check(device_, shape_));
  names = List(root_);
  EXPECT_EQ(1, std::count(names.begin(), names.end(), chain.second));
  EXPECT_EQ(kept, ReadWhole(root_ + chain.second, &result));
  EXPECT_EQ(both + 2 * shape_.block_size + 5 * shape_.block_size, FreeBytes());
  ASSERT_EQ(0, Unmount(device_));
  ASSERT_EQ(0, Mount(device_, shape_));
  EXPECT_EQ(0, Check(device_, shape_));
  EXPECT_EQ(kept, ReadWhole(root_ + chain.second, &result));
}

}  // namespace

namespace {

// A rename over a file of the longest name, cut after every write: once the moved file has
// taken the name and before the swap, the name still leads to the old file; the check then
// links the moved file back beside it under the name cut to fit "~1", so neither is lost. The
// disk cannot tell that state from the one after the swap, before the old file is freed: there
// the old file comes back beside the moved one.
TEST_F(OmfsRenameTest, TheCheckKeepsARenamedFileCutOffBeforeTheSwap) {
  const std::string name(kNameBytes, 'n'), beside = std::string(kNameBytes - 2, 'n') + "~1";
  const std::vector<uint8_t> old_file = Pattern(30000, 5), moved = Pattern(50000, 6);
  ASSERT_EQ(0, WriteWhole(root_ + "dir/" + name, old_file));
  ASSERT_EQ(0, WriteWhole(root_ + "moved", moved));
  ASSERT_EQ(0, Unmount(device_));
  device_->StartWriteLog();
  ASSERT_EQ(0, Mount(device_, shape_));
  ASSERT_EQ(0, Replace("moved", "dir/" + name));
  ASSERT_EQ(0, Unmount(device_));
  int kept_beside = 0;
  for (size_t k = 0; k <= device_->write_log().size(); ++k) {
    TestBlockDevice* copy = device_->ReplayOnto("OMFS", 1, k);
    ASSERT_EQ(0, Mount(copy, shape_));
    ASSERT_EQ(0, Check(copy, shape_)) << k;
    const std::string root = Root(copy, shape_);
    Result under_name = 0, under_old = 0, under_beside = 0;
    const std::vector<uint8_t> named = ReadWhole(root + "dir/" + name, &under_name);
    ReadWhole(root + "moved", &under_old);
    const std::vector<uint8_t> aside = ReadWhole(root + "dir/" + beside, &under_beside);
    if (under_beside == 0) {
      // Before the swap the moved file comes back beside the old one; after it, until the old
      // one's blocks are freed, the old one does.
      kept_beside += named == old_file;
      EXPECT_TRUE((named == old_file && aside == moved) || (named == moved && aside == old_file))
          << k;
    } else {
      EXPECT_TRUE(named == moved || (named == old_file && under_old == 0)) << k;
    }
    Unmount(copy);
    copy->Destroy();
  }
  EXPECT_GT(kept_beside, 0);
}

}  // namespace
