#include "support/buffered_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

BufferedReader::BufferedReader(SeekableStream* base, uint32_t window)
    : base_(base), capacity_(std::max<uint32_t>(window, 1)) {}

BufferedReader::~BufferedReader() = default;

Result BufferedReader::EnsurePosition() {
  if (known_) return rc::kOk;
  const Result result = base_->GetPosition(&position_);
  if (rc::Succeeded(result)) known_ = true;
  return result;
}

Result BufferedReader::Fill() {
  filled_ = 0;
  start_ = position_;
  if (!window_) {
    window_.reset(new (std::nothrow) uint8_t[capacity_]);
    if (!window_) return rc::kOutOfMemory;
  }
  const Result placed = base_->Seek(position_);
  if (rc::Failed(placed)) return placed;
  uint32_t got = 0;
  ++base_reads_;
  const Result result = base_->Read(window_.get(), capacity_, &got);
  if (rc::Failed(result)) return result;
  filled_ = std::min(got, capacity_);
  return rc::kOk;
}

Result BufferedReader::ReadByteSlow(uint8_t* byte) {
  const Result known = EnsurePosition();
  if (rc::Failed(known)) return known;
  if (position_ < start_ || position_ - start_ >= filled_) {
    const Result filled = Fill();
    if (rc::Failed(filled)) return filled;
    if (filled_ == 0) return rc::kEndOfData;
  }
  *byte = window_[position_++ - start_];
  return rc::kOk;
}

Result BufferedReader::Read(void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  const Result known = EnsurePosition();
  if (rc::Failed(known)) return known;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  Result failure = rc::kOk;
  while (done < length) {
    if (position_ >= start_ && position_ - start_ < filled_) {
      const uint32_t moved = std::min(filled_ - (position_ - start_), length - done);
      std::memcpy(out + done, window_.get() + (position_ - start_), moved);
      position_ += moved;
      done += moved;
      continue;
    }
    if (length - done >= capacity_) {
      // Large requests gain nothing from the window.
      uint32_t got = 0;
      failure = base_->Seek(position_);
      if (rc::Succeeded(failure)) {
        ++base_reads_;
        failure = base_->Read(out + done, length - done, &got);
      }
      if (rc::Failed(failure)) break;
      got = std::min(got, length - done);
      position_ += got;
      done += got;
      if (failure == rc::kEndOfData || got == 0) break;
      continue;
    }
    failure = Fill();
    if (rc::Failed(failure) || filled_ == 0) break;
  }
  *count = done;
  // Bytes already moved are answered first; the failure comes again on the next call.
  if (done > 0 || length == 0) return rc::kOk;
  return rc::Failed(failure) ? failure : rc::kEndOfData;
}

Result BufferedReader::Peek(void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  const Result known = EnsurePosition();
  if (rc::Failed(known)) return known;
  length = std::min(length, capacity_);
  const bool inside = position_ >= start_ && position_ - start_ < filled_;
  if (!inside || filled_ - (position_ - start_) < length) {
    const Result filled = Fill();
    if (rc::Failed(filled)) return filled;
  }
  const uint32_t available = filled_ - (position_ - start_);
  *count = std::min(available, length);
  std::memcpy(buffer, window_.get() + (position_ - start_), *count);
  return *count == 0 && length > 0 ? rc::kEndOfData : rc::kOk;
}

Result BufferedReader::Write(const void* /*buffer*/, uint32_t /*length*/, uint32_t* count) {
  *count = 0;
  return rc::kNotImplemented;
}

Result BufferedReader::GetPosition(uint32_t* position) {
  const Result known = EnsurePosition();
  if (rc::Failed(known)) return known;
  *position = position_;
  return rc::kOk;
}

Result BufferedReader::Seek(uint32_t position) {
  position_ = position;
  known_ = true;
  return rc::kOk;
}

Result BufferedReader::Skip(int32_t delta) {
  const Result known = EnsurePosition();
  if (rc::Failed(known)) return known;
  const int64_t target = int64_t{position_} + delta;
  if (target < 0 || target > UINT32_MAX) return rc::kInvalidArg;
  position_ = static_cast<uint32_t>(target);
  return rc::kOk;
}

Result BufferedReader::GetSize(uint32_t* size) { return base_->GetSize(size); }

Result BufferedReader::SetSize(uint32_t /*size*/) { return rc::kNotImplemented; }
