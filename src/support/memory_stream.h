// A seekable stream over a growable byte string held in memory.
#pragma once

#include <cstdint>
#include <string>

#include "support/stream.h"

class MemoryStream : public SeekableStream {
 public:
  MemoryStream() = default;
  // Starts with these bytes, positioned at 0.
  explicit MemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

  // Copies what lies between the position and the size; 1 with a count of 0 only once the
  // position has reached the size (a short count before that still answers 0).
  Result Read(void* buffer, uint32_t length, uint32_t* count) override;
  // Stores at the position, first growing the bytes (with zeros) when the write ends past
  // them. A write that would end beyond 4 GiB moves nothing and gives rc::kInvalidArg; memory
  // that cannot be had gives rc::kOutOfMemory.
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override;

  Result GetPosition(uint32_t* position) override;
  // Any position is accepted, also past the end: a later Write fills the gap with zeros.
  Result Seek(uint32_t position) override;
  // Stops at 0 going back; a move beyond 4 GiB gives rc::kInvalidArg and keeps the position.
  Result Skip(int32_t delta) override;
  Result GetSize(uint32_t* size) override;
  // Cuts the bytes or extends them with zeros; the position stays where it is.
  Result SetSize(uint32_t size) override;

  const std::string& Bytes() const { return bytes_; }
  uint32_t Size() const { return static_cast<uint32_t>(bytes_.size()); }

 private:
  std::string bytes_;
  uint32_t position_ = 0;
};
