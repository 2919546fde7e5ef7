// A read-ahead window over a seekable stream, for parsers that read a few bytes at a time
// (frame searches, tag walks): they ask this reader, which asks the stream for a whole window
// at once. Read-only: the bytes below must not change while the reader is in use.
#pragma once

#include <cstdint>
#include <memory>

#include "support/stream.h"

class BufferedReader : public SeekableStream {
 public:
  static constexpr uint32_t kDefaultWindow = 64 * 1024;

  // The base is not owned and must outlive the reader. The reader keeps its own position,
  // starting where the base stands when first needed; every refill places the base there
  // first, so others may move the base in between.
  explicit BufferedReader(SeekableStream* base, uint32_t window = kDefaultWindow);
  BufferedReader(const BufferedReader&) = delete;
  BufferedReader& operator=(const BufferedReader&) = delete;
  ~BufferedReader() override;

  // Like a file: 1 with a count of 0 at the end of the data, 0 for a short count before it.
  // Requests of a window or more that find nothing buffered go to the base directly.
  Result Read(void* buffer, uint32_t length, uint32_t* count) override;
  // One byte; 1 at the end of the data.
  Result ReadByte(uint8_t* byte) {
    if (position_ >= start_ && position_ - start_ < filled_) {
      *byte = window_[position_++ - start_];
      return rc::kOk;
    }
    return ReadByteSlow(byte);
  }
  // Copies up to `length` bytes (at most one window) from the position without moving it.
  Result Peek(void* buffer, uint32_t length, uint32_t* count);

  Result Write(const void* buffer, uint32_t length, uint32_t* count) override;  // not supported
  Result GetPosition(uint32_t* position) override;
  // Moves only the reader's position (no I/O); any position is accepted, as in a file.
  Result Seek(uint32_t position) override;
  // A move before 0 or beyond 4 GiB gives rc::kInvalidArg and keeps the position.
  Result Skip(int32_t delta) override;
  Result GetSize(uint32_t* size) override;
  Result SetSize(uint32_t size) override;  // not supported

  // Reads the base has answered so far (for callers that watch their I/O).
  uint32_t BaseReads() const { return base_reads_; }

 private:
  Result EnsurePosition();
  // Refills the window with the bytes from the position on.
  Result Fill();
  Result ReadByteSlow(uint8_t* byte);

  SeekableStream* base_;
  uint32_t capacity_;
  std::unique_ptr<uint8_t[]> window_;
  uint32_t start_ = 0;   // stream position of window_[0]
  uint32_t filled_ = 0;  // valid bytes in the window
  uint32_t position_ = 0;
  bool known_ = false;  // position_ has been taken from the base
  uint32_t base_reads_ = 0;
};
