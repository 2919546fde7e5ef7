#include "support/bounded_stream.h"

#include <algorithm>

BoundedStream::BoundedStream(SeekableStream* base, uint32_t start, uint32_t limit)
    : base_(base), start_(start), limit_(std::min(limit, UINT32_MAX - start)) {}

Result BoundedStream::PlaceBase(uint32_t* room) {
  *room = limit_ - position_;
  return base_->Seek(start_ + position_);
}

Result BoundedStream::Read(void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  uint32_t room = 0;
  const Result placed = PlaceBase(&room);
  if (rc::Failed(placed)) return placed;
  if (room == 0) return length == 0 ? rc::kOk : rc::kEndOfData;
  const Result result = base_->Read(buffer, std::min(length, room), count);
  if (rc::Failed(result)) return result;
  *count = std::min(*count, room);  // never past the limit, whatever the base claims
  position_ += *count;
  return result;
}

Result BoundedStream::Write(const void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  uint32_t room = 0;
  const Result placed = PlaceBase(&room);
  if (rc::Failed(placed) || room == 0) return placed;
  const Result result = base_->Write(buffer, std::min(length, room), count);
  if (rc::Failed(result)) return result;
  *count = std::min(*count, room);
  position_ += *count;
  return result;
}

Result BoundedStream::GetPosition(uint32_t* position) {
  *position = position_;
  return rc::kOk;
}

Result BoundedStream::Seek(uint32_t position) {
  position = std::min(position, limit_);
  const Result result = base_->Seek(start_ + position);
  if (rc::Succeeded(result)) position_ = position;
  return result;
}

Result BoundedStream::Skip(int32_t delta) {
  const int64_t target = std::clamp<int64_t>(int64_t{position_} + delta, 0, limit_);
  return Seek(static_cast<uint32_t>(target));
}

Result BoundedStream::GetSize(uint32_t* size) {
  *size = limit_;
  return rc::kOk;
}

Result BoundedStream::SetSize(uint32_t /*size*/) { return rc::kNotImplemented; }
