#include "support/stream_io.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_stream.h"
#include "testlib/fault_injecting_stream.h"

namespace {

constexpr Result kBroken = static_cast<Result>(0x80070017);  // a CRC error, say

class StreamIoTest : public ::testing::Test {
 protected:
  MemoryStream memory_{"0123456789"};
  FaultInjectingStream stream_{&memory_};
  char buffer_[16] = {};
};

TEST_F(StreamIoTest, ReadOfNothingCallsNoRead) {
  EXPECT_EQ(ReadExact(&stream_, buffer_, 0), rc::kOk);
  EXPECT_EQ(stream_.reads(), 0);
}

TEST_F(StreamIoTest, ShortReadsAreSummed) {
  stream_.CapReads(3);
  EXPECT_EQ(ReadExact(&stream_, buffer_, 10), rc::kOk);
  EXPECT_EQ(std::string(buffer_, 10), "0123456789");
  EXPECT_EQ(stream_.reads(), 4);  // 3 + 3 + 3 + 1
}

TEST_F(StreamIoTest, ReadFailureIsReturnedAtOnce) {
  stream_.CapReads(3);
  stream_.FailRead(2, kBroken);
  EXPECT_EQ(ReadExact(&stream_, buffer_, 10), kBroken);
  EXPECT_EQ(stream_.reads(), 2);
}

TEST_F(StreamIoTest, PersistentFaultFailsEveryLaterRead) {
  stream_.FailRead(2, kBroken, /*persistent=*/true);
  EXPECT_EQ(ReadExact(&stream_, buffer_, 2), rc::kOk);
  EXPECT_EQ(ReadExact(&stream_, buffer_, 2), kBroken);
  EXPECT_EQ(ReadExact(&stream_, buffer_, 2), kBroken);
}

TEST_F(StreamIoTest, ReadPastTheEndKeepsTheBytes) {
  EXPECT_EQ(ReadExact(&stream_, buffer_, 12), rc::kShortTransfer);
  EXPECT_EQ(std::string(buffer_, 10), "0123456789");
}

TEST_F(StreamIoTest, EndOfDataWithBytesStopsTheRead) {
  stream_.CapReads(4);
  stream_.EndDataAtRead(2);
  EXPECT_EQ(ReadExact(&stream_, buffer_, 10), rc::kShortTransfer);
  EXPECT_EQ(stream_.reads(), 2);
  EXPECT_EQ(std::string(buffer_, 8), "01234567");
}

TEST_F(StreamIoTest, ReadThatMovesNothingEnds) {
  stream_.CapReads(0);
  EXPECT_EQ(ReadExact(&stream_, buffer_, 4), rc::kShortTransfer);
  EXPECT_EQ(stream_.reads(), 1);
}

// ReadUpTo fills what it can: the end of the stream is no failure, *got tells how far it came.
TEST_F(StreamIoTest, ReadUpToStopsAtTheEndOrAFailure) {
  const struct {
    const char* name;
    uint32_t cap;        // bytes per read at most
    int end_at_read;     // 0: the stream's own end
    int fail_at_read;    // 0: never
    uint32_t size;
    Result result;
    uint32_t got;
    int reads;
  } cases[] = {
      {"whole, in pieces", 3, 0, 0, 10, rc::kOk, 10, 4},
      {"past the end", 16, 0, 0, 12, rc::kOk, 10, 2},
      {"end of data with bytes", 4, 2, 0, 10, rc::kOk, 8, 2},
      {"a read that moves nothing", 0, 0, 0, 4, rc::kOk, 0, 1},
      {"failure", 3, 0, 2, 10, kBroken, 3, 2},
  };
  for (const auto& c : cases) {
    MemoryStream memory("0123456789");
    FaultInjectingStream stream(&memory);
    stream.CapReads(c.cap);
    if (c.end_at_read) stream.EndDataAtRead(c.end_at_read);
    if (c.fail_at_read) stream.FailRead(c.fail_at_read, kBroken);
    char buffer[16] = {};
    uint32_t got = 99;
    EXPECT_EQ(ReadUpTo(&stream, buffer, c.size, &got), c.result) << c.name;
    EXPECT_EQ(got, c.got) << c.name;
    EXPECT_EQ(stream.reads(), c.reads) << c.name;
    EXPECT_EQ(std::string(buffer, got), std::string("0123456789").substr(0, got)) << c.name;
  }
}

// A source that claims more bytes than it was asked for must not move the count past the buffer.
TEST_F(StreamIoTest, ReadUpToRefusesAnOverlongCount) {
  class Boastful : public Stream {
   public:
    Result Read(void*, uint32_t length, uint32_t* count) override {
      *count = length + 1;
      return rc::kOk;
    }
    Result Write(const void*, uint32_t, uint32_t* count) override {
      *count = 0;
      return rc::kOk;
    }
  } boastful;
  uint32_t got = 0;
  EXPECT_EQ(ReadUpTo(&boastful, buffer_, 8, &got), rc::kBadData);
  EXPECT_EQ(got, 0u);
}

TEST_F(StreamIoTest, ShortWritesAreSummed) {
  stream_.CapWrites(4);
  EXPECT_EQ(WriteExact(&stream_, "abcdefghijkl", 12), rc::kOk);
  EXPECT_EQ(memory_.Bytes(), "abcdefghijkl");
  EXPECT_EQ(stream_.writes(), 3);
}

TEST_F(StreamIoTest, WriteOfNothingCallsNoWrite) {
  EXPECT_EQ(WriteExact(&stream_, "x", 0), rc::kOk);
  EXPECT_EQ(stream_.writes(), 0);
}

TEST_F(StreamIoTest, WriteFailureIsReturnedAtOnce) {
  stream_.CapWrites(2);
  stream_.FailWrite(2, kBroken);
  EXPECT_EQ(WriteExact(&stream_, "abcdef", 6), kBroken);
  EXPECT_EQ(stream_.writes(), 2);
  EXPECT_EQ(memory_.Bytes(), "ab23456789");
}

// A writer that keeps answering success with nothing written once looped forever.
TEST_F(StreamIoTest, WriteThatMovesNothingEnds) {
  stream_.CapWrites(0);
  EXPECT_EQ(WriteExact(&stream_, "abc", 3), rc::kShortTransfer);
  EXPECT_EQ(stream_.writes(), 1);
}

}  // namespace
