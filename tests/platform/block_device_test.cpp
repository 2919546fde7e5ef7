#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/ir_block_device.h"
#include "platform/platform_codes.h"
#include "platform/virtual_disk.h"
#include "support/byte_order.h"
#include "testlib/temp_dir.h"
#include "testlib/test_block_device.h"

namespace {

using Fault = TestBlockDevice::Fault;

// Every device a test makes is destroyed when it ends, so the registry starts empty.
class BlockDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0u, BlockDeviceCount());
    devices_ = IRBlockDevice::Create();
    virtual_disk_ = IRVirtualDisk::Create(devices_);
  }
  void TearDown() override {
    virtual_disk_->Destroy();
    devices_->Destroy();
    DestroyAllBlockDevices();
  }
  IRBlockDevice* devices_ = nullptr;
  IRVirtualDisk* virtual_disk_ = nullptr;
};

TEST_F(BlockDeviceTest, OpenFindsDevicesByNameAndNumberWhateverTheCase) {
  TestBlockDevice* ide = TestBlockDevice::InMemory("IDE", 0, 512, 64);
  TestBlockDevice::InMemory("IDE", 1, 512, 64);
  struct Case {
    const char* name;
    Result expected;
  };
  const Case cases[] = {{"IDE:0", 0}, {"ide:0", 0}, {"Ide:1", 0}, {"IDE0", prc::kNoSuchDevice},
                        {"IDE:2", prc::kNoSuchDevice}, {"IDE:0 ", prc::kNoSuchDevice},
                        {"", prc::kNoSuchDevice}};
  for (const Case& c : cases) {
    BlockDevice* device = reinterpret_cast<BlockDevice*>(1);
    EXPECT_EQ(c.expected, devices_->Open(&device, c.name)) << c.name;
    if (c.expected == 0) devices_->Close(device);
    else EXPECT_EQ(nullptr, device) << c.name;
  }
  BlockDevice* device = nullptr;
  ASSERT_EQ(0, devices_->Open(&device, "ide:0"));
  EXPECT_EQ(ide, device);
  EXPECT_EQ(1u, device->OpenCount());
  devices_->Close(device);
  EXPECT_EQ(0u, device->OpenCount());
  EXPECT_EQ(6u, ide->open_notices()) << "every open and close is noticed";
}

TEST_F(BlockDeviceTest, NullDeviceAndStatusesMapToPlatformCodes) {
  uint8_t sector[512];
  EXPECT_EQ(prc::kNullDevice, devices_->Read(nullptr, 0, 1, sector, 0));
  EXPECT_EQ(prc::kNullDevice, devices_->Write(nullptr, 0, 1, sector, 0));
  EXPECT_EQ(prc::kNullDevice, devices_->Close(nullptr));
  EXPECT_EQ(prc::kNullDevice, devices_->GetName(nullptr, nullptr, 0));
  EXPECT_EQ(prc::kNullDevice, devices_->Control(nullptr, 4, sector, 4));
  struct Case {
    int status;
    uint32_t code;
  };
  const Case cases[] = {{1, 0},           {2, 0x806E0006}, {3, 0x80000002}, {4, 0x806E0004},
                        {5, 0x806E0007},  {6, 0x806E0008}, {0, 0x806E0001}, {9, 0x806E0001}};
  for (const Case& c : cases)
    EXPECT_EQ(c.code, static_cast<uint32_t>(DeviceStatusToResult(c.status))) << c.status;
  TestBlockDevice* disk = TestBlockDevice::InMemory("RAM", 5, 512, 8);
  EXPECT_EQ(prc::kDeviceStatus2, devices_->Read(disk, 7, 2, sector, 0)) << "past the end";
  disk->SetReady(false);
  EXPECT_FALSE(devices_->Ready(disk));
  EXPECT_EQ(prc::kDeviceStatus5, devices_->Read(disk, 0, 1, sector, 0));
}

TEST_F(BlockDeviceTest, GetNameNeedsRoomForTheWholeNameAndItsNul) {
  TestBlockDevice* disk = TestBlockDevice::InMemory("IDE", 12, 512, 8);
  char name[16];
  EXPECT_EQ(0, devices_->GetName(disk, name, 7));
  EXPECT_STREQ("IDE:12", name);
  EXPECT_EQ(prc::kDeviceBufferTooSmall, devices_->GetName(disk, name, 6));
}

TEST_F(BlockDeviceTest, EnumerateWalksTheDevicesInNumberOrder) {
  char name[32] = "";
  EXPECT_EQ(prc::kNoMoreDevices, devices_->Enumerate(name, sizeof name));
  EXPECT_EQ(prc::kNoNameBuffer, devices_->Enumerate(name, 0));
  EXPECT_EQ(prc::kNoNameBuffer, devices_->Enumerate(nullptr, 32));
  TestBlockDevice::InMemory("B", 7, 512, 8);
  TestBlockDevice::InMemory("A", 3, 512, 8);
  TestBlockDevice::InMemory("C", 5, 512, 8);
  std::vector<std::string> seen;
  while (devices_->Enumerate(name, sizeof name) == 0) seen.push_back(name);
  EXPECT_EQ((std::vector<std::string>{"A:3", "C:5", "B:7"}), seen);
  strcpy(name, "Z:9");
  EXPECT_EQ(prc::kNoSuchDevice, devices_->Enumerate(name, sizeof name));
}

TEST_F(BlockDeviceTest, FaultTableFailsASectorOnceOrAlways) {
  TestBlockDevice* disk = TestBlockDevice::InMemory("RAM", 0, 512, 16);
  std::vector<uint8_t> buffer(4 * 512, 0xAB);
  disk->FailRead(2, Fault::kOnce);
  disk->FailRead(9, Fault::kAlways, 5);
  EXPECT_EQ(prc::kDeviceIoError, devices_->Read(disk, 0, 4, buffer.data(), 0));
  EXPECT_EQ(0, devices_->Read(disk, 0, 4, buffer.data(), 0)) << "a one-time fault is used up";
  EXPECT_EQ(prc::kDeviceStatus5, devices_->Read(disk, 8, 2, buffer.data(), 0));
  EXPECT_EQ(prc::kDeviceStatus5, devices_->Read(disk, 9, 1, buffer.data(), 0));
  EXPECT_EQ(0, devices_->Read(disk, 10, 4, buffer.data(), 0));
  EXPECT_EQ(5u, disk->counters().reads);
  EXPECT_EQ(3u, disk->counters().failures);
  EXPECT_EQ(8u, disk->counters().sectors_read);
  disk->ClearFaults();
  EXPECT_EQ(0, devices_->Read(disk, 9, 1, buffer.data(), 0));
}

TEST_F(BlockDeviceTest, FailingWriteStoresTheSectorsBeforeTheFaultOrNothing) {
  TestBlockDevice* disk = TestBlockDevice::InMemory("RAM", 0, 512, 16);
  std::vector<uint8_t> data(4 * 512, 0x5A);
  disk->FailWrite(6, Fault::kOnce);
  EXPECT_EQ(prc::kDeviceIoError, devices_->Write(disk, 4, 4, data.data(), 0));
  std::vector<uint8_t> image = disk->Image();
  EXPECT_EQ(0x5A, image[4 * 512]);
  EXPECT_EQ(0x5A, image[6 * 512 - 1]);
  EXPECT_EQ(0, image[6 * 512]) << "the failing sector and those after it keep their data";
  EXPECT_EQ(2u, disk->counters().sectors_written);

  disk->SetPartialWrites(false);
  disk->FailWrite(0, Fault::kAlways);
  EXPECT_EQ(prc::kDeviceIoError, devices_->Write(disk, 0, 2, data.data(), 0));
  EXPECT_EQ(0, disk->Image()[512]);
  EXPECT_EQ(1u, disk->write_log().size()) << "only stored sectors are logged";
}

TEST_F(BlockDeviceTest, WriteLogReplaysTheFirstKWritesOntoACopy) {
  TestBlockDevice* disk = TestBlockDevice::InMemory("RAM", 0, 512, 8);
  std::vector<uint8_t> sector(512);
  sector.assign(512, 1);
  devices_->Write(disk, 0, 1, sector.data(), 0);
  disk->StartWriteLog();
  for (uint8_t value = 2; value <= 4; ++value) {
    sector.assign(512, value);
    devices_->Write(disk, value, 1, sector.data(), 0);
  }
  sector.assign(512, 9);
  devices_->Write(disk, 2, 1, sector.data(), 0);  // overwrites the first logged write
  ASSERT_EQ(4u, disk->write_log().size());
  struct Case {
    size_t k;
    uint8_t sector0, sector2, sector3, sector4;
  };
  const Case cases[] = {{0, 1, 0, 0, 0}, {1, 1, 2, 0, 0}, {3, 1, 2, 3, 4}, {4, 1, 9, 3, 4},
                        {99, 1, 9, 3, 4}};
  for (const Case& c : cases) {
    TestBlockDevice* copy = disk->ReplayOnto("COPY", 1, c.k);
    std::vector<uint8_t> image = copy->Image();
    EXPECT_EQ(c.sector0, image[0]) << c.k;
    EXPECT_EQ(c.sector2, image[2 * 512]) << c.k;
    EXPECT_EQ(c.sector3, image[3 * 512]) << c.k;
    EXPECT_EQ(c.sector4, image[4 * 512]) << c.k;
    EXPECT_EQ(0u, copy->write_log().size());
    copy->Destroy();
  }
  EXPECT_EQ(disk->Image(), disk->ImageAfterWrites(4));
}

TEST_F(BlockDeviceTest, FileBackedDeviceKeepsItsSectorsInTheFile) {
  TempDir dir;
  std::string path = dir.File("disk.img");
  TestBlockDevice* disk = TestBlockDevice::OnFile("FILE", 0, path, 512, 32);
  ASSERT_NE(nullptr, disk);
  std::vector<uint8_t> data(512, 0x77);
  ASSERT_EQ(0, devices_->Write(disk, 31, 1, data.data(), 0));
  disk->Destroy();
  std::string bytes = TempDir::ReadFile(path);
  ASSERT_EQ(32u * 512, bytes.size());
  EXPECT_EQ('\x77', bytes[31 * 512]);
  TestBlockDevice* again = TestBlockDevice::OnFile("FILE", 0, path, 512, 32);
  std::vector<uint8_t> back(512);
  ASSERT_EQ(0, devices_->Read(again, 31, 1, back.data(), 0));
  EXPECT_EQ(data, back);
  EXPECT_EQ(again->Image(), again->ImageAfterWrites(0));
}

// Member header of a virtual-disk set in the device's first sector.
void WriteMemberHeader(TestBlockDevice* device, uint8_t set, uint32_t index, uint32_t count,
                       uint64_t virtual_start, uint64_t extent_start, uint64_t extent_end) {
  uint8_t header[512] = {};
  bytes::PutLe32(header, kVirtualDiskMagic);
  bytes::PutLe32(header + 4, index);
  bytes::PutLe32(header + 8, count);
  memset(header + 16, set, 16);
  bytes::PutLe64(header + 32, virtual_start);
  bytes::PutLe64(header + 40, extent_start);
  bytes::PutLe64(header + 48, extent_end);
  device->Poke(0, header, sizeof header);
}

TEST_F(BlockDeviceTest, RescanJoinsMembersIntoVirtualDisks) {
  TestBlockDevice* first = TestBlockDevice::InMemory("IDE", 10, 512, 16);
  TestBlockDevice* second = TestBlockDevice::InMemory("IDE", 11, 512, 16);
  TestBlockDevice* plain = TestBlockDevice::InMemory("IDE", 12, 512, 16);
  WriteMemberHeader(first, 0xA1, 0, 2, 0, 1, 9);    // virtual sectors 0-7
  WriteMemberHeader(second, 0xA1, 1, 2, 8, 4, 16);  // virtual sectors 8-19
  ASSERT_EQ(0, virtual_disk_->Rescan());
  ASSERT_EQ(1, VirtualDiskCount());
  BlockDevice* vdisk = nullptr;
  ASSERT_EQ(0, devices_->Open(&vdisk, "vdisk:0"));
  EXPECT_EQ(20u, devices_->Capacity(vdisk));
  EXPECT_EQ(512u, devices_->SectorSize(vdisk));
  EXPECT_TRUE(first->StateFlags() & block_flags::kVirtualDiskMember);
  EXPECT_FALSE(plain->StateFlags() & block_flags::kVirtualDiskMember);

  // A write across the members' seam lands in both extents.
  std::vector<uint8_t> data(4 * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i / 512 + 1);
  ASSERT_EQ(0, devices_->Write(vdisk, 6, 4, data.data(), 0));
  EXPECT_EQ(1, first->Image()[7 * 512]);
  EXPECT_EQ(2, first->Image()[8 * 512]);
  EXPECT_EQ(3, second->Image()[4 * 512]);
  EXPECT_EQ(4, second->Image()[5 * 512]);
  std::vector<uint8_t> back(4 * 512);
  ASSERT_EQ(0, devices_->Read(vdisk, 6, 4, back.data(), 0));
  EXPECT_EQ(data, back);
  EXPECT_EQ(prc::kDeviceStatus2, devices_->Read(vdisk, 18, 4, back.data(), 0)) << "past the end";
  second->FailRead(4, Fault::kOnce);
  EXPECT_EQ(prc::kDeviceIoError, devices_->Read(vdisk, 7, 2, back.data(), 0));

  uint8_t info[152] = {};
  ASSERT_EQ(0, devices_->Control(vdisk, 4, info, sizeof info));
  EXPECT_EQ(1u, bytes::Le32(info));
  EXPECT_STREQ("VDISK: TEST IDE; TEST IDE", reinterpret_cast<char*>(info + 8));
  devices_->Close(vdisk);

  // Rescanning builds the set again instead of adding a second one.
  ASSERT_EQ(0, virtual_disk_->Rescan());
  EXPECT_EQ(1, VirtualDiskCount());
}

TEST_F(BlockDeviceTest, AThirdVirtualDiskSetIsIgnored) {
  for (uint8_t set = 1; set <= 3; ++set) {
    TestBlockDevice* member = TestBlockDevice::InMemory("IDE", 20 + set, 512, 8);
    WriteMemberHeader(member, set, 0, 1, 0, 1, 8);
  }
  TestBlockDevice* unreadable = TestBlockDevice::InMemory("IDE", 30, 512, 8);
  WriteMemberHeader(unreadable, 4, 0, 1, 0, 1, 8);
  unreadable->FailRead(0, Fault::kAlways);
  ASSERT_EQ(0, virtual_disk_->Rescan());
  EXPECT_EQ(2, VirtualDiskCount());
  BlockDevice* device = nullptr;
  EXPECT_EQ(prc::kNoSuchDevice, devices_->Open(&device, "VDISK:2"));
}

TEST_F(BlockDeviceTest, IncompleteVirtualDiskAnswersBadRequest) {
  TestBlockDevice* only = TestBlockDevice::InMemory("IDE", 40, 512, 8);
  WriteMemberHeader(only, 7, 1, 2, 7, 1, 8);  // member 1 of 2; member 0 is missing
  ASSERT_EQ(0, virtual_disk_->Rescan());
  BlockDevice* vdisk = nullptr;
  ASSERT_EQ(0, devices_->Open(&vdisk, "VDISK:0"));
  EXPECT_FALSE(devices_->Ready(vdisk));
  uint8_t sector[512];
  EXPECT_EQ(prc::kDeviceStatus2, devices_->Read(vdisk, 8, 1, sector, 0));
  devices_->Close(vdisk);
  uint8_t data[512] = {0x42};
  EXPECT_EQ(0, virtual_disk_->WriteSectors("IDE:40", 3, 1, data));
  EXPECT_EQ(0, virtual_disk_->ReadSectors("ide:40", 3, 1, sector));
  EXPECT_EQ(0x42, sector[0]);
  EXPECT_EQ(prc::kNoSuchDevice, virtual_disk_->ReadSectors("IDE:41", 0, 1, sector));
}

}  // namespace
