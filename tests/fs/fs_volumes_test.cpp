#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fs/fs_codes.h"
#include "fs/partition_table.h"
#include "fs/winfs.h"
#include "fs_fixture.h"
#include "platform/platform_codes.h"
#include "testlib/test_block_device.h"

namespace {

using Names = std::vector<std::string>;
using Fault = TestBlockDevice::Fault;

constexpr uint64_t kVolume = 65536;

// Forwards to a test device and notes every transfer made while nobody holds it open.
class OpenCheckingDevice : public BlockDevice {
 public:
  explicit OpenCheckingDevice(TestBlockDevice* inner) : BlockDevice("CHK", 0), inner_(inner) {}
  uint64_t Capacity() override { return inner_->Capacity(); }
  uint32_t SectorSize() override { return inner_->SectorSize(); }
  int Read(uint64_t start, uint32_t count, void* buffer, uint32_t argument) override {
    if (OpenCount() == 0) ++transfers_while_closed;
    return inner_->Read(start, count, buffer, argument);
  }
  int Write(uint64_t start, uint32_t count, const void* buffer, uint32_t argument) override {
    if (OpenCount() == 0) ++transfers_while_closed;
    return inner_->Write(start, count, buffer, argument);
  }
  int transfers_while_closed = 0;

 private:
  TestBlockDevice* inner_;
};

class FsVolumesTest : public FsFixture {
 protected:
  void SetUp() override {
    FsFixture::SetUp();
    disk_ = TinyDisk({"alpha", "beta"});
  }

  Names Mounted() {
    Names names;
    void* cursor = nullptr;
    char device[32], volume[32];
    uint64_t start = 0, length = 0;
    while (fs_->GetMount(&cursor, device, sizeof device, volume, sizeof volume, &start, &length,
                         nullptr, nullptr, 0, nullptr) == 0)
      names.push_back(std::string(device) + " " + volume);
    return names;
  }

  TestBlockDevice* disk_ = nullptr;
};

TEST_F(FsVolumesTest, RangesOfOneDeviceMayTouchButNotOverlap) {
  TestBlockDevice* other = TestBlockDevice::InMemory("DISK", 1, 512, 512);
  FormatTinyFs(other, 0, "other");
  ASSERT_EQ(0, fs_->Mount("DISK:0", kVolume, kVolume, 0, nullptr, 0));
  EXPECT_EQ(fsrc::kBusy, fs_->Mount("DISK:0", kVolume, kVolume, 0, nullptr, 0));
  EXPECT_EQ(fsrc::kBusy, fs_->Mount("DISK:0", 0, kVolume + 1, 0, nullptr, 0))
      << "one byte of overlap";
  EXPECT_EQ(0, fs_->Mount("DISK:0", 0, kVolume, 0, nullptr, 0)) << "ends where beta begins";
  EXPECT_EQ(0, fs_->Mount("DISK:1", 0, kVolume + 1, 0, nullptr, 0)) << "another device";
  EXPECT_EQ((Names{"DISK:0 beta", "DISK:0 alpha", "DISK:1 other"}), Mounted());
}

TEST_F(FsVolumesTest, MountOffersTheDeviceToEveryTypeAndReportsWhyNoneTookIt) {
  EXPECT_EQ(fsrc::kNoType, fs_->Mount("DISK:0", 512, kVolume, 0, nullptr, 0))
      << "no type recognises an empty range";
  EXPECT_EQ(prc::kNoSuchDevice, fs_->Mount("NONE:0", 0, kVolume, 0, nullptr, 0));
  disk_->FailRead(0, Fault::kAlways);
  EXPECT_EQ(prc::kDeviceIoError, fs_->Mount("DISK:0", 0, kVolume, 0, nullptr, 0))
      << "a failure other than not-this-type is remembered";
  EXPECT_EQ(0u, disk_->OpenCount()) << "a device no type took is closed again";
  EXPECT_TRUE(Mounted().empty());
}

TEST_F(FsVolumesTest, TypesAreFoundByNameIgnoringCase) {
  EXPECT_EQ(&kTinyFsType, manager_->FindType("tinyfs"));
  EXPECT_STREQ("WinFS", manager_->FindType("WINFS")->name);
  EXPECT_STREQ("sysnode", manager_->FindType("SysNode")->name);
  EXPECT_EQ(nullptr, manager_->FindType("tiny"));
}

TEST_F(FsVolumesTest, UnmountSkipsBusyVolumesAndSaysSo) {
  ASSERT_EQ(0, fs_->Mount("DISK:0", 0, kVolume, 0, nullptr, 0));
  ASSERT_EQ(0, fs_->Mount("DISK:0", kVolume, kVolume, 0, nullptr, 0));
  FsHandle* file = nullptr;
  ASSERT_EQ(0, fs_->Open(&file, "/root/alpha/data", nullptr, fs_open::kRead, nullptr));
  EXPECT_EQ(fsrc::kBusy, fs_->Unmount(nullptr, 0, 0));
  EXPECT_EQ((Names{"DISK:0 alpha"}), Mounted());
  EXPECT_EQ(1u, disk_->OpenCount());
  fs_->UnmountAll();  // walks past the busy volume instead of retrying it for ever
  EXPECT_EQ((Names{"DISK:0 alpha"}), Mounted());
  EXPECT_EQ(0, fs_->Close(file, nullptr));
  EXPECT_EQ(fsrc::kNothingMatched, fs_->Unmount("DISK:0", kVolume, kVolume));
  EXPECT_EQ(0, fs_->Unmount("DISK:0", 0, 0));
  EXPECT_EQ(fsrc::kNothingMatched, fs_->Unmount(nullptr, 0, 0));
  EXPECT_EQ(0u, disk_->OpenCount());
  EXPECT_EQ(Names{}, List("/dev"));
}

TEST_F(FsVolumesTest, AVolumeWithoutANameStandsInNeitherDirectory) {
  {
    FsRequestScope scope(manager_->scheduler(), "test", 2, nullptr, nullptr);
    ASSERT_EQ(0, manager_->CreateVolume(scope.request(), nullptr, &kWinFsType, nullptr,
                                        nullptr, 0, 0, 0, nullptr, 0, nullptr, 0, nullptr));
  }
  EXPECT_EQ(Names{}, List("/dev"));
  EXPECT_EQ(Names{}, List("/root"));
  EXPECT_EQ((Names{" "}), Mounted());
}

TEST_F(FsVolumesTest, MountAllMountsThePartitionsOfEveryListedDisk) {
  PartTable table = {};
  table.count = 3;
  table.entries[0] = PartEntry{kVolume, kVolume, 0x5A, 0};
  table.entries[1] = PartEntry{0, 0, -1, 0};
  table.entries[2] = PartEntry{2 * kVolume, kVolume, 0x5A, 1};
  ASSERT_EQ(0, fs_->WritePartTable(&table, "DISK:0", 1));
  FormatTinyFs(disk_, kVolume, "first");
  FormatTinyFs(disk_, 2 * kVolume, "second");
  TestBlockDevice* unlisted = TestBlockDevice::InMemory("DISK", 1, 512, 512);
  unlisted->Poke(0, disk_->Image().data(), 512);
  disk_->AddStateFlags(5);
  unlisted->AddStateFlags(5 | 8);  // a member of a virtual disk is mounted through that
  fs_->MountAll();
  EXPECT_EQ((Names{"DISK:0 first", "DISK:0 second"}), Mounted());
  void* cursor = nullptr;
  uint32_t flags = 9, parameters[4] = {7, 7, 7, 7};
  char device[16], volume[16];
  uint64_t start = 0, length = 0;
  ASSERT_EQ(0, fs_->GetMount(&cursor, device, sizeof device, volume, sizeof volume, &start,
                             &length, &flags, parameters, 16, nullptr));
  EXPECT_EQ(kVolume, start);
  EXPECT_EQ(kVolume, length);
  EXPECT_EQ(0u, flags);
  EXPECT_EQ(12u, parameters[0]);
  EXPECT_EQ(0u, parameters[1]);
  EXPECT_EQ(7u, parameters[3]) << "only the stored block is copied";
  ASSERT_EQ(0, fs_->GetMount(&cursor, device, sizeof device, volume, sizeof volume, &start,
                             &length, &flags, nullptr, 0, nullptr));
  EXPECT_EQ(1u, flags) << "the type byte's high bit mounts read-only";
  EXPECT_EQ(fsrc::kNoMoreEntries,
            fs_->GetMount(&cursor, device, sizeof device, nullptr, 0, nullptr, nullptr,
                          nullptr, nullptr, 0, nullptr));
  FsHandle* file = nullptr;
  ASSERT_EQ(0, fs_->Open(&file, "/root/second/data", nullptr, fs_open::kWrite, nullptr));
  uint32_t count = 0;
  EXPECT_EQ(fsrc::kReadOnly, fs_->WriteFile(file, "x", 1, &count, nullptr));
  fs_->Close(file, nullptr);
}

// Mount, write three blocks, close and unmount: the sequence whose every device step the
// fault tests break.
struct SequenceResult {
  Result mount = 1, open = 1, write = 1, close = 1, unmount = 1;
  // The first failure of the sequence, or 0.
  Result First() const {
    for (Result r : {mount, open, write, close, unmount})
      if (r != 0 && r != 1) return r;
    return 0;
  }
};

class FaultSequenceTest : public FsVolumesTest {
 protected:
  void SetUp() override {
    FsVolumesTest::SetUp();
    checked_ = new OpenCheckingDevice(disk_);
    payload_.resize(1500);
    for (size_t i = 0; i < payload_.size(); ++i) payload_[i] = static_cast<char>('a' + i % 23);
  }

  SequenceResult Run() {
    SequenceResult r;
    r.mount = fs_->Mount("CHK:0", 0, kVolume, 0, nullptr, 0);
    if (r.mount != 0) return r;
    FsHandle* file = nullptr;
    r.open = fs_->Open(&file, "/root/alpha/data", nullptr, fs_open::kRead | fs_open::kWrite,
                       nullptr);
    if (r.open == 0) {
      uint32_t count = 0;
      r.write = fs_->WriteFile(file, payload_.data(), 1500, &count, nullptr);
      r.close = fs_->Close(file, nullptr);
    }
    r.unmount = fs_->Unmount("CHK:0", 0, 0);
    return r;
  }

  // The sectors the clean sequence reads and writes.
  std::vector<uint64_t> WrittenSectors() {
    std::vector<uint64_t> sectors;
    for (const auto& write : disk_->write_log())
      for (uint64_t s = 0; s < write.data.size() / 512; ++s) sectors.push_back(write.start + s);
    return sectors;
  }

  OpenCheckingDevice* checked_ = nullptr;
  std::string payload_;
};

TEST_F(FaultSequenceTest, CleanSequenceStoresTheFile) {
  disk_->StartWriteLog();
  SequenceResult r = Run();
  EXPECT_EQ(0, r.First());
  EXPECT_EQ(0, r.unmount);
  std::vector<uint8_t> image = disk_->Image();
  EXPECT_EQ(0, memcmp(image.data() + 512, payload_.data(), payload_.size()));
  EXPECT_EQ(1500u, image[4] | image[5] << 8);
  EXPECT_EQ(4u, WrittenSectors().size());
  EXPECT_EQ(0, checked_->transfers_while_closed);
  EXPECT_EQ(0u, checked_->OpenCount());
}

TEST_F(FaultSequenceTest, EveryBrokenStepEndsWithTheDeviceError) {
  // Sectors 0-3 are read or written by the clean sequence (superblock, three data blocks).
  for (bool write : {false, true}) {
    for (uint64_t sector = 0; sector < 4; ++sector) {
      SCOPED_TRACE((write ? "write of sector " : "read of sector ") + std::to_string(sector));
      disk_->ClearFaults();
      FormatTinyFs(disk_, 0, "alpha");
      if (write) disk_->FailWrite(sector, Fault::kAlways);
      else disk_->FailRead(sector, Fault::kAlways);
      uint32_t failures_before = disk_->counters().failures;
      SequenceResult r = Run();
      if (disk_->counters().failures == failures_before) {
        EXPECT_EQ(0, r.First()) << "the step was not taken";
        continue;
      }
      EXPECT_EQ(prc::kDeviceIoError, r.First());
      if (write) {
        EXPECT_EQ(prc::kDeviceIoError, r.close) << "the failed flush is reported by Close";
        EXPECT_EQ(prc::kDeviceIoError, r.unmount) << "and by the final write-back";
      }
      EXPECT_TRUE(Mounted().empty()) << "the volume is gone whatever the failure";
      EXPECT_EQ(0u, checked_->OpenCount());
      EXPECT_EQ(0, checked_->transfers_while_closed);
    }
  }
}

TEST_F(FaultSequenceTest, AWriteThatFailsOnceReachesTheDiskAtUnmount) {
  disk_->FailWrite(2, Fault::kOnce);
  SequenceResult r = Run();
  EXPECT_EQ(prc::kDeviceIoError, r.close);
  EXPECT_EQ(0, r.unmount);
  std::vector<uint8_t> image = disk_->Image();
  EXPECT_EQ(0, memcmp(image.data() + 512, payload_.data(), payload_.size()));
  EXPECT_EQ(0, checked_->transfers_while_closed);
}

TEST_F(FaultSequenceTest, FlushOfEveryVolumeReportsAFailure) {
  ASSERT_EQ(0, fs_->Mount("CHK:0", 0, kVolume, 0, nullptr, 0));
  FsHandle* file = nullptr;
  ASSERT_EQ(0, fs_->Open(&file, "/root/alpha/data", nullptr, fs_open::kWrite, nullptr));
  uint32_t count = 0;
  ASSERT_EQ(0, fs_->WriteFile(file, payload_.data(), 100, &count, nullptr));
  disk_->FailWrite(1, Fault::kAlways);
  EXPECT_EQ(prc::kDeviceIoError, fs_->Flush(nullptr, nullptr));
  EXPECT_EQ(prc::kDeviceIoError, fs_->Flush(file, nullptr));
  disk_->ClearFaults();
  EXPECT_EQ(0, fs_->Close(file, nullptr));
  EXPECT_EQ(0, fs_->Unmount(nullptr, 0, 0));
}

}  // namespace
