#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fs/fs_codes.h"
#include "fs/partition_table.h"
#include "fs_fixture.h"
#include "platform/shell_output.h"
#include "testlib/test_block_device.h"

namespace {

struct SfdiskEntry {
  bool present;
  uint64_t start_sector;
  uint64_t sectors;
  uint32_t type_byte;
};
struct SfdiskCase {
  const char* sector;
  uint64_t device_bytes;
  SfdiskEntry entries[4];
};
struct Format2Entry {
  uint64_t start, length;
  int type, flag;
};
struct Format2Case {
  const char* sector;
  uint64_t device_bytes;
  int count;
  Format2Entry entries[16];
};

#include "partition_sector_cases.inc"

class Printed : public ShellSink {
 public:
  Printed() { SetShellSink(this); }
  ~Printed() override { SetShellSink(nullptr); }
  void Write(const char* text) override { text_ += text; }
  std::string Take() {
    std::string taken;
    taken.swap(text_);
    return taken;
  }

 private:
  std::string text_;
};

class PartitionTableTest : public FsFixture {
 protected:
  TestBlockDevice* Disk(uint64_t bytes, const char* sector = nullptr) {
    TestBlockDevice* disk = TestBlockDevice::InMemory("PART", next_++, 512, bytes / 512);
    if (sector) disk->Poke(0, sector, 512);
    name_ = "PART:" + std::to_string(next_ - 1);
    return disk;
  }
  std::vector<uint8_t> Sector(TestBlockDevice* disk) {
    std::vector<uint8_t> image = disk->Image();
    return std::vector<uint8_t>(image.begin(), image.begin() + 512);
  }
  std::string name_;
  uint32_t next_ = 0;
};

TEST_F(PartitionTableTest, ReadsWhatSfdiskReportsOfItsOwnSectors) {
  for (const SfdiskCase& c : kSfdiskCases) {
    Disk(c.device_bytes, c.sector);
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(name_ + " entry " + std::to_string(i));
      PartEntry entry = {1, 1, 1, 1};
      ASSERT_EQ(0, fs_->ReadPart(&entry, name_.c_str(), i));
      const SfdiskEntry& want = c.entries[i];
      if (!want.present) {
        EXPECT_EQ(-1, entry.type);
        continue;
      }
      EXPECT_EQ(want.start_sector * 512, entry.start);
      EXPECT_EQ(want.sectors * 512, entry.length);
      EXPECT_EQ(static_cast<int32_t>(want.type_byte & 0x7F), entry.type);
      EXPECT_EQ(want.type_byte >> 7, entry.flags);
    }
    PartEntry entry;
    EXPECT_EQ(fsrc::kLayoutMismatch, fs_->ReadPart(&entry, name_.c_str(), 4));
    EXPECT_EQ(fsrc::kLayoutMismatch, fs_->ReadPart(&entry, name_.c_str(), -1));
  }
}

TEST_F(PartitionTableTest, WritesTheEntryFieldsSfdiskWrites) {
  for (const SfdiskCase& c : kSfdiskCases) {
    TestBlockDevice* disk = Disk(c.device_bytes);
    PartTable table = {};
    table.count = 4;
    for (int i = 0; i < 4; ++i) {
      const SfdiskEntry& e = c.entries[i];
      table.entries[i] = e.present ? PartEntry{e.start_sector * 512, e.sectors * 512,
                                               static_cast<int32_t>(e.type_byte & 0x7F),
                                               e.type_byte >> 7}
                                   : PartEntry{0, 0, -1, 0};
    }
    ASSERT_EQ(0, fs_->WritePartTable(&table, name_.c_str(), 1));
    std::vector<uint8_t> ours = Sector(disk);
    const uint8_t* theirs = reinterpret_cast<const uint8_t*>(c.sector);
    for (int i = 0; i < 4; ++i) {
      const uint8_t* a = ours.data() + 446 + 16 * i;
      const uint8_t* b = theirs + 446 + 16 * i;
      SCOPED_TRACE(i);
      EXPECT_EQ(b[4], a[4]);
      EXPECT_EQ(0, memcmp(a + 8, b + 8, 8)) << "first sector and sector count";
      for (int k : {0, 1, 2, 3, 5, 6, 7}) EXPECT_EQ(0, a[k]);
    }
    EXPECT_EQ(theirs[510], ours[510]);
    EXPECT_EQ(theirs[511], ours[511]);
    EXPECT_EQ(std::vector<uint8_t>(446, 0), std::vector<uint8_t>(ours.begin(), ours.begin() + 446));
  }
}

TEST_F(PartitionTableTest, SixteenEntrySectorsMatchTheirPackedForm) {
  for (const Format2Case& c : kFormat2Cases) {
    TestBlockDevice* disk = Disk(c.device_bytes);
    // Bytes before the table are cleared when the table is written whole.
    std::vector<uint8_t> junk(512, 0x77);
    disk->Poke(0, junk.data(), junk.size());
    PartTable table = {};
    table.count = static_cast<uint32_t>(c.count);
    for (int i = 0; i < c.count; ++i)
      table.entries[i] = PartEntry{c.entries[i].start, c.entries[i].length, c.entries[i].type,
                                   static_cast<uint32_t>(c.entries[i].flag)};
    ASSERT_EQ(0, fs_->WritePartTable(&table, name_.c_str(), 2));
    EXPECT_EQ(0, memcmp(Sector(disk).data(), c.sector, 512)) << name_;
    for (int i = 0; i < 16; ++i) {
      PartEntry entry;
      ASSERT_EQ(0, fs_->ReadPart(&entry, name_.c_str(), i));
      if (i >= c.count) {
        EXPECT_EQ(-1, entry.type);
        continue;
      }
      EXPECT_EQ(c.entries[i].start, entry.start);
      EXPECT_EQ(c.entries[i].type, entry.type);
      EXPECT_EQ(static_cast<uint32_t>(c.entries[i].flag), entry.flags);
      uint64_t length = c.entries[i].length ? c.entries[i].length
                                            : c.device_bytes - c.entries[i].start;
      EXPECT_EQ(length, entry.length);
    }
    PartEntry entry;
    EXPECT_EQ(fsrc::kLayoutMismatch, fs_->ReadPart(&entry, name_.c_str(), 16));
  }
}

TEST_F(PartitionTableTest, EntriesAreCheckedBeforeAnythingIsWritten) {
  const uint64_t kMiB = 1 << 20;
  struct Case {
    PartEntry entry;
    const char* message;
  };
  const Case cases[] = {
      {{513, 512, 1, 0}, " not sector-aligned\n"},
      {{512, 100, 1, 0}, " not sector-aligned\n"},
      {{0, 512, 1, 0}, " overlaps partition table\n"},
      {{1024, ~uint64_t{0} - 511, 1, 0}, " wraps beyond 64 bits\n"},
      {{uint64_t{1} << 41, 512, 1, 0}, " exceeds FAT partition limits\n"},
      {{512, (uint64_t{1} << 41) - 512, 1, 0}, " exceeds FAT partition limits\n"},
      {{512, kMiB, 1, 0}, " exceeds device size 1048576\n"},
      {{2 * kMiB, 0, 1, 0}, " exceeds device size 1048576\n"},
  };
  Printed printed;
  for (const Case& c : cases) {
    TestBlockDevice* disk = Disk(kMiB);
    PartTable table = {};
    table.count = 2;
    table.entries[0] = PartEntry{512, 512, 1, 0};
    table.entries[1] = c.entry;
    EXPECT_EQ(fsrc::kBadPartition, fs_->WritePartTable(&table, name_.c_str(), 1));
    EXPECT_EQ(c.message, printed.Take());
    EXPECT_EQ(0u, disk->counters().writes) << "nothing written";
  }
  TestBlockDevice* disk = Disk(kMiB);
  PartTable table = {};
  table.count = 5;
  EXPECT_EQ(fsrc::kBadPartition, fs_->WritePartTable(&table, name_.c_str(), 1));
  table.count = 1;
  EXPECT_EQ(fsrc::kBadPartition, fs_->WritePartTable(&table, name_.c_str(), 3));
  EXPECT_EQ(0u, disk->counters().writes);
}

TEST_F(PartitionTableTest, OneEntryIsRewrittenInPlace) {
  TestBlockDevice* disk = Disk(1 << 20);
  PartEntry entry = {512, 0, 0x5A, 1};
  EXPECT_EQ(fsrc::kLayoutMismatch, fs_->WritePartEntry(&entry, name_.c_str(), 0))
      << "a single entry never creates a signature";
  PartTable table = {};
  table.count = 1;
  table.entries[0] = PartEntry{512, 512, 1, 0};
  ASSERT_EQ(0, fs_->WritePartTable(&table, name_.c_str(), 1));
  uint8_t boot_code[4] = {0xEB, 0x3C, 0x90, 0x4D};
  disk->Poke(0, boot_code, 4);
  ASSERT_EQ(0, fs_->WritePartEntry(&entry, name_.c_str(), 2));
  std::vector<uint8_t> sector = Sector(disk);
  EXPECT_EQ(0xEB, sector[0]) << "the rest of the sector is kept";
  EXPECT_EQ(0xDA, sector[478 + 4]);
  EXPECT_EQ(2047u, sector[478 + 12] | sector[478 + 13] << 8) << "start 512, rest of 1 MiB";
  EXPECT_EQ(fsrc::kLayoutMismatch, fs_->WritePartEntry(&entry, name_.c_str(), 4));
  PartEntry read_back;
  ASSERT_EQ(0, fs_->ReadPart(&read_back, name_.c_str(), 2));
  EXPECT_EQ(90, read_back.type);
  EXPECT_EQ(1u, read_back.flags);
  EXPECT_EQ(2047u * 512, read_back.length);
  EXPECT_NE(0, fs_->ReadPart(&read_back, "NONE:0", 0));
}

}  // namespace
