// Power cuts while a volume is resized: the resize's device writes are recorded, and the image
// is cut after every write and after every sector inside each write. Every cut image must
// mount with exactly one of the old and the new length, keep its files, pass the check and
// take a new file; a second resize to the same length must then finish the job and keep them.
#include <gtest/gtest.h>

#include <cstdio>

#include "omfs_fixture.h"
#include "omfs_image_oracle.h"

namespace {

struct ResizeCase {
  const char* name;
  OmfsShape shape;  // before
  uint64_t blocks;  // after
};

// The players' own shape (8 KiB blocks in units of eight, two mirrors of 2 KiB metablocks),
// whose bitmap is rewritten in place; a small-block shape whose grown bitmap needs a new place
// in the grown area; and a shrink.
const ResizeCase kCases[] = {
    {"players' shape grows", {8192, 8, 2, 2048, 2048}, 4096},
    {"bitmap moves while growing", {1024, 1, 2, 1024, 1024}, 8192},
    {"one mirror grows", {4096, 1, 1, 512, 512}, 2048},
    {"players' shape shrinks", {8192, 8, 2, 2048, 1024}, 512},
};

struct Outcomes {
  int old_length = 0;
  int new_length = 0;
  int neither = 0;
};

class OmfsResizeCutTest : public OmfsFixture {
 protected:
  struct Kept {
    std::string path;
    std::vector<uint8_t> data;
  };

  void WriteFiles(const std::string& root) {
    files_ = {{"a", Pattern(5000, 1)}, {"dir/b", Pattern(300000, 2)}, {"c", Pattern(400000, 3)}};
    FsHandle* dir = nullptr;
    ASSERT_EQ(0, fs_->CreateDir(&dir, (root + "dir").c_str(), nullptr, 0, nullptr));
    fs_->Close(dir, nullptr);
    for (const Kept& file : files_) EXPECT_EQ(0, WriteWhole(root + file.path, file.data));
  }

  std::string FilesLost(const std::string& root) {
    std::string lost;
    for (const Kept& file : files_) {
      Result result = 0;
      if (ReadWhole(root + file.path, &result) != file.data || result != 0)
        lost += file.path + " (" + std::to_string(result) + ") ";
    }
    return lost;
  }

  // What is wrong with the mounted volume: files, then the check.
  std::string Verify(TestBlockDevice* device, const OmfsShape& shape) {
    std::string problem;
    const std::string lost = FilesLost(Root(device, shape));
    if (!lost.empty()) problem += "lost " + lost + "; ";
    if (Result checked = Check(device, shape); checked != 0)
      problem += "check " + std::to_string(checked) + "; ";
    return problem;
  }

  // One cut image: which length mounts, then a second resize must end with the new length.
  std::string VerifyCut(const ResizeCase& row, size_t k, uint32_t torn, uint32_t number,
                        Outcomes* outcomes) {
    OmfsShape after = row.shape;
    after.blocks = row.blocks;
    TestBlockDevice* copy = device_->ReplayOnto("OMFS", number, k, torn);
    std::string problem;
    const Result old_mount = Mount(copy, row.shape);
    if (old_mount == 0) Unmount(copy);
    const Result new_mount = Mount(copy, after);
    if (new_mount == 0) Unmount(copy);
    if (old_mount == 0 && new_mount == 0) problem += "mounts with both lengths; ";
    const OmfsShape& mounted = old_mount == 0 ? row.shape : after;
    if (old_mount == 0 || new_mount == 0) {
      ++(old_mount == 0 ? outcomes->old_length : outcomes->new_length);
      // The volume is used before the resize is repeated.
      Mount(copy, mounted);
      problem += Verify(copy, mounted);
      if (WriteWhole(Root(copy, mounted) + "fresh", fresh_) != 0) problem += "no new file; ";
      Unmount(copy);
    } else {
      ++outcomes->neither;
      problem += "mounts with neither length (" + std::to_string(old_mount) + ", " +
                 std::to_string(new_mount) + "); ";
    }
    char name[32];
    snprintf(name, sizeof name, "OMFS:%u", number);
    if (Result again = fs_->Resize(name, kStart, row.blocks * row.shape.block_size); again != 0) {
      problem += "second resize " + std::to_string(again) + "; ";
    } else if (Result mounted = Mount(copy, after); mounted != 0) {
      problem += "mount after the second resize " + std::to_string(mounted) + "; ";
    } else {
      const std::string second = Verify(copy, after);
      if (!second.empty()) problem += "after the second resize: " + second;
      Result read = 0;
      if (problem.empty() && ReadWhole(Root(copy, after) + "fresh", &read) != fresh_)
        problem += "file written after the cut lost; ";
      Unmount(copy);
      const OmfsImageView view = ReadOmfsImage(copy->Image(), kStart);
      if (!view.problem.empty()) problem += "reader: " + view.problem + "; ";
      if (view.blocks != row.blocks) problem += "anchor size " + std::to_string(view.blocks) + "; ";
      if (!view.HeldButFree().empty()) problem += "blocks in use marked free; ";
    }
    copy->Destroy();
    return problem;
  }

  Outcomes CutEverywhere(const ResizeCase& row) {
    Outcomes outcomes;
    const uint64_t largest = std::max(row.shape.blocks, row.blocks);
    device_ = NewDevice(0, row.shape, (largest - row.shape.blocks) * row.shape.block_size);
    EXPECT_EQ(0, Format(device_, row.shape));
    EXPECT_EQ(0, Mount(device_, row.shape));
    WriteFiles(Root(device_, row.shape));
    EXPECT_EQ(0, Unmount(device_));
    device_->StartWriteLog();
    EXPECT_EQ(0, fs_->Resize("OMFS:0", kStart, row.blocks * row.shape.block_size));
    const size_t writes = device_->write_log().size();
    int failures = 0;
    uint32_t number = 1;
    // Every state is counted; the first few failures are told in full.
    for (size_t k = 0; k <= writes; ++k) {
      const uint32_t sectors = k < writes ? device_->LoggedSectors(k) : 1;
      for (uint32_t torn = 0; torn < sectors; ++torn) {
        const std::string problem = VerifyCut(row, k, torn, number++, &outcomes);
        if (problem.empty() || ++failures > 3) continue;
        ADD_FAILURE() << "cut after " << k << " of " << writes << " writes and " << torn
                      << " sectors of the next: " << problem;
      }
    }
    printf("%s: %zu writes; cut states mounting with the old length %d, the new %d, neither %d\n",
           row.name, writes, outcomes.old_length, outcomes.new_length, outcomes.neither);
    device_->Destroy();
    return outcomes;
  }

  TestBlockDevice* device_ = nullptr;
  std::vector<Kept> files_;
  const std::vector<uint8_t> fresh_ = Pattern(70000, 9);
};

TEST_F(OmfsResizeCutTest, EveryCutOfAResizeMountsAndASecondResizeFinishes) {
  for (const ResizeCase& row : kCases) {
    SCOPED_TRACE(row.name);
    const Outcomes outcomes = CutEverywhere(row);
    EXPECT_EQ(0, outcomes.neither);
    // The cut before the first write keeps the old volume, the one after the last the new.
    EXPECT_GT(outcomes.old_length, 0);
    EXPECT_GT(outcomes.new_length, 0);
  }
}

}  // namespace
