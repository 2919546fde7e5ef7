// Power cuts: a workload's device writes are recorded, and for every k the image after only
// the first k writes is mounted and checked. The check must pass (no block owned twice, every
// reachable node whole), and every file that was flushed before the cut reads back as it was
// flushed, or, while a rename or remove of it was under way, under one of its two states.
#include <gtest/gtest.h>

#include <functional>

#include "omfs_fixture.h"

namespace {

constexpr Result kNotFound = static_cast<Result>(0x80820005);

// What a path must hold from a write-log position on.
struct Expectation {
  std::string path;
  std::vector<uint8_t> data;
  size_t from;       // flushed when the log held this many writes
  size_t until;      // an operation that may take it away started here (SIZE_MAX: none)
  size_t gone;       // and was done here: the path is absent from then on
  std::vector<uint8_t> changed_to = {};  // what it may hold instead while that runs
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
    // A write past the end: the gap reads as zeros.
    std::vector<uint8_t> sparse(50010, 0);
    std::fill(sparse.begin() + 50000, sparse.end(), 0x5A);
    ASSERT_EQ(0, Create("sparse", &handle));
    ASSERT_EQ(0, fs_->Seek(handle, 50000, 0, nullptr));
    Write(handle, std::vector<uint8_t>(10, 0x5A), 10);
    ASSERT_EQ(0, fs_->Close(handle, nullptr));
    Flushed("sparse", sparse);
    // Truncation of x to one block and freeing the rest.
    Find("x")->until = Logged();
    Find("x")->changed_to.assign(x.begin(), x.begin() + 4096);
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

  // Mounts the image after k writes and checks it; returns a description of what is wrong.
  std::string VerifyCut(size_t k, uint32_t number) {
    TestBlockDevice* copy = device_->ReplayOnto("OMFS", number, k);
    std::string problem;
    if (Result mounted = Mount(copy, shape_); mounted != 0) {
      problem = "mount failed " + std::to_string(mounted);
    } else {
      if (Result checked = Check(copy, shape_); checked != 0)
        problem = "check failed " + std::to_string(checked);
      if (problem.empty()) {
        const std::string root = Root(copy, shape_);
        for (const Expectation& e : expectations_) {
          if (k < e.from) continue;
          Result result = 0;
          std::vector<uint8_t> data = ReadWhole(root + e.path, &result);
          const bool during = k >= e.until && k < e.gone;
          const bool after = k >= e.gone;
          if (after) {
            if (result != kNotFound && e.path != "x") problem += e.path + " still there; ";
            continue;
          }
          if (during && result == kNotFound) continue;
          if (during && result == 0 && !e.changed_to.empty() && data == e.changed_to) continue;
          if (result != 0 || data != e.data)
            problem += e.path + " lost or changed (" + std::to_string(result) + "); ";
        }
        // A rename under way leaves the file under exactly one of its names.
        if (problem.empty()) {
          Result old_name = 0, new_name = 0;
          ReadWhole(root + "c", &old_name);
          ReadWhole(root + "dir/c2", &new_name);
          const Expectation* c = nullptr;
          for (const Expectation& e : expectations_)
            if (e.path == "c") c = &e;
          if (k >= c->from && (old_name == 0) == (new_name == 0))
            problem += "renamed file under both or neither name; ";
        }
        // The volume takes new files after the check.
        std::vector<uint8_t> fresh = Pattern(9000, 99);
        Result written = WriteWhole(root + "fresh", fresh);
        Result read = 0;
        if (written != 0 || ReadWhole(root + "fresh", &read) != fresh)
          problem += "new file after the cut failed; ";
        if (Check(copy, shape_) != 0) problem += "second check failed; ";
      }
      Unmount(copy);
    }
    copy->Destroy();
    return problem;
  }

  void CutAfterEveryWrite() {
    device_ = NewDevice(0, shape_);
    ASSERT_EQ(0, Format(device_, shape_));
    ASSERT_EQ(0, Mount(device_, shape_));
    root_ = Root(device_, shape_);
    device_->StartWriteLog();
    RunWorkload();
    ASSERT_EQ(0, Unmount(device_));
    const size_t writes = Logged();
    ASSERT_GT(writes, 50u);
    int failures = 0;
    for (size_t k = 0; k <= writes && failures < 5; ++k) {
      std::string problem = VerifyCut(k, static_cast<uint32_t>(k + 1));
      if (!problem.empty()) {
        ++failures;
        ADD_FAILURE() << "cut after " << k << " of " << writes << " writes: " << problem;
      }
    }
  }

  OmfsShape shape_;
  TestBlockDevice* device_ = nullptr;
  std::string root_;
  std::vector<Expectation> expectations_;
};

TEST_F(OmfsPowerCutTest, EveryCutMountsChecksAndKeepsFlushedFiles) { CutAfterEveryWrite(); }

TEST_F(OmfsPowerCutTest, EveryCutWithOneMirrorAndUnitsOfFourBlocks) {
  shape_.mirrors = 1;
  shape_.blocks_per_unit = 4;
  shape_.block_size = 1024;
  shape_.metablock_size = 1024;
  shape_.blocks = 1024;
  CutAfterEveryWrite();
}

}  // namespace
