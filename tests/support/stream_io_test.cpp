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
