#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/fs_codes.h"
#include "fs_fixture.h"
#include "platform/ir_block_device.h"
#include "testlib/test_block_device.h"

namespace {

using Names = std::vector<std::string>;

// Two TinyFs volumes on one device ("alpha" at 0, "beta" at 64 KiB), mounted in that order.
class FsPathsTest : public FsFixture {
 protected:
  void SetUp() override {
    FsFixture::SetUp();
    disk_ = TinyDisk({"alpha", "beta"});
    ASSERT_EQ(0, fs_->Mount("DISK:0", 0, 65536, 0, nullptr, 0));
    ASSERT_EQ(0, fs_->Mount("DISK:0", 65536, 65536, 0, nullptr, 0));
  }

  // The node type of what the path opens, or the failure.
  Result KindOf(const char* path, FsHandle* base = nullptr, uint32_t flags = 0) {
    FsHandle* handle = nullptr;
    Result result = fs_->Open(&handle, path, base, flags, nullptr);
    if (result != 0) return result;
    uint32_t kind = 0;
    EXPECT_EQ(0, fs_->GetAttr(handle, 1, &kind, 4, nullptr));
    EXPECT_EQ(0, fs_->Close(handle, nullptr));
    return static_cast<Result>(kind);
  }

  TestBlockDevice* disk_ = nullptr;
};

TEST_F(FsPathsTest, SysnodeListsVolumesByDeviceRangeAndByLabel) {
  EXPECT_EQ((Names{"dev", "root"}), List("/"));
  EXPECT_EQ((Names{"DISK:0@0,10000", "DISK:0@10000,10000"}), List("/dev"));
  EXPECT_EQ((Names{"alpha", "beta"}), List("/root"));
  EXPECT_EQ((Names{"data"}), List("/root/beta"));
  EXPECT_EQ((Names{"data"}), List("/dev/DISK:0@10000,10000"));
}

TEST_F(FsPathsTest, SeparatorsDotsAndLeavingAVolume) {
  struct Case {
    const char* path;
    Result expected;
  };
  const Case cases[] = {
      {"/root/alpha/data", 1},
      {"//root///alpha//data", 1},
      {"/root/alpha/", 2},
      {"/root/alpha/./data", 1},
      {"/root/alpha/data/...", fsrc::kNotADirectory},
      {"/root/alpha/.../data", 1},
      {"/root/alpha/..", 2},              // leaves the volume for "root"
      {"/root/alpha/../beta/data", 1},    // and enters the other one
      {"/root/alpha/../../dev", 2},
      {"/root/alpha/missing", fsrc::kNotFound},
      {"/root/alpha/data/x", fsrc::kNotADirectory},
      {"/nowhere", fsrc::kNotFound},
      {"/DEV", 2},
      {"", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, KindOf(c.path)) << c.path;
  EXPECT_EQ(fsrc::kNotFound, KindOf("/DEV", nullptr, fs_open::kExactCase));
  EXPECT_EQ(fsrc::kNotFound, KindOf("/root/alpha/DATA", nullptr, fs_open::kExactCase));
  EXPECT_EQ(1, KindOf("/root/alpha/DATA"));
}

TEST_F(FsPathsTest, RelativePathsStartAtTheBaseHandle) {
  FsHandle* alpha = nullptr;
  ASSERT_EQ(0, fs_->Open(&alpha, "/root/alpha", nullptr, 0, nullptr));
  EXPECT_EQ(1, KindOf("data", alpha));
  EXPECT_EQ(1, KindOf("../beta/data", alpha));
  EXPECT_EQ(1, KindOf("/root/beta/data", alpha)) << "an absolute path ignores the base";
  EXPECT_EQ(2, KindOf("dev", nullptr)) << "without a base: from the sysnode root";
  FsHandle* data = nullptr;
  ASSERT_EQ(0, fs_->Open(&data, "data", alpha, 0, nullptr));
  EXPECT_EQ(fsrc::kNotADirectory, KindOf("x", data));
  EXPECT_EQ(0, fs_->Close(data, nullptr));
  EXPECT_EQ(0, fs_->Close(alpha, nullptr));
}

TEST_F(FsPathsTest, FailedOpenLeavesTheHandleNull) {
  FsHandle* handle = reinterpret_cast<FsHandle*>(1);
  EXPECT_EQ(fsrc::kNotFound, fs_->Open(&handle, "/root/alpha/none", nullptr, 0, nullptr));
  EXPECT_EQ(nullptr, handle);
  handle = reinterpret_cast<FsHandle*>(1);
  EXPECT_EQ(fsrc::kNotFound, fs_->Open(&handle, "/root/gamma", nullptr, 0, nullptr));
  EXPECT_EQ(nullptr, handle);
}

TEST_F(FsPathsTest, GetPathAndGetDirName) {
  FsHandle* alpha = nullptr;
  ASSERT_EQ(0, fs_->Open(&alpha, "/dev/DISK:0@0,10000/.", nullptr, 0, nullptr));
  char buffer[64];
  ASSERT_EQ(0, fs_->GetDirName(alpha, buffer, sizeof buffer));
  EXPECT_STREQ("alpha", buffer);
  ASSERT_EQ(0, fs_->GetPath(alpha, buffer, sizeof buffer));
  EXPECT_STREQ("/root/alpha", buffer);
  EXPECT_EQ(fsrc::kBufferTooSmall, fs_->GetPath(alpha, buffer, 11));
  FsHandle* root = nullptr;
  ASSERT_EQ(0, fs_->Open(&root, "/", nullptr, 0, nullptr));
  ASSERT_EQ(0, fs_->GetPath(root, buffer, sizeof buffer));
  EXPECT_STREQ("/", buffer);
  fs_->Close(root, nullptr);
  fs_->Close(alpha, nullptr);
}

TEST_F(FsPathsTest, HandleOperationsCheckTheNodeType) {
  FsHandle* directory = nullptr;
  FsHandle* file = nullptr;
  ASSERT_EQ(0, fs_->Open(&directory, "/root/alpha", nullptr, fs_open::kRead, nullptr));
  ASSERT_EQ(0, fs_->Open(&file, "/root/alpha/data", nullptr, fs_open::kRead, nullptr));
  char name[16];
  uint8_t buffer[8];
  uint32_t count = 0;
  EXPECT_EQ(fsrc::kNotAFile, fs_->Seek(directory, 0, 0, nullptr));
  EXPECT_EQ(fsrc::kNotAFile, fs_->ReadFile(directory, buffer, 8, &count, nullptr));
  EXPECT_EQ(fsrc::kNotADirectory, fs_->ReadDir(file, name, sizeof name, nullptr));
  EXPECT_EQ(fsrc::kNotADirectory, fs_->RewindDir(file, nullptr));
  EXPECT_EQ(fsrc::kReadOnly, fs_->WriteFile(file, buffer, 8, &count, nullptr))
      << "not open for writing";
  EXPECT_EQ(fsrc::kInvalidArgument, fs_->Seek(file, -1, 0, nullptr));
  EXPECT_EQ(fsrc::kInvalidArgument, fs_->Seek(file, 0, 3, nullptr));
  uint64_t position = 0;
  EXPECT_EQ(0, fs_->Seek(file, 7, 2, &position));
  EXPECT_EQ(7u, position);
  fs_->Close(file, nullptr);
  fs_->Close(directory, nullptr);
}

TEST_F(FsPathsTest, AttributesAnsweredByTheFramework) {
  FsHandle* file = nullptr;
  ASSERT_EQ(0, fs_->Open(&file, "/root/alpha/data", nullptr, fs_open::kRead, nullptr));
  uint8_t out[16] = {};
  uint32_t word = 0;
  uint64_t size = 99;
  EXPECT_EQ(fsrc::kBufferTooSmall, fs_->GetAttr(file, 2, out, 4, nullptr));
  EXPECT_EQ(0, fs_->GetAttr(file, 2, &size, 8, nullptr));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(0, fs_->GetAttr(file, 3, &word, 4, nullptr));
  EXPECT_EQ(512u, word);
  EXPECT_EQ(0, fs_->GetAttr(file, 6, &word, 4, nullptr));
  EXPECT_EQ(512u, word) << "the device's sector size";
  EXPECT_EQ(fsrc::kReadOnlyAttribute, fs_->SetAttr(file, 1, &word, 4, nullptr, 0, nullptr));
  EXPECT_EQ(0, fs_->SetAttr(file, 3, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(fsrc::kBufferTooSmall, fs_->GetAttr(file, 1, out, 3, nullptr));
  EXPECT_EQ(fsrc::kReadOnly, fs_->SetAttr(file, 2, &size, 8, nullptr, 0, nullptr))
      << "setting the size needs write access";
  EXPECT_EQ(fsrc::kInvalidArgument, fs_->GetAttr(file, 0, out, 16, nullptr));
  EXPECT_EQ(fsrc::kNotSupported, fs_->GetAttr(file, 9, out, 16, nullptr));
  fs_->Close(file, nullptr);
  FsHandle* root = nullptr;
  ASSERT_EQ(0, fs_->Open(&root, "/", nullptr, 0, nullptr));
  EXPECT_EQ(fsrc::kInvalidArgument, fs_->GetAttr(root, 6, &word, 4, nullptr))
      << "sysnode has no device";
  EXPECT_EQ(0, fs_->GetAttr(root, 7, out, 16, nullptr));
  fs_->Close(root, nullptr);
}

TEST_F(FsPathsTest, RenamingInRootChangesTheLabelAndInDevIsRefused) {
  EXPECT_EQ(fsrc::kNotSupported,
            fs_->Rename("/dev/DISK:0@0,10000", nullptr, "/dev/other", nullptr, nullptr));
  EXPECT_EQ(fsrc::kExists, fs_->Rename("/root/alpha", nullptr, "/root/beta", nullptr, nullptr));
  EXPECT_EQ(fsrc::kCrossVolume,
            fs_->Rename("/root/alpha/data", nullptr, "/root/beta/x", nullptr, nullptr));
  ASSERT_EQ(0, fs_->Rename("/root/alpha", nullptr, "/root/gamma", nullptr, nullptr));
  EXPECT_EQ((Names{"gamma", "beta"}), List("/root"));
  ASSERT_EQ(0, fs_->Unmount("DISK:0", 0, 65536));
  ASSERT_EQ(0, fs_->Mount("DISK:0", 0, 65536, 0, nullptr, 0));
  EXPECT_EQ((Names{"beta", "gamma"}), List("/root")) << "the label reached the disk";
}

TEST_F(FsPathsTest, VolumeNameIsBoundedByItsBuffer) {
  char name[12];
  memset(name, 'x', sizeof name);
  EXPECT_EQ(fsrc::kBufferTooSmall, fs_->FormatVolumeName(name, 8, "IDE:0", 0x200, 0x1000));
  EXPECT_STREQ("IDE:0@2", name);
  EXPECT_EQ('x', name[8]);
  char full[40];
  EXPECT_EQ(0, fs_->FormatVolumeName(full, sizeof full, "IDE:0", 0x200, 0xABCDEF012));
  EXPECT_STREQ("IDE:0@200,ABCDEF012", full);
}

}  // namespace
