#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "fs/block_cache.h"
#include "fs/fs_codes.h"
#include "fs_fixture.h"
#include "platform/platform_codes.h"
#include "platform/shell_output.h"
#include "testlib/test_block_device.h"

namespace {

using Fault = TestBlockDevice::Fault;

class CaptureShell : public ShellSink {
 public:
  CaptureShell() { SetShellSink(this); }
  ~CaptureShell() override { SetShellSink(nullptr); }
  void Write(const char* text) override { text_ += text; }
  std::string text_;
};

// A cache of three 512-byte blocks over a 16-sector volume at byte 1024 of the device, used
// inside one request of a stand-in volume.
class BlockCacheTest : public FsFixture {
 protected:
  void SetUp() override {
    FsFixture::SetUp();
    disk_ = TestBlockDevice::InMemory("DISK", 0, 512, 32);
    for (uint8_t sector = 0; sector < 32; ++sector) {
      uint8_t bytes[512];
      memset(bytes, sector, sizeof bytes);
      disk_->Poke(sector * 512u, bytes, sizeof bytes);
    }
    ASSERT_EQ(0, BlockCache::Create(&cache_, 512, 3, 1024, 16 * 512));
    scope_ = new FsRequestScope(manager_->scheduler(), "test", 2, &volume_, nullptr);
  }
  void TearDown() override {
    delete scope_;
    cache_->Destroy();
    FsFixture::TearDown();
  }

  // Gets and releases the block at the offset; returns its first byte.
  int Touch(uint64_t offset) {
    BlockCacheEntry* entry = nullptr;
    Result result = cache_->Get(scope_->request(), &entry, disk_, offset, 0, 0);
    if (result != 0) return result;
    int first = BlockCache::Data(entry)[0];
    BlockCache::Release(entry);
    return first;
  }
  BlockCacheEntry* Pinned(uint64_t offset) {
    BlockCacheEntry* entry = nullptr;
    EXPECT_EQ(0, cache_->Get(scope_->request(), &entry, disk_, offset, 0, 0));
    return entry;
  }
  uint8_t DiskByte(uint64_t position) { return disk_->Image()[position]; }

  TestBlockDevice* disk_ = nullptr;
  BlockCache* cache_ = nullptr;
  FsMount volume_;
  FsRequestScope* scope_ = nullptr;
};

TEST_F(BlockCacheTest, BlocksAreReadAtTheVolumeBaseAndKeptUntilReused) {
  EXPECT_EQ(2, Touch(0));
  EXPECT_EQ(3, Touch(512));
  uint32_t reads = disk_->counters().reads;
  EXPECT_EQ(2, Touch(0));
  EXPECT_EQ(reads, disk_->counters().reads) << "a cached block is not read again";
  EXPECT_EQ(fsrc::kOutsideVolume, Touch(15 * 512 + 1));
  EXPECT_EQ(17, Touch(15 * 512));
  EXPECT_EQ(fsrc::kOutsideVolume, Touch(~uint64_t{0} - 100)) << "no wrap-around";
}

TEST_F(BlockCacheTest, TheLeastRecentlyUsedCleanEntryIsReusedBeforeADirtyOne) {
  BlockCacheEntry* a = Pinned(0);
  BlockCache::Data(a)[0] = 0xAA;
  BlockCache::MarkDirty(a, nullptr, 0, 0);
  BlockCache::Release(a);
  Touch(512);   // b
  Touch(1024);  // c; LRU order now c, b, a
  uint32_t writes = disk_->counters().writes;
  Touch(1536);  // takes b, the oldest clean entry, not the dirty a
  EXPECT_EQ(writes, disk_->counters().writes);
  EXPECT_EQ(0xAA, BlockCache::Data(a)[0]) << "the dirty entry still holds its block";
  BlockCacheEntry* c = Pinned(1024);
  BlockCacheEntry* d = Pinned(1536);
  EXPECT_EQ(6, Touch(2048)) << "with the others pinned the dirty one is written and reused";
  EXPECT_EQ(writes + 1, disk_->counters().writes);
  EXPECT_EQ(0xAA, DiskByte(1024));
  BlockCache::Release(c);
  BlockCache::Release(d);
}

TEST_F(BlockCacheTest, EveryEntryPinnedIsCacheFull) {
  CaptureShell shell;
  BlockCacheEntry* pinned[3] = {Pinned(0), Pinned(512), Pinned(1024)};
  EXPECT_EQ(fsrc::kCacheFull, Touch(1536));
  EXPECT_NE(std::string::npos, shell.text_.find("Cache full"));
  for (BlockCacheEntry* entry : pinned) BlockCache::Release(entry);
  EXPECT_EQ(5, Touch(1536));
}

TEST_F(BlockCacheTest, AFailedReadLeavesNothingBehind) {
  disk_->FailRead(3, Fault::kOnce);
  EXPECT_EQ(prc::kDeviceIoError, Touch(512));
  uint32_t reads = disk_->counters().reads;
  EXPECT_EQ(3, Touch(512)) << "the next get reads the block again";
  EXPECT_EQ(reads + 1, disk_->counters().reads);
  BlockCacheEntry* found = nullptr;
  EXPECT_EQ(0, cache_->Find(scope_->request(), &found, disk_, 500, 100, 7));
  EXPECT_EQ(512u, cache_->Offset(found));
  BlockCache::Release(found);
  EXPECT_EQ(fsrc::kCacheIoError, cache_->Find(scope_->request(), &found, disk_, 4096, 512, 0));
}

TEST_F(BlockCacheTest, AVictimThatCannotBeWrittenIsNotReused) {
  BlockCacheEntry* entries[3] = {Pinned(0), Pinned(512), Pinned(1024)};
  BlockCache::Data(entries[0])[0] = 0xAB;
  BlockCache::MarkDirty(entries[0], nullptr, 0, 0);
  BlockCache::Release(entries[0]);
  disk_->FailWrite(2, Fault::kAlways);
  EXPECT_EQ(prc::kDeviceIoError, Touch(1536));
  EXPECT_EQ(0xAB, BlockCache::Data(entries[0])[0]) << "the unwritten data is kept";
  EXPECT_EQ(0xAB, Touch(0)) << "and still found as the block";
  EXPECT_TRUE(entries[0]->flags & BlockCache::kDirty);
  disk_->ClearFaults();
  EXPECT_EQ(5, Touch(1536));
  EXPECT_EQ(0xAB, DiskByte(1024));
  BlockCache::Release(entries[1]);
  BlockCache::Release(entries[2]);
}

TEST_F(BlockCacheTest, FlushEndsOnAPersistentWriteErrorAndWritesTheRest) {
  for (uint64_t offset : {0, 512, 1024}) {
    BlockCacheEntry* entry = Pinned(offset);
    BlockCache::Data(entry)[0] = 0xEE;
    BlockCache::MarkDirty(entry, nullptr, 0, 0);
    entry->tag = offset == 512 ? 9 : 1;
    BlockCache::Release(entry);
  }
  disk_->FailWrite(2, Fault::kAlways);
  EXPECT_EQ(0, cache_->FlushTag(scope_->request(), 9));
  EXPECT_EQ(0xEE, DiskByte(1536));
  EXPECT_EQ(prc::kDeviceIoError, cache_->FlushAll(scope_->request()));
  EXPECT_EQ(0xEE, DiskByte(2048));
  EXPECT_EQ(2, DiskByte(1024));
  disk_->ClearFaults();
  EXPECT_EQ(0, cache_->FlushAll(scope_->request()));
  EXPECT_EQ(0xEE, DiskByte(1024));
}

TEST_F(BlockCacheTest, WriteCopyLeavesTheDirtyFlagAndCallbacksDoTheWriteBack) {
  static int calls;
  calls = 0;
  BlockCacheEntry* entry = Pinned(0);
  BlockCache::Data(entry)[0] = 0x42;
  BlockCache::MarkDirty(
      entry,
      [](FsRequest* request, BlockCacheEntry* e, uint32_t first, uint32_t second) {
        calls += static_cast<int>(first + second);
        return e->cache->WriteBack(request, e);
      },
      2, 3);
  EXPECT_EQ(0, cache_->WriteCopy(scope_->request(), entry, 4096));
  EXPECT_EQ(0x42, DiskByte(1024 + 4096));
  EXPECT_TRUE(entry->flags & BlockCache::kDirty);
  BlockCache::Release(entry);
  EXPECT_EQ(0, cache_->FlushAll(scope_->request()));
  EXPECT_EQ(5, calls);
  EXPECT_EQ(0x42, DiskByte(1024));
  BlockCache::MarkBad(entry);
  EXPECT_EQ(fsrc::kCacheIoError, cache_->WriteBack(scope_->request(), entry));
}

TEST_F(BlockCacheTest, AWaitForStateBitsLetsAnotherRequestOfTheVolumeSetThem) {
  delete scope_;
  scope_ = nullptr;
  std::atomic<bool> woke{false};
  std::thread waiter([&] {
    FsRequestScope scope(manager_->scheduler(), "waiter", 2, &volume_, nullptr);
    cache_->WaitState(scope.request(), 0x6, true);
    woke = true;
  });
  Sleep(100);
  {
    // Admitted on the same volume because the waiter gave up its turn.
    FsRequestScope scope(manager_->scheduler(), "setter", 2, &volume_, nullptr);
    cache_->SetState(scope.request(), 0x2, true);
    Sleep(100);
    EXPECT_FALSE(woke) << "one of the two bits is not enough";
    cache_->SetState(scope.request(), 0x4, true);
  }
  waiter.join();
  EXPECT_TRUE(woke);
  FsRequestScope scope(manager_->scheduler(), "check", 2, &volume_, nullptr);
  cache_->SetState(scope.request(), 0x6, false);
  cache_->WaitState(scope.request(), 0x6, false);  // returns at once
}

// A device whose reads wait at a gate, the first one failing on request.
class GatedDevice : public BlockDevice {
 public:
  GatedDevice()
      : BlockDevice("GATE", 0),
        entered_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        gate_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~GatedDevice() override {
    CloseHandle(entered_);
    CloseHandle(gate_);
  }
  uint64_t Capacity() override { return 32; }
  uint32_t SectorSize() override { return 512; }
  int Read(uint64_t start, uint32_t count, void* buffer, uint32_t) override {
    SetEvent(entered_);
    WaitForSingleObject(gate_, 10000);
    if (fail_next_.exchange(false)) return device_status::kIoError;
    memset(buffer, static_cast<int>(start), size_t{count} * 512);
    return device_status::kOk;
  }
  int Write(uint64_t, uint32_t, const void*, uint32_t) override { return device_status::kOk; }
  bool WaitEntered() { return WaitForSingleObject(entered_, 5000) == WAIT_OBJECT_0; }
  void Open(bool fail_first) {
    fail_next_ = fail_first;
    SetEvent(gate_);
  }

 private:
  HANDLE entered_, gate_;
  std::atomic<bool> fail_next_{false};
};

TEST_F(BlockCacheTest, AWaiterForAFailedReadReadsTheBlockItself) {
  delete scope_;
  scope_ = nullptr;
  GatedDevice* gated = new GatedDevice;
  Result first = 1, second = 1;
  int second_byte = -1;
  BlockDevice* second_device = nullptr;
  std::thread reader([&] {
    FsRequestScope scope(manager_->scheduler(), "first", 2, &volume_, nullptr);
    BlockCacheEntry* entry = nullptr;
    first = cache_->Get(scope.request(), &entry, gated, 0, 0, 0);
  });
  ASSERT_TRUE(gated->WaitEntered());
  std::thread waiter([&] {
    // Runs while the first request has given up its turn for the device read.
    FsRequestScope scope(manager_->scheduler(), "second", 2, &volume_, nullptr);
    BlockCacheEntry* entry = nullptr;
    second = cache_->Get(scope.request(), &entry, gated, 0, 0, 0);
    if (second == 0) {
      second_byte = BlockCache::Data(entry)[0];
      second_device = entry->device;
      BlockCache::Release(entry);
    }
  });
  Sleep(300);
  gated->Open(true);
  reader.join();
  waiter.join();
  EXPECT_EQ(prc::kDeviceIoError, first);
  EXPECT_EQ(0, second);
  EXPECT_EQ(gated, second_device) << "the entry handed out holds the block";
  EXPECT_EQ(2, second_byte);
}

}  // namespace
