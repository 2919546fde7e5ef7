// Power cuts: a workload's device writes are recorded, and the image is cut after every write
// and inside every write (only its first sectors reached the disk). Each cut image is read by
// an independent reader, which must find every block of the tree marked in use; then it is
// mounted, and every file that was flushed before the cut reads back as it was flushed (or,
// while a rename or remove of it was under way, under one of its two states) before and after
// the check, which must pass and leave exactly the tree's blocks in use. A name that a rename
// replaces holds the old file or the new one at every cut, never nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "omfs_fixture.h"
#include "omfs_image_oracle.h"

namespace {

constexpr Result kNotFound = static_cast<Result>(0x80820005);
constexpr Result kCorrupt = static_cast<Result>(0x80820013);

// What a path must hold from a write-log position on.
struct Expectation {
  std::string path;
  std::vector<uint8_t> data;
  size_t from;       // flushed when the log held this many writes
  size_t until;      // an operation that may take it away started here (SIZE_MAX: none)
  size_t gone;       // and was done here: the path is absent from then on
  std::vector<uint8_t> changed_to = {};  // what it may hold instead while that runs
  bool stays = false;  // the operation changes the file in place: never absent
};

class OmfsPowerCutTest : public OmfsFixture {
 protected:
  size_t Logged() const { return device_->write_log().size(); }

  Result Create(const std::string& name, FsHandle** handle) {
    return fs_->CreateFile(handle, (root_ + name).c_str(), nullptr, 3, nullptr);
  }
  void Write(FsHandle* handle, const std::vector<uint8_t>& data, size_t piece) {
    for (size_t done = 0; done < data.size(); done += piece) {
      uint32_t count = 0;
      uint32_t length = static_cast<uint32_t>(std::min(piece, data.size() - done));
      ASSERT_EQ(0, fs_->WriteFile(handle, data.data() + done, length, &count, nullptr));
    }
  }
  void Flushed(const std::string& name, const std::vector<uint8_t>& data) {
    expectations_.push_back({name, data, Logged(), SIZE_MAX, SIZE_MAX});
  }
  // The file under the name changes from the next write on: it holds the old or the new
  // content until `gone`, where the next expectation of the name takes over.
  void Replacing(Expectation* e, const std::vector<uint8_t>& content) {
    e->until = Logged();
    e->changed_to = content;
    e->stays = true;
  }
  Expectation* Find(const std::string& name) {
    Expectation* found = nullptr;
    for (Expectation& e : expectations_)
      if (e.path == name) found = &e;
    return found;
  }

  // The workload: files of several sizes in two folders, a fragmented pair that needs
  // continuation lists, a rename across folders, a remove, a sparse write and a truncation.
  void RunWorkload() {
    FsHandle* handle = nullptr;
    std::vector<uint8_t> a = Pattern(5000, 1);
    ASSERT_EQ(0, WriteWhole(root_ + "a", a));
    Flushed("a", a);
    FsHandle* dir = nullptr;
    ASSERT_EQ(0, fs_->CreateDir(&dir, (root_ + "dir").c_str(), nullptr, 0, nullptr));
    fs_->Close(dir, nullptr);
    std::vector<uint8_t> b = Pattern(100000, 2);
    ASSERT_EQ(0, WriteWhole(root_ + "dir/b", b));
    Flushed("dir/b", b);
    std::vector<uint8_t> c = Pattern(30000, 3);
    ASSERT_EQ(0, WriteWhole(root_ + "c", c));
    Flushed("c", c);
    // Two files written a block at a time in turn: each gets many extents.
    std::vector<uint8_t> x = Pattern(20 * 4096, 4), y = Pattern(20 * 4096 + 77, 5);
    FsHandle* second = nullptr;
    ASSERT_EQ(0, Create("x", &handle));
    ASSERT_EQ(0, Create("dir/y", &second));
    for (size_t done = 0; done < y.size(); done += 4096) {
      uint32_t count = 0;
      if (done < x.size()) {
        ASSERT_EQ(0, fs_->WriteFile(handle, &x[done], 4096, &count, nullptr));
      }
      uint32_t length = static_cast<uint32_t>(std::min<size_t>(4096, y.size() - done));
      ASSERT_EQ(0, fs_->WriteFile(second, &y[done], length, &count, nullptr));
    }
    ASSERT_EQ(0, fs_->Close(handle, nullptr));
    Flushed("x", x);
    ASSERT_EQ(0, fs_->Close(second, nullptr));
    Flushed("dir/y", y);
    // Rename across folders.
    Find("c")->until = Logged();
    ASSERT_EQ(0, fs_->Rename((root_ + "c").c_str(), nullptr, (root_ + "dir/c2").c_str(),
                             nullptr, nullptr));
    Find("c")->gone = Logged();
    const size_t renamed = Logged();
    Flushed("dir/c2", c);
    expectations_.back().from = renamed;
    // Remove.
    Find("a")->until = Logged();
    ASSERT_EQ(0, fs_->Remove((root_ + "a").c_str(), nullptr, nullptr));
    Find("a")->gone = Logged();
    // A rename over an existing file of another folder.
    std::vector<uint8_t> d = Pattern(40000, 6), e = Pattern(60000, 7);
    ASSERT_EQ(0, WriteWhole(root_ + "dir/d", d));
    Flushed("dir/d", d);
    ASSERT_EQ(0, WriteWhole(root_ + "e", e));
    Flushed("e", e);
    Replacing(Find("dir/d"), e);
    Find("e")->until = Logged();
    ASSERT_EQ(0, fs_->RenameReplacing((root_ + "e").c_str(), nullptr, (root_ + "dir/d").c_str(),
                                      nullptr, nullptr));
    Find("e")->gone = Find("dir/d")->gone = Logged();
    Flushed("dir/d", e);
    // A write past the end: the gap reads as zeros.
    std::vector<uint8_t> sparse(50010, 0);
    std::fill(sparse.begin() + 50000, sparse.end(), 0x5A);
    ASSERT_EQ(0, Create("sparse", &handle));
    ASSERT_EQ(0, fs_->Seek(handle, 50000, 0, nullptr));
    Write(handle, std::vector<uint8_t>(10, 0x5A), 10);
    ASSERT_EQ(0, fs_->Close(handle, nullptr));
    Flushed("sparse", sparse);
    // Truncation of x to one block and freeing the rest.
    Replacing(Find("x"), std::vector<uint8_t>(x.begin(), x.begin() + 4096));
    ASSERT_EQ(0, fs_->Open(&handle, (root_ + "x").c_str(), nullptr, 3, nullptr));
    uint64_t size = 4096;
    ASSERT_EQ(0, fs_->SetAttr(handle, 2, &size, 8, nullptr, 0, nullptr));
    ASSERT_EQ(0, fs_->Pop(handle, 4096, 0, nullptr));
    ASSERT_EQ(0, fs_->Close(handle, nullptr));
    Find("x")->gone = Logged();
    const size_t truncated = Logged();
    Flushed("x", std::vector<uint8_t>(x.begin(), x.begin() + 4096));
    expectations_.back().from = truncated;
  }

  // Every flushed file reads back as the cut left it. A file being renamed is under one name
  // at most; once checked, under exactly one (the check links a node that the cut left out of
  // its directory back under its old name).
  std::string FilesAfterCut(const std::string& root, size_t k, bool checked) {
    std::string problem;
    for (const Expectation& e : expectations_) {
      if (k < e.from) continue;
      Result result = 0;
      std::vector<uint8_t> data = ReadWhole(root + e.path, &result);
      const bool during = k >= e.until && k < e.gone;
      const bool after = k >= e.gone;
      if (after) {
        if (result != kNotFound && !e.stays) problem += e.path + " still there; ";
        continue;
      }
      if (during && result == kNotFound && !e.stays) continue;
      if (during && result == 0 && !e.changed_to.empty() && data == e.changed_to) continue;
      if (result != 0 || data != e.data)
        problem += e.path + " lost or changed (" + std::to_string(result) + "); ";
    }
    Result old_name = 0, new_name = 0;
    ReadWhole(root + "c", &old_name);
    ReadWhole(root + "dir/c2", &new_name);
    if (k >= Find("c")->from && old_name == 0 && new_name == 0)
      problem += "renamed file under both names; ";
    if (checked && k >= Find("c")->from && old_name != 0 && new_name != 0)
      problem += "renamed file under neither name after the check; ";
    // The file renamed over another: under its old name or in the other's place, not both.
    // Once it has taken the new name, a cut before the swap leaves it lost while the name
    // still leads to the other file; the check links it back beside it as "d~1".
    const Expectation* moved = Find("e");
    if (k >= moved->until && k < moved->gone) {
      Result replaced = 0, beside = 0;
      const bool in_place = ReadWhole(root + "dir/d", &replaced) == moved->data;
      ReadWhole(root + "e", &old_name);
      const bool kept_beside = ReadWhole(root + "dir/d~1", &beside) == moved->data;
      if (in_place && old_name == 0) problem += "replacing file under both names; ";
      if (checked && !in_place && old_name != 0 && !kept_beside)
        problem += "replacing file lost; ";
    }
    return problem;
  }

  uint64_t FreeBlocks(TestBlockDevice* copy) {
    FsHandle* root = nullptr;
    uint64_t space[2] = {};
    if (fs_->Open(&root, Root(copy, shape_).c_str(), nullptr, 0, nullptr) != 0) return ~0ull;
    fs_->GetAttr(root, 4, space, sizeof space, nullptr);
    fs_->Close(root, nullptr);
    return space[0] / shape_.block_size;
  }

  // The image after k whole writes and `torn` sectors of the next one. Before anything mounts
  // it, an independent reader finds every block the tree holds marked in the stored bitmap.
  // It mounts, and without the check every flushed file reads back; the check passes, leaves
  // exactly the tree's blocks in use, and the volume takes a new file. Returns what is wrong;
  // `damaged` tells that the tree itself could not be read, as one mirror allows.
  std::string VerifyCut(size_t k, uint32_t torn, uint32_t number, bool* damaged) {
    *damaged = false;
    TestBlockDevice* copy = device_->ReplayOnto("OMFS", number, k, torn);
    std::string problem;
    const OmfsImageView before = ReadOmfsImage(copy->Image(), kStart);
    if (!before.problem.empty()) {
      *damaged = true;
    } else {
      if (!before.HeldButFree().empty())
        problem += std::to_string(before.HeldButFree().size()) + " blocks in use marked free; ";
      leaked_most_ = std::max(leaked_most_, before.Leaked());
    }
    if (Result mounted = Mount(copy, shape_); mounted != 0) {
      copy->Destroy();
      return problem + "mount failed " + std::to_string(mounted);
    }
    const std::string root = Root(copy, shape_);
    if (!*damaged) problem += FilesAfterCut(root, k, false);
    const Result checked = Check(copy, shape_);
    if (*damaged) {
      // The check must see the damage that the reader saw.
      if (checked != kCorrupt) problem += "check of a damaged tree gave " + std::to_string(checked);
      Unmount(copy);
      copy->Destroy();
      return problem;
    }
    if (checked != 0) problem += "check failed " + std::to_string(checked) + "; ";
    if (problem.empty()) {
      const OmfsImageView after = ReadOmfsImage(copy->Image(), kStart);
      if (!after.problem.empty() || after.Leaked() != 0 || !after.HeldButFree().empty())
        problem += "bitmap after the check differs from the tree; ";
      if (FreeBlocks(copy) != after.FreeUnitBlocks())
        problem += "free count " + std::to_string(FreeBlocks(copy)) + " after the check, " +
                   std::to_string(after.FreeUnitBlocks()) + " free in the tree; ";
      problem += FilesAfterCut(root, k, true);
      // The volume takes new files after the check.
      std::vector<uint8_t> fresh = Pattern(9000, 99);
      Result written = WriteWhole(root + "fresh", fresh);
      Result read = 0;
      if (written != 0 || ReadWhole(root + "fresh", &read) != fresh)
        problem += "new file after the cut failed; ";
      if (Check(copy, shape_) != 0) problem += "second check failed; ";
    }
    Unmount(copy);
    copy->Destroy();
    return problem;
  }

  // Whether logged write k reaches a block of the volume's own structures (anchor, super
  // block, bitmap, nodes, continuations) as they stand after it, or only file data.
  bool WritesStructures(size_t k) {
    const OmfsImageView after = ReadOmfsImage(device_->ImageAfterWrites(k + 1), kStart);
    const TestBlockDevice::LoggedWrite& write = device_->write_log()[k];
    const uint64_t first = (write.start * 512 - kStart) / shape_.block_size;
    const uint64_t last = (write.start * 512 + write.data.size() - 1 - kStart) / shape_.block_size;
    for (uint64_t block = first; block <= last && block < after.meta.size(); ++block)
      if (after.meta[block] || !after.held[block]) return true;
    return !after.problem.empty();
  }

  // Runs the workload, then every cut: after each write, and inside each write that reaches
  // the volume's structures after each of its sectors but the last. A write of file data
  // alone is torn once, in its middle: what it leaves differs from the cut before it only in
  // bytes of a file not yet flushed. Returns the count of states whose tree was damaged.
  int CutEverywhere() {
    device_ = NewDevice(0, shape_);
    EXPECT_EQ(0, Format(device_, shape_));
    EXPECT_EQ(0, Mount(device_, shape_));
    root_ = Root(device_, shape_);
    device_->StartWriteLog();
    RunWorkload();
    EXPECT_EQ(0, Unmount(device_));
    const size_t writes = Logged();
    EXPECT_GT(writes, 50u);
    int failures = 0, damaged_states = 0, states = 0;
    uint32_t number = 1;
    for (size_t k = 0; k <= writes && failures < 5; ++k) {
      const uint32_t sectors = k < writes ? device_->LoggedSectors(k) : 1;
      const bool every_sector = sectors > 1 && WritesStructures(k);
      for (uint32_t torn = 0; torn < sectors && failures < 5; ++torn) {
        if (torn > 0 && !every_sector && torn != sectors / 2) continue;
        bool damaged = false;
        std::string problem = VerifyCut(k, torn, number++, &damaged);
        ++states;
        damaged_states += damaged;
        if (damaged && (!damage_allowed_ || torn == 0)) problem += "tree damaged; ";
        if (!problem.empty()) {
          ++failures;
          ADD_FAILURE() << "cut after " << k << " of " << writes << " writes and " << torn
                        << " sectors of the next: " << problem;
        }
      }
    }
    printf("%d cut states (%zu writes), %d with a damaged tree, at most %llu blocks leaked\n",
           states, writes, damaged_states, static_cast<unsigned long long>(leaked_most_));
    return damaged_states;
  }

  OmfsShape shape_;
  TestBlockDevice* device_ = nullptr;
  std::string root_;
  std::vector<Expectation> expectations_;
  bool damage_allowed_ = false;
  uint64_t leaked_most_ = 0;
};

TEST_F(OmfsPowerCutTest, EveryCutMountsChecksAndKeepsFlushedFiles) { CutEverywhere(); }

// The players' own shape: 8 KiB blocks in units of eight, two mirrors of 2 KiB metablocks that
// a cut can tear. The second copy is written after the first, so one of them is always whole.
TEST_F(OmfsPowerCutTest, EveryCutOfThePlayersShapeKeepsTheTree) {
  shape_.block_size = 8192;
  shape_.blocks_per_unit = 8;
  shape_.metablock_size = 2048;
  shape_.blocks = 256;
  EXPECT_EQ(0, CutEverywhere());
}

// With one mirror a torn metablock has no second copy: the tree may be damaged then, and the
// check must say so. Every cut between whole writes keeps everything.
TEST_F(OmfsPowerCutTest, EveryCutWithOneMirrorAndUnitsOfFourBlocks) {
  shape_.mirrors = 1;
  shape_.blocks_per_unit = 4;
  shape_.block_size = 1024;
  shape_.metablock_size = 1024;
  shape_.blocks = 1024;
  damage_allowed_ = true;
  CutEverywhere();
}

}  // namespace
