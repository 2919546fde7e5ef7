#include "support/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

Result MemoryStream::Read(void* buffer, uint32_t length, uint32_t* count) {
  const uint32_t size = Size();
  if (position_ >= size) {
    *count = 0;
    return rc::kEndOfData;
  }
  const uint32_t moved = std::min(length, size - position_);
  std::memcpy(buffer, bytes_.data() + position_, moved);
  position_ += moved;
  *count = moved;
  return rc::kOk;
}

Result MemoryStream::Write(const void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  if (length > UINT32_MAX - position_) return rc::kInvalidArg;  // the end would wrap
  const uint32_t end = position_ + length;
  if (end > Size()) {
    const Result grown = SetSize(end);
    if (rc::Failed(grown)) return grown;
  }
  std::memcpy(&bytes_[0] + position_, buffer, length);
  position_ = end;
  *count = length;
  return rc::kOk;
}

Result MemoryStream::GetPosition(uint32_t* position) {
  *position = position_;
  return rc::kOk;
}

Result MemoryStream::Seek(uint32_t position) {
  position_ = position;
  return rc::kOk;
}

Result MemoryStream::Skip(int32_t delta) {
  const int64_t target = std::max<int64_t>(0, int64_t{position_} + delta);
  if (target > UINT32_MAX) return rc::kInvalidArg;
  position_ = static_cast<uint32_t>(target);
  return rc::kOk;
}

Result MemoryStream::GetSize(uint32_t* size) {
  *size = Size();
  return rc::kOk;
}

Result MemoryStream::SetSize(uint32_t size) {
  try {
    bytes_.resize(size, '\0');
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  } catch (const std::length_error&) {
    return rc::kOutOfMemory;
  }
  return rc::kOk;
}
