#include "support/memory_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

uint32_t PositionOf(MemoryStream& stream) {
  uint32_t position = 0;
  EXPECT_EQ(stream.GetPosition(&position), rc::kOk);
  return position;
}

TEST(MemoryStreamTest, ShortReadAnswersZeroThenEndOfData) {
  MemoryStream stream(std::string("0123456789"));
  char buffer[16];
  uint32_t count = 99;
  EXPECT_EQ(stream.Read(buffer, 16, &count), rc::kOk);
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_EQ(stream.Read(buffer, 16, &count), rc::kEndOfData);
  EXPECT_EQ(count, 0u);
}

TEST(MemoryStreamTest, WritePastTheEndFillsTheGapWithZeros) {
  MemoryStream stream;
  ASSERT_EQ(stream.Seek(100), rc::kOk);
  uint32_t count = 0;
  ASSERT_EQ(stream.Write("x", 1, &count), rc::kOk);
  EXPECT_EQ(count, 1u);
  uint32_t size = 0;
  EXPECT_EQ(stream.GetSize(&size), rc::kOk);
  EXPECT_EQ(size, 101u);
  EXPECT_EQ(stream.Bytes(), std::string(100, '\0') + "x");
  EXPECT_EQ(PositionOf(stream), 101u);
}

TEST(MemoryStreamTest, WriteInsideOverwritesWithoutGrowing) {
  MemoryStream stream(std::string("0123456789"));
  uint32_t count = 0;
  ASSERT_EQ(stream.Seek(3), rc::kOk);
  ASSERT_EQ(stream.Write("ab", 2, &count), rc::kOk);
  EXPECT_EQ(stream.Bytes(), "012ab56789");
  EXPECT_EQ(PositionOf(stream), 5u);
}

TEST(MemoryStreamTest, SkipStopsAtZero) {
  MemoryStream stream;
  ASSERT_EQ(stream.Seek(3), rc::kOk);
  EXPECT_EQ(stream.Skip(-5), rc::kOk);
  EXPECT_EQ(PositionOf(stream), 0u);
  EXPECT_EQ(stream.Skip(7), rc::kOk);
  EXPECT_EQ(PositionOf(stream), 7u);
}

TEST(MemoryStreamTest, SkipBeyondFourGigabytesIsRefused) {
  MemoryStream stream;
  ASSERT_EQ(stream.Seek(0xFFFFFFF0u), rc::kOk);
  EXPECT_EQ(stream.Skip(0x20), rc::kInvalidArg);
  EXPECT_EQ(PositionOf(stream), 0xFFFFFFF0u);
}

TEST(MemoryStreamTest, SetSizeBelowThePositionLeavesItAndReadsEnd) {
  MemoryStream stream(std::string("0123456789"));
  ASSERT_EQ(stream.Seek(8), rc::kOk);
  ASSERT_EQ(stream.SetSize(4), rc::kOk);
  EXPECT_EQ(PositionOf(stream), 8u);
  EXPECT_EQ(stream.Bytes(), "0123");
  char buffer[4];
  uint32_t count = 99;
  EXPECT_EQ(stream.Read(buffer, 4, &count), rc::kEndOfData);
  EXPECT_EQ(count, 0u);
}

TEST(MemoryStreamTest, SetSizeGrowsWithZeros) {
  MemoryStream stream(std::string("ab"));
  ASSERT_EQ(stream.SetSize(5), rc::kOk);
  EXPECT_EQ(stream.Bytes(), std::string("ab\0\0\0", 5));
  EXPECT_EQ(PositionOf(stream), 0u);
}

// position + length once wrapped to a small end, so the copy landed far outside the bytes.
TEST(MemoryStreamTest, WriteEndingBeyondFourGigabytesIsRefused) {
  struct Case {
    uint32_t position;
    uint32_t length;
  };
  static const char kData[64] = {};
  for (const Case& c : {Case{0xFFFFFFFFu, 1}, Case{0xFFFFFFF0u, 32}, Case{1, 0xFFFFFFFFu}}) {
    MemoryStream stream(std::string("0123"));
    ASSERT_EQ(stream.Seek(c.position), rc::kOk);
    uint32_t count = 99;
    EXPECT_EQ(stream.Write(kData, c.length, &count), rc::kInvalidArg) << c.position;
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(stream.Bytes(), "0123");
    EXPECT_EQ(PositionOf(stream), c.position);
  }
}

}  // namespace
