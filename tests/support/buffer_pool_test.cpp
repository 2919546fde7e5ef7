#include "support/buffer_pool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Heap memory that records every block and can refuse.
class RecordingMemory : public RawAllocator {
 public:
  void* Allocate(size_t size) override {
    requested.push_back(size);
    if (refuse) return nullptr;
    void* block = std::malloc(size);
    blocks.push_back(block);
    return block;
  }
  void Deallocate(void* block) override {
    freed.push_back(block);
    std::free(block);
  }
  bool refuse = false;
  std::vector<size_t> requested;
  std::vector<void*> blocks;
  std::vector<void*> freed;
};

// An owner that copies through a pool, or refuses.
class CountingOwner : public BufferAllocator {
 public:
  explicit CountingOwner(BufferAllocator* pool) : pool_(pool) {}
  RefBuffer* Alloc(uint32_t size, BufferAllocator* owner) override {
    ++allocs;
    return refuse ? nullptr : pool_->Alloc(size, owner);
  }
  int allocs = 0;
  bool refuse = false;

 private:
  BufferAllocator* pool_;
};

const auto* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }

TEST(DynamicBufferPoolTest, HeaderHoldsTheRecordAndIsAMultipleOfTheAlignment) {
  constexpr bool k32 = sizeof(void*) == 4;
  const struct {
    uint32_t alignment, header;
  } kCases[] = {
      {4, k32 ? 24u : 40u}, {16, k32 ? 32u : 48u}, {1, k32 ? 24u : 40u},
      {8, k32 ? 24u : 40u}, {64, 64},            {0, k32 ? 24u : 40u},
  };
  for (const auto& test : kCases) {
    DynamicBufferPool pool("p", test.alignment);
    EXPECT_EQ(pool.HeaderSize(), test.header) << "alignment " << test.alignment;
    EXPECT_EQ(pool.Alignment(), test.alignment);
    EXPECT_GE(pool.HeaderSize(), sizeof(RefBuffer));
    if (test.alignment) {
      EXPECT_EQ(pool.HeaderSize() % test.alignment, 0u);
    }
  }
}

TEST(DynamicBufferPoolTest, DataIsAlignedInsideTheBlockAndNeverOverlapsTheRecord) {
  for (uint32_t alignment : {1u, 3u, 4u, 8u, 16u, 64u}) {
    RecordingMemory memory;
    DynamicBufferPool pool("p", alignment, &memory);
    for (uint32_t size : {0u, 1u, 7u, 100u, 4096u}) {
      RefBuffer* buffer = pool.Alloc(size, nullptr);
      ASSERT_NE(buffer, nullptr);
      const uint8_t* raw = Bytes(memory.blocks.back());
      const uint8_t* record = Bytes(buffer);
      uint8_t* data = buffer->Data();
      SCOPED_TRACE("alignment " + std::to_string(alignment) + " size " + std::to_string(size));
      EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % alignment, 0u);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(record) % alignof(RefBuffer), 0u);
      EXPECT_GT(record, raw);
      EXPECT_EQ(data, record + pool.HeaderSize());
      EXPECT_LE(record + sizeof(RefBuffer), data);
      EXPECT_LE(data + size, raw + memory.requested.back());

      // Filling the data must leave the record intact.
      std::memset(data, 0xA5, size);
      EXPECT_EQ(buffer->Size(), size);
      EXPECT_EQ(buffer->RefCount(), 1u);
      EXPECT_EQ(buffer->Pool(), &pool);
      EXPECT_EQ(buffer->Owner(), &pool);
      buffer->Release();
    }
    EXPECT_EQ(memory.freed, memory.blocks);
    EXPECT_EQ(pool.LiveCount(), 0u);
  }
}

TEST(DynamicBufferPoolTest, CountsLiveBuffersAndReturnsTheRawBlock) {
  RecordingMemory memory;
  DynamicBufferPool pool("p", 4, &memory);
  CountingOwner owner(&pool);
  RefBuffer* first = pool.Alloc(10, nullptr);
  RefBuffer* second = pool.Alloc(20, &owner);
  EXPECT_EQ(second->Owner(), &owner);
  EXPECT_EQ(pool.LiveCount(), 2u);

  second->AddRef();
  second->Release();
  EXPECT_EQ(pool.LiveCount(), 2u);
  EXPECT_TRUE(memory.freed.empty());
  second->Release();
  EXPECT_EQ(pool.LiveCount(), 1u);
  ASSERT_EQ(memory.freed.size(), 1u);
  EXPECT_EQ(memory.freed[0], memory.blocks[1]);
  first->Release();
  EXPECT_EQ(pool.LiveCount(), 0u);
}

TEST(DynamicBufferPoolTest, NoMemoryGivesNullAndCountsNothing) {
  RecordingMemory memory;
  memory.refuse = true;
  DynamicBufferPool pool("p", 4, &memory);
  EXPECT_EQ(pool.Alloc(16, nullptr), nullptr);
  const size_t requests = memory.requested.size();
  EXPECT_EQ(pool.Alloc(UINT32_MAX, nullptr), nullptr);
  if (sizeof(size_t) > 4) {
    // The largest size still asks for it all, without wrapping the total.
    EXPECT_EQ(memory.requested.back(),
              size_t{UINT32_MAX} + DynamicBufferPool::PlacementFor(4) + pool.HeaderSize());
  } else {
    // On 32-bit targets the total does not fit a size_t: nothing is asked for.
    EXPECT_EQ(memory.requested.size(), requests);
  }
  EXPECT_EQ(pool.LiveCount(), 0u);
}

TEST(DynamicBufferPoolTest, NameIsCutTo63Characters) {
  const std::string long_name(100, 'n');
  DynamicBufferPool pool(long_name.c_str(), 4);
  EXPECT_EQ(std::string(pool.Name()), long_name.substr(0, 63));
}

TEST(DynamicBufferPoolTest, NetworkPoolIsOneHeapPoolWithAlignment4) {
  DynamicBufferPool& pool = NetworkBufferPool();
  EXPECT_EQ(&pool, &NetworkBufferPool());
  EXPECT_STREQ(pool.Name(), "network");
  EXPECT_EQ(pool.Alignment(), 4u);
  RefBufferPtr buffer(pool.Alloc(8, nullptr));
  ASSERT_TRUE(buffer);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer->Data()) % 4, 0u);
}

class RefBufferPtrTest : public testing::Test {
 protected:
  RefBufferPtr Filled(const std::string& text, BufferAllocator* owner = nullptr) {
    RefBufferPtr holder(pool_.Alloc(static_cast<uint32_t>(text.size()), owner));
    std::memcpy(holder->Data(), text.data(), text.size());
    return holder;
  }
  static std::string Text(const RefBufferPtr& holder) {
    return std::string(reinterpret_cast<const char*>(holder->Data()), holder->Size());
  }

  RecordingMemory memory_;
  DynamicBufferPool pool_{"test", 4, &memory_};
};

TEST_F(RefBufferPtrTest, CopiesShareAndTheLastHolderFrees) {
  {
    RefBufferPtr first = Filled("abc");
    RefBufferPtr second(first);
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(first->RefCount(), 2u);
    RefBufferPtr third(std::move(second));
    EXPECT_FALSE(second);
    EXPECT_EQ(first->RefCount(), 2u);
    first.Reset();
    EXPECT_EQ(third->RefCount(), 1u);
    EXPECT_TRUE(memory_.freed.empty());
    third = third;  // self-assignment keeps the buffer
    EXPECT_EQ(Text(third), "abc");
  }
  EXPECT_EQ(memory_.freed.size(), 1u);
  EXPECT_EQ(pool_.LiveCount(), 0u);
}

TEST_F(RefBufferPtrTest, MakeUniqueCopiesASharedBufferThroughItsOwner) {
  CountingOwner owner(&pool_);
  RefBufferPtr original = Filled("shared", &owner);
  RefBufferPtr writer(original);
  RefBuffer* before = writer.Get();
  ASSERT_EQ(writer.MakeUnique(), rc::kOk);
  EXPECT_EQ(owner.allocs, 1);
  EXPECT_NE(writer.Get(), before);
  EXPECT_EQ(writer->RefCount(), 1u);
  EXPECT_EQ(original->RefCount(), 1u);  // still alive for its other holder
  EXPECT_EQ(writer->Owner(), &owner);
  writer->Data()[0] = 'S';
  EXPECT_EQ(Text(writer), "Shared");
  EXPECT_EQ(Text(original), "shared");

  // A buffer held once is changed in place.
  ASSERT_EQ(writer.MakeUnique(), rc::kOk);
  EXPECT_EQ(owner.allocs, 1);
}

TEST_F(RefBufferPtrTest, FailedCopyKeepsTheSharedBuffer) {
  CountingOwner owner(&pool_);
  RefBufferPtr original = Filled("data", &owner);
  RefBufferPtr writer(original);
  owner.refuse = true;
  EXPECT_EQ(writer.MakeUnique(), rc::kOutOfMemory);
  EXPECT_EQ(writer.Get(), original.Get());
  EXPECT_EQ(original->RefCount(), 2u);
  EXPECT_EQ(writer.Truncate(1), rc::kOutOfMemory);
  EXPECT_EQ(original->Size(), 4u);
}

TEST_F(RefBufferPtrTest, TruncateCopiesASharedBufferAndNeverGrows) {
  RefBufferPtr original = Filled("abcdef");
  RefBufferPtr cut(original);
  ASSERT_EQ(cut.Truncate(2), rc::kOk);
  EXPECT_EQ(Text(cut), "ab");
  EXPECT_EQ(Text(original), "abcdef");
  ASSERT_EQ(cut.Truncate(10), rc::kOk);
  EXPECT_EQ(cut->Size(), 2u);
  EXPECT_EQ(pool_.LiveCount(), 2u);
}

}  // namespace
