#include "devices/block_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/device_results.h"
#include "media/property_holder.h"

namespace {

constexpr uint32_t kBlock = 8;

// Records what the writer hands over; each step can be made to fail.
class RecordingWriter : public BlockWriter {
 public:
  RecordingWriter() : BlockWriter(kBlock) {}

  struct Block {
    std::string bytes;  // always the whole block
    uint32_t length;
    bool operator==(const Block& o) const { return bytes == o.bytes && length == o.length; }
  };
  std::vector<Block> blocks;
  int begins = 0, finishes = 0, cancels = 0;
  Result begin_result = rc::kOk, finish_result = rc::kOk, cancel_result = rc::kOk;
  size_t fail_block = SIZE_MAX;  // index of the block that fails

 protected:
  Result Begin() override {
    ++begins;
    return begin_result;
  }
  Result WriteBlock(const uint8_t* block, uint32_t length) override {
    if (blocks.size() == fail_block) return rc::kTimeout;
    blocks.push_back({std::string(reinterpret_cast<const char*>(block), kBlock), length});
    return rc::kOk;
  }
  Result FinishFile(PropertyHolder&) override {
    ++finishes;
    return finish_result;
  }
  Result Cancel() override {
    ++cancels;
    return cancel_result;
  }
};

std::string Bytes(uint32_t from, uint32_t count) {
  std::string s;
  for (uint32_t i = 0; i < count; ++i) s.push_back(static_cast<char>('a' + (from + i) % 26));
  return s;
}

Result WriteText(BlockWriter& w, const std::string& s) {
  return w.Write(reinterpret_cast<const uint8_t*>(s.data()), static_cast<uint32_t>(s.size()));
}

TEST(BlockWriterTest, WritesAroundTheBlockSize) {
  const struct {
    std::vector<uint32_t> writes;
    std::vector<uint32_t> lengths;  // of the blocks handed over, the last at Finish
  } cases[] = {
      {{}, {}},
      {{0}, {}},
      {{1}, {1}},
      {{7}, {7}},
      {{8}, {8}},
      {{9}, {8, 1}},
      {{7, 1}, {8}},
      {{7, 2}, {8, 1}},
      {{3, 0, 5, 9}, {8, 8, 1}},
      {{16}, {8, 8}},
      {{17}, {8, 8, 1}},
      {{1, 1, 1, 1, 1, 1, 1, 1, 1}, {8, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.writes));
    RecordingWriter w;
    ASSERT_EQ(rc::kOk, w.Open());
    uint32_t total = 0;
    for (uint32_t n : c.writes) {
      ASSERT_EQ(rc::kOk, WriteText(w, Bytes(total, n)));
      total += n;
      // A full block never waits in the buffer.
      EXPECT_EQ(total % kBlock, w.fill());
      EXPECT_EQ(total / kBlock, w.blocks.size());
    }
    PropertyHolder props;
    ASSERT_EQ(rc::kOk, w.Finish(props));
    EXPECT_EQ(BlockWriter::kClosed, w.state());
    EXPECT_EQ(0u, w.fill());
    EXPECT_EQ(1, w.finishes);
    ASSERT_EQ(c.lengths.size(), w.blocks.size());
    std::string data;
    for (size_t i = 0; i < w.blocks.size(); ++i) {
      EXPECT_EQ(c.lengths[i], w.blocks[i].length);
      data += w.blocks[i].bytes.substr(0, w.blocks[i].length);
      // The last block is zero-filled behind its true length.
      EXPECT_EQ(std::string(kBlock - w.blocks[i].length, '\0'),
                w.blocks[i].bytes.substr(w.blocks[i].length));
    }
    EXPECT_EQ(Bytes(0, total), data);
    EXPECT_EQ(0, w.cancels);
  }
}

TEST(BlockWriterTest, OpenAndAbort) {
  RecordingWriter w;
  EXPECT_EQ(rc::kNotImplemented, w.Reserved());
  // Abort of a writer that is not open touches nothing.
  EXPECT_EQ(rc::kOk, w.Abort());
  EXPECT_EQ(0, w.cancels);
  w.begin_result = rc::kPlayerGone;
  EXPECT_EQ(rc::kPlayerGone, w.Open());
  EXPECT_EQ(BlockWriter::kClosed, w.state());
  EXPECT_EQ(rc::kFail, WriteText(w, "abc"));  // nothing to write into

  w.begin_result = rc::kOk;
  ASSERT_EQ(rc::kOk, w.Open());
  EXPECT_EQ(BlockWriter::kOpen, w.state());
  ASSERT_EQ(rc::kOk, WriteText(w, "abc"));
  // A cancel that fails keeps the file open and still answers 0.
  w.cancel_result = rc::kTimeout;
  EXPECT_EQ(rc::kOk, w.Abort());
  EXPECT_EQ(BlockWriter::kOpen, w.state());
  w.cancel_result = rc::kOk;
  EXPECT_EQ(rc::kOk, w.Abort());
  EXPECT_EQ(BlockWriter::kClosed, w.state());
  EXPECT_EQ(2, w.cancels);
  EXPECT_TRUE(w.blocks.empty());  // an aborted file hands over nothing more
}

TEST(BlockWriterTest, FailuresLeaveTheWriterFailedAndCancelled) {
  const struct {
    const char* what;
    size_t fail_block;
    Result finish_result;
    std::vector<uint32_t> writes;
    int failing_write;  // index into writes; -1: Finish fails
    uint32_t blocks_kept;
  } cases[] = {
      {"first full block", 0, rc::kOk, {20}, 0, 0},
      {"second block of one write", 1, rc::kOk, {20}, 0, 1},
      {"block of a later write", 1, rc::kOk, {8, 3, 6}, 2, 1},
      {"last short block", 1, rc::kOk, {12}, -1, 1},
      {"file end", SIZE_MAX, rc::kTimeout, {12}, -1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingWriter w;
    w.fail_block = c.fail_block;
    w.finish_result = c.finish_result;
    ASSERT_EQ(rc::kOk, w.Open());
    uint32_t total = 0;
    for (int i = 0; i < static_cast<int>(c.writes.size()); ++i) {
      EXPECT_EQ(i == c.failing_write ? rc::kTimeout : rc::kOk,
                WriteText(w, Bytes(total, c.writes[i])));
      total += c.writes[i];
    }
    PropertyHolder props;
    if (c.failing_write < 0) {
      EXPECT_EQ(rc::kTimeout, w.Finish(props));
    } else {
      // Bytes after a failure would land in a file the device no longer holds.
      EXPECT_EQ(rc::kFail, WriteText(w, "more"));
      EXPECT_EQ(rc::kFail, w.Finish(props));
      EXPECT_EQ(0, w.finishes);
    }
    EXPECT_EQ(BlockWriter::kFailed, w.state());
    EXPECT_EQ(c.blocks_kept, w.blocks.size());
    // The device is told at once, not only when the stream goes away.
    EXPECT_EQ(1, w.cancels);
    EXPECT_EQ(rc::kOk, w.Abort());
    EXPECT_EQ(1, w.cancels);
  }
}

}  // namespace
