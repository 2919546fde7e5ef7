// The base of the file writers that a channel's CreateNewFile hands out: it cuts the bytes it
// is given into blocks of a fixed size and hands each block over as soon as it is full; the
// last block is zero-filled and handed over with its true length.
#pragma once

#include <cstdint>
#include <vector>

#include "devices/output_stream.h"

class BlockWriter : public OutputStream {
 public:
  enum State : int32_t { kClosed = 0, kOpen = 1, kFailed = 3 };

  explicit BlockWriter(uint32_t block_size);
  ~BlockWriter() override = default;
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  Result Reserved() override;
  // A failed block leaves the data partly consumed and the writer failed.
  Result Write(const uint8_t* data, uint32_t length) override;
  Result Finish(PropertyHolder& file) override;
  Result Abort() override;

  // Starts the file on the device; on success the writer is open.
  Result Open();

  State state() const { return state_; }
  uint32_t fill() const { return fill_; }
  uint32_t block_size() const { return block_size_; }

 protected:
  virtual Result Begin() = 0;
  // `block` always holds block_size() bytes; `length` is block_size() except for the last
  // block of a file, which is zero-filled behind its `length` bytes.
  virtual Result WriteBlock(const uint8_t* block, uint32_t length) = 0;
  virtual Result FinishFile(PropertyHolder& file) = 0;
  // Stops the file in progress. Also called after a failed block or finish, so it must be
  // harmless when the device holds nothing.
  virtual Result Cancel() = 0;

 private:
  // Marks the writer failed and stops what the device still holds of the file.
  Result Fail(Result result);

  State state_ = kClosed;
  uint32_t block_size_;
  uint32_t fill_ = 0;
  std::vector<uint8_t> block_;
};
