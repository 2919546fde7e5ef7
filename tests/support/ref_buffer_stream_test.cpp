#include "support/ref_buffer_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

namespace {

// Answers each Read and Write with the next scripted step; records what was written.
class ScriptedStream : public RefBufferStream {
 public:
  struct Step {
    Result result;
    uint32_t count;  // bytes moved (for Read: taken from `data`)
  };
  using RefBufferStream::RefBufferStream;

  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    const Step step = Next();
    *count = std::min(step.count, length);
    std::memcpy(buffer, data.data(), std::min<size_t>(*count, data.size()));
    return step.result;
  }
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override {
    const Step step = Next();
    *count = std::min(step.count, length);
    written.append(static_cast<const char*>(buffer), *count);
    return step.result;
  }

  std::deque<Step> steps;
  std::string data;
  std::string written;

 private:
  Step Next() {
    if (steps.empty()) return {rc::kFail, 0};
    const Step step = steps.front();
    steps.pop_front();
    return step;
  }
};

class RefusingMemory : public RawAllocator {
 public:
  void* Allocate(size_t size) override { return refuse ? nullptr : std::malloc(size); }
  void Deallocate(void* block) override { std::free(block); }
  bool refuse = false;
};

class RefBufferStreamTest : public testing::Test {
 protected:
  std::string Text(const RefBufferPtr& holder) {
    return std::string(reinterpret_cast<const char*>(holder->Data()), holder->Size());
  }
  RefBufferPtr Filled(const std::string& text) {
    RefBufferPtr holder(pool_.Alloc(static_cast<uint32_t>(text.size()), nullptr));
    std::memcpy(holder->Data(), text.data(), text.size());
    return holder;
  }

  RefusingMemory memory_;
  DynamicBufferPool pool_{"test", 4, &memory_};
  ScriptedStream stream_{&pool_};
};

TEST_F(RefBufferStreamTest, ReadBufferFillsANewBufferAndCutsAShortRead) {
  stream_.data = "hello world";
  stream_.steps = {{rc::kOk, 11}, {rc::kEndOfData, 5}};
  RefBufferPtr holder = Filled("old");
  RefBufferPtr other(holder);
  ASSERT_EQ(stream_.ReadBuffer(&holder, 11), rc::kOk);
  EXPECT_EQ(Text(holder), "hello world");
  EXPECT_EQ(other->RefCount(), 1u);  // the old buffer was let go

  ASSERT_EQ(stream_.ReadBuffer(&holder, 8), rc::kOk);
  EXPECT_EQ(Text(holder), "hello");
  EXPECT_EQ(holder->Pool(), &pool_);
  holder.Reset();
  other.Reset();
  EXPECT_EQ(pool_.LiveCount(), 0u);
}

TEST_F(RefBufferStreamTest, ReadBufferReportsNoBufferAndFailedReads) {
  RefBufferPtr holder = Filled("old");
  memory_.refuse = true;
  EXPECT_EQ(stream_.ReadBuffer(&holder, 16), rc::kOutOfMemory);
  EXPECT_FALSE(holder);
  EXPECT_TRUE(stream_.steps.empty());  // no Read without a buffer

  memory_.refuse = false;
  const Result broken = rc::FromWin32(64);  // ERROR_NETNAME_DELETED
  stream_.steps = {{broken, 3}};
  EXPECT_EQ(stream_.ReadBuffer(&holder, 16), broken);
  EXPECT_FALSE(holder);
  EXPECT_EQ(pool_.LiveCount(), 0u);
}

TEST_F(RefBufferStreamTest, WriteBufferWritesEverythingAndReleases) {
  RefBufferPtr holder = Filled("abcdefgh");
  stream_.steps = {{rc::kOk, 3}, {rc::kOk, 5}};
  ASSERT_EQ(stream_.WriteBuffer(&holder), rc::kOk);
  EXPECT_EQ(stream_.written, "abcdefgh");
  EXPECT_FALSE(holder);
  EXPECT_EQ(pool_.LiveCount(), 0u);
}

TEST_F(RefBufferStreamTest, WriteBufferReturnsTheWriteFailureAndStillReleases) {
  RefBufferPtr holder = Filled("abcdefgh");
  const Result broken = rc::FromWin32(10054);  // WSAECONNRESET
  stream_.steps = {{rc::kOk, 2}, {broken, 0}};
  EXPECT_EQ(stream_.WriteBuffer(&holder), broken);
  EXPECT_EQ(stream_.written, "ab");
  EXPECT_FALSE(holder);
  EXPECT_EQ(pool_.LiveCount(), 0u);

  RefBufferPtr empty;
  EXPECT_EQ(stream_.WriteBuffer(&empty), rc::kInvalidArg);
}

}  // namespace
