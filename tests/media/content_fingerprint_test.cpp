#include "media/content_fingerprint.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/file_stream.h"
#include "support/memory_stream.h"
#include "testlib/fault_injecting_stream.h"

#include "fingerprint_cases.inc"

namespace {

const char kEmptyMd5[] = "d41d8cd98f00b204e9800998ecf8427e";

std::string Fingerprint(SeekableStream* stream, uint32_t start, uint32_t end) {
  std::string text = "unset";
  EXPECT_EQ(rc::kOk, ContentFingerprint(stream, start, end, &text));
  return text;
}

class ContentFingerprintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(rc::kOk, OpenFileStream(kFingerprintFile, OpenRead, &file_));
  }
  std::unique_ptr<FileStream> file_;
};

// Ranges of one region, of one byte more (three overlapping regions), empty ones, with an odd
// middle; the digests come from hashlib.
TEST_F(ContentFingerprintTest, MatchesHashlib) {
  for (const FingerprintCase& c : kFingerprintCases) {
    SCOPED_TRACE(testing::Message() << c.start << ".." << c.end);
    EXPECT_EQ(c.fingerprint, Fingerprint(file_.get(), c.start, c.end));
  }
}

TEST_F(ContentFingerprintTest, RangesAreCutToTheStream) {
  const uint32_t size = kFingerprintFileSize;
  const std::string whole_tail = Fingerprint(file_.get(), 1000, size);
  EXPECT_EQ(whole_tail, Fingerprint(file_.get(), 1000, size + 5000));
  EXPECT_EQ(whole_tail, Fingerprint(file_.get(), 1000, UINT32_MAX));
  EXPECT_EQ(kEmptyMd5, Fingerprint(file_.get(), 5000, 4000)) << "start behind the end";
  EXPECT_EQ(kEmptyMd5, Fingerprint(file_.get(), size + 10, size + 20));
  EXPECT_EQ(kEmptyMd5, Fingerprint(file_.get(), UINT32_MAX, 70000));
}

TEST(ContentFingerprintFailureTest, ShortReadsStillHashTheWholeRegion) {
  MemoryStream memory(std::string(100000, 'x'));
  const std::string expected = Fingerprint(&memory, 10, 99000);
  FaultInjectingStream capped(&memory);
  capped.CapReads(1000);
  EXPECT_EQ(expected, Fingerprint(&capped, 10, 99000));
}

TEST(ContentFingerprintFailureTest, SeekAndReadFailuresLeaveNoText) {
  MemoryStream memory(std::string(100000, 'x'));
  for (int nth = 1; nth <= 3; ++nth) {
    SCOPED_TRACE(nth);
    FaultInjectingStream failing_seek(&memory);
    failing_seek.FailSeek(nth, rc::kFail);
    std::string text = "unset";
    EXPECT_EQ(rc::kFail, ContentFingerprint(&failing_seek, 0, 100000, &text));
    EXPECT_EQ("unset", text);

    FaultInjectingStream failing_read(&memory);
    failing_read.FailRead(nth, rc::kShortTransfer);
    EXPECT_EQ(rc::kShortTransfer, ContentFingerprint(&failing_read, 0, 100000, &text));
    EXPECT_EQ("unset", text);
  }
}

TEST(TitleFromFileNameTest, Titles) {
  struct Case {
    const char* path;
    const char* title;
  };
  const Case cases[] = {
      {"C:\\Music\\My_Song.mp3", "My Song"},
      {"Best_of__2.live.mp3", "Best of  2.live"},
      {"/music.dir/track", "track"},
      {"E:\\music.dir\\track", "track"},
      {"C:/mixed\\sep/a_b.wma", "a b"},
      {"noext", "noext"},
      {".hidden", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.title, TitleFromFileName(c.path)) << c.path;
  }
}

}  // namespace
