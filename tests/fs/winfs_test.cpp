#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fs/fs_codes.h"
#include "fs/winfs.h"
#include "fs_fixture.h"
#include "testlib/test_block_device.h"

namespace {

using Names = std::vector<std::string>;

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = path + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
      else DeleteFileA(child.c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

std::string ReadHostFile(const std::string& path) {
  std::string bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return "(missing)";
  char buffer[256];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  fclose(file);
  return bytes;
}

// WinFS over the host drive R:, which the test prefix links to a folder of its own (as it
// links M: for the mass-storage player), and which holds the fixed host root.
class WinFsTest : public FsFixture {
 protected:
  void SetUp() override {
    FsFixture::SetUp();
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kHostDrive))
        << "the test prefix links no folder as R:";
    RemoveTree(kTargets);
    std::string folder = kHostDrive;
    for (const char* part : {"Targets", "\\DiskImage", "\\System"}) {
      folder += part;
      CreateDirectoryA(folder.c_str(), nullptr);
    }
    root_ = folder;
    DWORD attributes = GetFileAttributesA(kWinFsHostRoot);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << "R: does not show the folder";
  }
  void TearDown() override {
    FsFixture::TearDown();
    RemoveTree(kTargets);
  }

  void HostFile(const std::string& name, const std::string& bytes) {
    FILE* file = fopen((root_ + "\\" + name).c_str(), "wb");
    ASSERT_NE(nullptr, file);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
  }
  std::string Label() {
    char device[16], volume[80];
    void* cursor = nullptr;
    if (fs_->GetMount(&cursor, device, sizeof device, volume, sizeof volume, nullptr, nullptr,
                      nullptr, nullptr, 0, nullptr) != 0)
      return "(none)";
    return volume;
  }
  FsHandle* OpenFile(const char* path, uint32_t flags) {
    FsHandle* handle = nullptr;
    EXPECT_EQ(0, fs_->Open(&handle, path, nullptr, flags, nullptr)) << path;
    return handle;
  }

  static constexpr const char* kHostDrive = "R:\\";
  static constexpr const char* kTargets = "R:\\Targets";
  std::string root_;
};

TEST_F(WinFsTest, TheLabelIsTheFirstLineOfItsFile) {
  ASSERT_EQ(0, fs_->Mount("WINFS:0", 0, 0, 0, nullptr, 0));
  EXPECT_EQ("winfs", Label()) << "no label file";
  ASSERT_EQ(0, fs_->Unmount("WINFS:0", 0, 0));
  HostFile("winfs.name", "player disk\r\nsecond line\n");
  ASSERT_EQ(0, fs_->Mount("winfs:0", 0, 0, 0, nullptr, 0));
  EXPECT_EQ("player disk", Label());
  EXPECT_EQ((Names{"player disk"}), List("/root"));
  EXPECT_EQ((Names{"WINFS:0@0,0"}), List("/dev"));
  ASSERT_EQ(0, fs_->Unmount(nullptr, 0, 0));
  HostFile("winfs.name", std::string(100, 'L'));
  ASSERT_EQ(0, fs_->Mount("WINFS:0", 0, 0, 0, nullptr, 0));
  EXPECT_EQ(std::string(63, 'L'), Label());
}

TEST_F(WinFsTest, OnlyTheWinFsDeviceIsTaken) {
  TestBlockDevice::InMemory("DISK", 0, 512, 64);
  EXPECT_EQ(fsrc::kNoType, fs_->Mount("DISK:0", 0, 0, 0, nullptr, 0));
  RemoveTree(kTargets);
  EXPECT_EQ(fsrc::kNotFound, fs_->Mount("WINFS:0", 0, 0, 0, nullptr, 0))
      << "the host root is missing";
}

TEST_F(WinFsTest, FilesAndDirectoriesOfTheHostTree) {
  HostFile("winfs.name", "host");
  ASSERT_EQ(0, fs_->Mount("WINFS:0", 0, 0, 0, nullptr, 0));
  FsHandle* file = nullptr;
  ASSERT_EQ(0, fs_->CreateDir(&file, "/root/host/music", nullptr, 0, nullptr));
  EXPECT_EQ(0, fs_->Close(file, nullptr));
  ASSERT_EQ(0, fs_->CreateFile(&file, "/root/host/music/track.mp3", nullptr,
                               fs_open::kRead | fs_open::kWrite, nullptr));
  uint32_t count = 0;
  ASSERT_EQ(0, fs_->WriteFile(file, "ID3 and the rest", 16, &count, nullptr));
  EXPECT_EQ(16u, count);
  ASSERT_EQ(0, fs_->Seek(file, 4, 0, nullptr));
  char buffer[32] = {};
  ASSERT_EQ(0, fs_->ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ("and the rest", std::string(buffer, count));
  EXPECT_EQ(fsrc::kEndOfFile, fs_->ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(fsrc::kOpenElsewhere, fs_->Remove("/root/host/music/track.mp3", nullptr, nullptr));
  EXPECT_EQ(0, fs_->Close(file, nullptr));
  EXPECT_EQ("ID3 and the rest", ReadHostFile(root_ + "\\music\\track.mp3"));

  file = reinterpret_cast<FsHandle*>(1);
  EXPECT_EQ(fsrc::kExists, fs_->CreateFile(&file, "/root/host/music/track.mp3", nullptr,
                                          fs_open::kWrite, nullptr));
  EXPECT_EQ(nullptr, file);
  EXPECT_EQ(fsrc::kExists, fs_->CreateDir(&file, "/root/host/music", nullptr, 0, nullptr));
  EXPECT_EQ(0, fs_->Unmount(nullptr, 0, 0)) << "nothing was left open";
  ASSERT_EQ(0, fs_->Mount("WINFS:0", 0, 0, 0, nullptr, 0));

  EXPECT_EQ((Names{"track.mp3"}), List("/root/host/music"));
  Names top = List("/root/host");
  std::sort(top.begin(), top.end());
  EXPECT_EQ((Names{"music", "winfs.name"}), top) << "never . or ..";
  ASSERT_EQ(0, fs_->Rename("/root/host/music/track.mp3", nullptr, "/root/host/moved.mp3",
                           nullptr, nullptr));
  EXPECT_EQ("ID3 and the rest", ReadHostFile(root_ + "\\moved.mp3"));
  EXPECT_EQ(Names{}, List("/root/host/music"));
  EXPECT_EQ(0, fs_->Remove("/root/host/music", nullptr, nullptr));
  EXPECT_EQ(0, fs_->Remove("/root/host/moved.mp3", nullptr, nullptr));
  EXPECT_EQ((Names{"winfs.name"}), List("/root/host"));
  EXPECT_EQ(fsrc::kNotFound, fs_->Remove("/root/host/moved.mp3", nullptr, nullptr));
}

TEST_F(WinFsTest, DotDotAtTheHostRootLeavesTheVolume) {
  ASSERT_EQ(0, fs_->Mount("WINFS:0", 0, 0, 0, nullptr, 0));
  FsHandle* directory = nullptr;
  ASSERT_EQ(0, fs_->CreateDir(&directory, "/root/winfs/sub", nullptr, 0, nullptr));
  char path[64];
  ASSERT_EQ(0, fs_->GetPath(directory, path, sizeof path));
  EXPECT_EQ(std::string("/root/winfs/sub"), path);
  EXPECT_EQ((Names{"winfs"}), List("/root/winfs/sub/../.."));
  fs_->Close(directory, nullptr);
}

TEST_F(WinFsTest, NamesCannotReachOutsideTheHostRoot) {
  ASSERT_EQ(0, fs_->Mount("WINFS:0", 0, 0, 0, nullptr, 0));
  HostFile("inside", "x");
  FILE* outside = fopen((std::string(kTargets) + "\\secret").c_str(), "wb");
  ASSERT_NE(nullptr, outside);
  fclose(outside);
  FsHandle* handle = nullptr;
  for (const char* path : {"/root/winfs/..\\..\\secret", "/root/winfs/r:secret",
                           "/root/winfs/....", "/root/winfs/x\\..\\..\\..\\secret"}) {
    EXPECT_EQ(fsrc::kInvalidArgument, fs_->Open(&handle, path, nullptr, fs_open::kRead, nullptr))
        << path;
    EXPECT_EQ(fsrc::kInvalidArgument,
              fs_->CreateFile(&handle, path, nullptr, fs_open::kWrite, nullptr))
        << path;
  }
  EXPECT_EQ(fsrc::kInvalidArgument,
            fs_->Rename("/root/winfs/inside", nullptr, "/root/winfs/..\\moved", nullptr, nullptr));
  EXPECT_EQ(fsrc::kInvalidArgument, fs_->Remove("/root/winfs/..\\..\\secret", nullptr, nullptr));
  EXPECT_EQ("", ReadHostFile(std::string(kTargets) + "\\secret"));
  EXPECT_EQ("x", ReadHostFile(root_ + "\\inside"));
}

TEST_F(WinFsTest, SizesTimesAndIdentities) {
  ASSERT_EQ(0, fs_->Mount("WINFS:0", 0, 0, 0, nullptr, 0));
  HostFile("a.bin", "0123456789");
  FsHandle* file = OpenFile("/root/winfs/a.bin", fs_open::kRead | fs_open::kWrite);
  ASSERT_NE(nullptr, file);
  uint64_t size = 0;
  ASSERT_EQ(0, fs_->GetAttr(file, 2, &size, 8, nullptr));
  EXPECT_EQ(10u, size);
  size = 4;
  ASSERT_EQ(0, fs_->SetAttr(file, 2, &size, 8, nullptr, 0, nullptr));
  // The creation time in milliseconds since 1970: the host cannot keep a set one here (its
  // files have no settable birth time), so the check is on the conversion of a fresh file's.
  int64_t created = 0;
  ASSERT_EQ(0, fs_->GetAttr(file, 8, &created, 8, nullptr));
  FILETIME now_host;
  GetSystemTimeAsFileTime(&now_host);
  int64_t now = static_cast<int64_t>(
      ((uint64_t{now_host.dwHighDateTime} << 32 | now_host.dwLowDateTime) / 10000) -
      11644473600000ull);
  EXPECT_LT(std::llabs(now - created), 600000) << created;
  uint8_t first[16], again[16], other[16];
  ASSERT_EQ(0, fs_->GetAttr(file, 7, first, 16, nullptr));
  EXPECT_EQ(fsrc::kReadOnlyAttribute, fs_->SetAttr(file, 7, first, 16, nullptr, 0, nullptr));
  fs_->Close(file, nullptr);
  EXPECT_EQ("0123", ReadHostFile(root_ + "\\a.bin"));
  file = OpenFile("/root/winfs/a.bin", fs_open::kRead);
  ASSERT_EQ(0, fs_->GetAttr(file, 7, again, 16, nullptr));
  fs_->Close(file, nullptr);
  EXPECT_EQ(0, memcmp(first, again, 16)) << "the identity follows the host path";
  HostFile("b.bin", "");
  file = OpenFile("/root/winfs/b.bin", fs_open::kRead);
  ASSERT_EQ(0, fs_->GetAttr(file, 7, other, 16, nullptr));
  fs_->Close(file, nullptr);
  EXPECT_NE(0, memcmp(first, other, 16));
}

TEST_F(WinFsTest, PositionsBeyondFourGibibytesAreKept) {
  ASSERT_EQ(0, fs_->Mount("WINFS:0", 0, 0, 0, nullptr, 0));
  FsHandle* file = nullptr;
  ASSERT_EQ(0, fs_->CreateFile(&file, "/root/winfs/big", nullptr,
                               fs_open::kRead | fs_open::kWrite, nullptr));
  const uint64_t kFar = (uint64_t{1} << 32) + 16;
  ASSERT_EQ(0, fs_->Seek(file, static_cast<int64_t>(kFar), 0, nullptr));
  uint32_t count = 0;
  ASSERT_EQ(0, fs_->WriteFile(file, "far", 3, &count, nullptr));
  uint64_t size = 0;
  ASSERT_EQ(0, fs_->GetAttr(file, 2, &size, 8, nullptr));
  EXPECT_EQ(kFar + 3, size);
  ASSERT_EQ(0, fs_->Seek(file, 16, 0, nullptr));
  char low[3] = {1, 1, 1};
  ASSERT_EQ(0, fs_->ReadFile(file, low, 3, &count, nullptr));
  EXPECT_EQ(std::string(3, '\0'), std::string(low, 3)) << "nothing landed at 4 GiB less";
  fs_->Close(file, nullptr);
  EXPECT_EQ(0, fs_->Remove("/root/winfs/big", nullptr, nullptr));
}

TEST_F(WinFsTest, TwoHandlesOnOneFileShareItsHostHandle) {
  ASSERT_EQ(0, fs_->Mount("WINFS:0", 0, 0, 0, nullptr, 0));
  HostFile("shared", "abcdef");
  FsHandle* first = OpenFile("/root/winfs/shared", fs_open::kRead);
  FsHandle* second = OpenFile("/root/winfs/shared", fs_open::kRead);
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(0, fs_->Close(first, nullptr));
  char buffer[6];
  uint32_t count = 0;
  EXPECT_EQ(0, fs_->ReadFile(second, buffer, 6, &count, nullptr))
      << "closing one handle leaves the other usable";
  EXPECT_EQ("abcdef", std::string(buffer, count));
  EXPECT_EQ(0, fs_->Close(second, nullptr));
}

}  // namespace
