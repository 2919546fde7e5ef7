#include "devices/block_writer.h"

#include <algorithm>
#include <cstring>

BlockWriter::BlockWriter(uint32_t block_size) : block_size_(block_size), block_(block_size) {}

Result BlockWriter::Reserved() { return rc::kNotImplemented; }

Result BlockWriter::Open() {
  Result result = Begin();
  if (rc::Succeeded(result)) {
    state_ = kOpen;
    fill_ = 0;
  }
  return result;
}

Result BlockWriter::Write(const uint8_t* data, uint32_t length) {
  // Bytes after a failure or outside an open file would land in no file, or in the wrong one.
  if (state_ != kOpen) return rc::kFail;
  if (data == nullptr && length != 0) return rc::kInvalidArg;
  while (length >= block_size_ - fill_) {
    const uint32_t n = block_size_ - fill_;
    memcpy(block_.data() + fill_, data, n);
    data += n;
    length -= n;
    Result result = WriteBlock(block_.data(), block_size_);
    if (rc::Failed(result)) return Fail(result);
    fill_ = 0;
  }
  if (length != 0) memcpy(block_.data() + fill_, data, length);
  fill_ += length;
  return rc::kOk;
}

Result BlockWriter::Finish(PropertyHolder& file) {
  if (state_ != kOpen) return rc::kFail;
  if (fill_ != 0) {
    std::fill(block_.begin() + fill_, block_.end(), 0);
    Result result = WriteBlock(block_.data(), fill_);
    if (rc::Failed(result)) return Fail(result);
    fill_ = 0;
  }
  Result result = FinishFile(file);
  if (rc::Failed(result)) return Fail(result);
  state_ = kClosed;
  return result;
}

Result BlockWriter::Abort() {
  if (state_ == kOpen && rc::Succeeded(Cancel())) state_ = kClosed;
  return rc::kOk;
}

Result BlockWriter::Fail(Result result) {
  state_ = kFailed;
  Cancel();
  return result;
}
