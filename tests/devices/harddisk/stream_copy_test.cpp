#include "devices/stream_copy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/memory_stream.h"

namespace {

class RecordingSink : public ProgressSink {
 public:
  Result Report(uint32_t done, uint32_t total) override {
    reports.push_back({done, total});
    return result;
  }
  std::vector<std::pair<uint32_t, uint32_t>> reports;
  Result result = rc::kOk;
};

std::string Bytes(size_t size) {
  std::string s(size, 0);
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 13 + i / 251);
  return s;
}

TEST(CopyStreamTest, CopiesAllAndAnEmptyReaderWritesNothing) {
  for (size_t size : {0, 1, 65536, 200001}) {
    MemoryStream reader(Bytes(size)), writer;
    EXPECT_EQ(CopyStream(&reader, &writer, 65536), rc::kOk);
    EXPECT_EQ(writer.Bytes(), Bytes(size));
  }
}

TEST(AdaptiveStreamCopyTest, ChunkFollowsTheRoundTime) {
  const AdaptiveCopySettings s;
  struct Case {
    uint32_t chunk, elapsed, expected;
  } cases[] = {
      {0x10000, 10, 0x80000},      // far too fast: times 8
      {0x10000, 500, 0x20000},     // fast: times 2
      {0x10000, 1000, 0x10000},    // in the band
      {0x10000, 1500, 0x8000},     // slow: halved
      {0x10000, 10000, 0x2000},    // far too slow: divided by 8
      {0x2000, 10000, 4096},       // never below 4096
      {0x100000, 10, 0x200000},    // never above the ceiling
  };
  for (const Case& c : cases)
    EXPECT_EQ(AdaptiveStreamCopy::NextChunk(s, c.chunk, c.elapsed), c.expected)
        << c.chunk << " " << c.elapsed;
}

uint32_t g_now = 0;
uint32_t FastClock() { return g_now += 5; }

TEST(AdaptiveStreamCopyTest, CopiesReportsAndCarriesTheChunkOn) {
  AdaptiveCopySettings settings;
  MemoryStream reader(Bytes(3 * 0x10000 + 17)), writer;
  RecordingSink sink;
  EXPECT_EQ(AdaptiveStreamCopy::Copy(&settings, &reader, &writer, &sink, FastClock),
            rc::kEndOfData);
  EXPECT_EQ(writer.Bytes(), reader.Bytes());
  ASSERT_GE(sink.reports.size(), 2u);
  EXPECT_EQ(sink.reports[0].first, 0x10000u);
  EXPECT_EQ(sink.reports.back().first, reader.Size());
  EXPECT_EQ(sink.reports.back().second, reader.Size());
  EXPECT_EQ(settings.chunk, 0x200000u);  // fast rounds grew it to the ceiling
}

TEST(AdaptiveStreamCopyTest, SinkFailureEndsTheCopy) {
  AdaptiveCopySettings settings;
  MemoryStream reader(Bytes(5 * 0x10000)), writer;
  RecordingSink sink;
  sink.result = static_cast<Result>(0x80040001);
  EXPECT_EQ(AdaptiveStreamCopy::Copy(&settings, &reader, &writer, &sink, FastClock),
            static_cast<Result>(0x80040001));
  EXPECT_EQ(sink.reports.size(), 1u);
  EXPECT_EQ(settings.chunk, 0x10000u);
}

TEST(ProgressStepperTest, EachStepCoversAShareOfWhatIsLeft) {
  RecordingSink sink;
  ProgressStepper stepper(&sink, 20);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(stepper.Step(), rc::kOk);
  ASSERT_EQ(sink.reports.size(), 3u);
  EXPECT_EQ(sink.reports[0].first, 500000u);
  EXPECT_EQ(sink.reports[1].first, 975000u);
  EXPECT_EQ(sink.reports[2].first, 1426250u);
  EXPECT_EQ(sink.reports[2].second, 10000000u);
}

}  // namespace
