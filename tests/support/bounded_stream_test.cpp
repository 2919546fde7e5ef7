#include "support/bounded_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_stream.h"
#include "support/stream_io.h"
#include "testlib/fault_injecting_stream.h"

namespace {

constexpr Result kBroken = static_cast<Result>(0x8007001E);  // a read fault, say

std::string Pattern(uint32_t length) {
  std::string bytes(length, '\0');
  for (uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i);
  return bytes;
}

// A window of 100 bytes at 50 in a 200-byte base whose byte i is i.
class BoundedStreamTest : public ::testing::Test {
 protected:
  uint32_t Position() {
    uint32_t position = 0;
    EXPECT_EQ(view_.GetPosition(&position), rc::kOk);
    return position;
  }
  std::string Read(uint32_t length, Result expected = rc::kOk) {
    std::string bytes(length, '\0');
    uint32_t count = 0;
    EXPECT_EQ(view_.Read(&bytes[0], length, &count), expected);
    bytes.resize(count);
    return bytes;
  }

  MemoryStream memory_{Pattern(200)};
  FaultInjectingStream base_{&memory_};
  BoundedStream view_{&base_, 50, 100};
};

TEST_F(BoundedStreamTest, SizeIsTheLimitAndCannotChange) {
  uint32_t size = 0;
  EXPECT_EQ(view_.GetSize(&size), rc::kOk);
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(view_.SetSize(10), rc::kNotImplemented);
  EXPECT_EQ(memory_.Size(), 200u);
}

TEST_F(BoundedStreamTest, ReadsFromTheStartOfTheWindow) {
  EXPECT_EQ(Read(3), Pattern(53).substr(50));
  EXPECT_EQ(Position(), 3u);
}

TEST_F(BoundedStreamTest, ReadStopsAtTheLimit) {
  ASSERT_EQ(view_.Seek(90), rc::kOk);
  EXPECT_EQ(Read(20), Pattern(150).substr(140));
  EXPECT_EQ(Position(), 100u);
  EXPECT_EQ(Read(20, rc::kEndOfData), "");
}

TEST_F(BoundedStreamTest, SeekAndSkipClampToTheWindow) {
  EXPECT_EQ(view_.Seek(150), rc::kOk);
  EXPECT_EQ(Position(), 100u);
  ASSERT_EQ(view_.Seek(20), rc::kOk);
  EXPECT_EQ(view_.Skip(-500), rc::kOk);
  EXPECT_EQ(Position(), 0u);
  EXPECT_EQ(view_.Skip(0x7FFFFFFF), rc::kOk);
  EXPECT_EQ(Position(), 100u);
  EXPECT_EQ(view_.Skip(-30), rc::kOk);
  EXPECT_EQ(Read(1), std::string(1, static_cast<char>(120)));
}

TEST_F(BoundedStreamTest, ReadsAgainWhereTheViewStandsAfterTheBaseMoved) {
  EXPECT_EQ(Read(2), Pattern(52).substr(50));
  ASSERT_EQ(memory_.Seek(0), rc::kOk);
  EXPECT_EQ(Read(2), Pattern(54).substr(52));
}

TEST_F(BoundedStreamTest, FailedSeekKeepsThePosition) {
  ASSERT_EQ(view_.Seek(10), rc::kOk);
  base_.FailSeek(base_.seeks() + 1, kBroken);
  EXPECT_EQ(view_.Seek(40), kBroken);
  EXPECT_EQ(Position(), 10u);
  base_.FailSeek(base_.seeks() + 1, kBroken);
  EXPECT_EQ(view_.Skip(5), kBroken);
  EXPECT_EQ(Position(), 10u);
}

TEST_F(BoundedStreamTest, FailedReadKeepsThePosition) {
  base_.FailRead(2, kBroken);
  EXPECT_EQ(Read(4).size(), 4u);
  EXPECT_EQ(Read(4, kBroken), "");
  EXPECT_EQ(Position(), 4u);
  EXPECT_EQ(Read(1), std::string(1, static_cast<char>(54)));
}

TEST_F(BoundedStreamTest, ShortBaseReadsAddUpThroughReadExact) {
  base_.CapReads(7);
  char buffer[30];
  ASSERT_EQ(view_.Seek(80), rc::kOk);
  EXPECT_EQ(ReadExact(&view_, buffer, 20), rc::kOk);
  EXPECT_EQ(std::string(buffer, 20), Pattern(150).substr(130));
  EXPECT_EQ(ReadExact(&view_, buffer, 1), rc::kShortTransfer);
}

TEST_F(BoundedStreamTest, EndOfTheBaseShowsThroughTheView) {
  BoundedStream beyond(&base_, 190, 50);  // the base ends 10 bytes in
  char buffer[20];
  uint32_t count = 0;
  EXPECT_EQ(beyond.Read(buffer, 20, &count), rc::kOk);
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(beyond.Read(buffer, 20, &count), rc::kEndOfData);
  EXPECT_EQ(count, 0u);
}

TEST_F(BoundedStreamTest, WriteStopsAtTheLimit) {
  ASSERT_EQ(view_.Seek(95), rc::kOk);
  uint32_t count = 0;
  EXPECT_EQ(view_.Write("ABCDEFGH", 8, &count), rc::kOk);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(memory_.Bytes().substr(144, 7), std::string(1, '\x90') + "ABCDE" + '\x96');
  EXPECT_EQ(view_.Write("X", 1, &count), rc::kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(WriteExact(&view_, "X", 1), rc::kShortTransfer);
  EXPECT_EQ(memory_.Size(), 200u);
}

TEST_F(BoundedStreamTest, WindowPastFourGigabytesIsCut) {
  BoundedStream high(&memory_, 0xFFFFFF00u, 0x1000);
  uint32_t size = 0;
  EXPECT_EQ(high.GetSize(&size), rc::kOk);
  EXPECT_EQ(size, 0xFFu);
  EXPECT_EQ(high.Seek(0x800), rc::kOk);
  uint32_t position = 0;
  EXPECT_EQ(memory_.GetPosition(&position), rc::kOk);
  EXPECT_EQ(position, 0xFFFFFFFFu);
}

}  // namespace
