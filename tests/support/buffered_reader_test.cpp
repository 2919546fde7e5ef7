#include "support/buffered_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_stream.h"
#include "testlib/fault_injecting_stream.h"

namespace {

std::string Pattern(size_t length) {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>(i * 131 + 7);
  return out;
}

class BufferedReaderTest : public ::testing::Test {
 protected:
  BufferedReaderTest() : memory_(Pattern(1000)), counting_(&memory_) {}
  MemoryStream memory_;
  FaultInjectingStream counting_;
};

TEST_F(BufferedReaderTest, ReadsOfEverySizeGiveTheStreamsBytes) {
  for (uint32_t chunk : {1u, 3u, 15u, 16u, 17u, 40u, 999u, 1000u, 2000u}) {
    SCOPED_TRACE(chunk);
    BufferedReader reader(&memory_, 16);
    reader.Seek(0);
    std::string got;
    std::string buffer(chunk, '\0');
    uint32_t count = 0;
    Result result;
    while ((result = reader.Read(&buffer[0], chunk, &count)) == rc::kOk) {
      ASSERT_GT(count, 0u);
      got.append(buffer, 0, count);
    }
    EXPECT_EQ(rc::kEndOfData, result);
    EXPECT_EQ(0u, count);
    EXPECT_EQ(memory_.Bytes(), got);
  }
}

TEST_F(BufferedReaderTest, ByteReadsAskTheStreamOncePerWindow) {
  BufferedReader reader(&counting_, 256);
  std::string got;
  uint8_t byte = 0;
  while (reader.ReadByte(&byte) == rc::kOk) got += static_cast<char>(byte);
  EXPECT_EQ(memory_.Bytes(), got);
  EXPECT_EQ(rc::kEndOfData, reader.ReadByte(&byte));
  EXPECT_LE(counting_.reads(), 6);  // four windows and the end
}

TEST_F(BufferedReaderTest, StartsWhereTheStreamStandsAndKeepsItsOwnPosition) {
  memory_.Seek(100);
  BufferedReader reader(&memory_, 64);
  uint8_t byte = 0;
  ASSERT_EQ(rc::kOk, reader.ReadByte(&byte));
  EXPECT_EQ(static_cast<uint8_t>(memory_.Bytes()[100]), byte);
  memory_.Seek(900);  // someone else moves the stream
  reader.Seek(500);   // outside the window: the refill places the stream itself
  ASSERT_EQ(rc::kOk, reader.ReadByte(&byte));
  EXPECT_EQ(static_cast<uint8_t>(memory_.Bytes()[500]), byte);
  uint32_t position = 0;
  reader.GetPosition(&position);
  EXPECT_EQ(501u, position);
}

TEST_F(BufferedReaderTest, SeekSkipAndPeekMoveNoBytes) {
  BufferedReader reader(&counting_, 64);
  EXPECT_EQ(rc::kOk, reader.Seek(10));
  EXPECT_EQ(rc::kOk, reader.Skip(-10));
  EXPECT_EQ(rc::kInvalidArg, reader.Skip(-1));
  uint32_t position = 99;
  reader.GetPosition(&position);
  EXPECT_EQ(0u, position);
  EXPECT_EQ(0, counting_.reads());

  char peeked[8];
  uint32_t count = 0;
  ASSERT_EQ(rc::kOk, reader.Peek(peeked, 8, &count));
  EXPECT_EQ(memory_.Bytes().substr(0, 8), std::string(peeked, count));
  char read[8];
  ASSERT_EQ(rc::kOk, reader.Read(read, 8, &count));
  EXPECT_EQ(std::string(peeked, 8), std::string(read, 8));
  EXPECT_EQ(1, counting_.reads());

  reader.Seek(998);
  EXPECT_EQ(rc::kOk, reader.Peek(peeked, 8, &count));
  EXPECT_EQ(2u, count);
  reader.Seek(1000);
  EXPECT_EQ(rc::kEndOfData, reader.Peek(peeked, 8, &count));
  EXPECT_EQ(0u, count);
}

TEST_F(BufferedReaderTest, LargeReadsGoStraightToTheStream) {
  BufferedReader reader(&counting_, 64);
  std::string buffer(900, '\0');
  uint32_t count = 0;
  ASSERT_EQ(rc::kOk, reader.Read(&buffer[0], 900, &count));
  EXPECT_EQ(900u, count);
  EXPECT_EQ(memory_.Bytes().substr(0, 900), buffer);
  EXPECT_EQ(1, counting_.reads());
}

TEST_F(BufferedReaderTest, FailuresComeAfterTheBytesAlreadyRead) {
  counting_.FailRead(2, rc::kFail, true);
  BufferedReader reader(&counting_, 16);
  uint8_t byte = 0;
  ASSERT_EQ(rc::kOk, reader.ReadByte(&byte));  // the window holds bytes 0..15
  char buffer[40];
  uint32_t count = 0;
  EXPECT_EQ(rc::kOk, reader.Read(buffer, 40, &count));
  EXPECT_EQ(15u, count);
  EXPECT_EQ(rc::kFail, reader.Read(buffer, 40, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(rc::kFail, reader.ReadByte(&byte));
}

TEST_F(BufferedReaderTest, AStreamThatMovesNothingEndsTheData) {
  counting_.CapReads(0);
  BufferedReader reader(&counting_, 16);
  char buffer[4];
  uint32_t count = 0;
  EXPECT_EQ(rc::kEndOfData, reader.Read(buffer, 4, &count));
  uint8_t byte = 0;
  EXPECT_EQ(rc::kEndOfData, reader.ReadByte(&byte));
}

TEST_F(BufferedReaderTest, IsReadOnly) {
  BufferedReader reader(&memory_);
  uint32_t count = 5;
  EXPECT_EQ(rc::kNotImplemented, reader.Write("a", 1, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(rc::kNotImplemented, reader.SetSize(3));
  uint32_t size = 0;
  EXPECT_EQ(rc::kOk, reader.GetSize(&size));
  EXPECT_EQ(1000u, size);
}

}  // namespace
