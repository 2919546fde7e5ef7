#include "devices/flash/fid_list_image.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "media/property_holder.h"
#include "support/byte_order.h"

namespace {

constexpr char kMagic[] = "FIDLST";
constexpr uint32_t kMagicSize = 6;
constexpr uint8_t kVersion = 1;
constexpr uint32_t kLow24 = 0xFFFFFF;

}  // namespace

uint32_t GenerationStamp(uint32_t seconds, uint32_t microseconds) {
  const uint64_t tenths = (uint64_t{seconds} * 1000000 + microseconds) / 100000;
  const uint32_t stamp = static_cast<uint32_t>(tenths) & kLow24;
  return stamp == 0 ? 1 : stamp;
}

Result FidListImage::Add(PropertyHolder& file) {
  const RefPtr<PropertySet> set = file.GetSet();
  if (!set) return rc::kOutOfMemory;
  try {
    entries_.push_back({static_cast<uint32_t>(set->GetInt("fid")),
                        static_cast<uint32_t>(set->GetInt("fid_generation"))});
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  return rc::kOk;
}

Result FidListImage::Serialize(SeekableStream** stream_out) {
  Rewind();
  *stream_out = new (std::nothrow) FidListStream(this);
  return *stream_out ? rc::kOk : rc::kOutOfMemory;
}

Result FidListImage::NewList(RefPtr<FidList>* list_out) {
  list_out->Reset();
  FidListImage* copy = new (std::nothrow) FidListImage();
  if (!copy) return rc::kOutOfMemory;
  RefPtr<FidListImage> hold(copy);
  try {
    copy->entries_ = entries_;
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  copy->cursor_ = cursor_;
  copy->carry_count_ = carry_count_;
  std::memcpy(copy->carry_, carry_, sizeof carry_);
  *list_out = hold;
  return rc::kOk;
}

uint32_t FidListImage::TimeStamp() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t since_1601 = uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime;
  const uint64_t micros = (since_1601 - 116444736000000000ull) / 10;
  return GenerationStamp(static_cast<uint32_t>(micros / 1000000),
                         static_cast<uint32_t>(micros % 1000000));
}

void FidListImage::Rewind() {
  cursor_ = kHeaderPending;
  carry_count_ = 0;
}

Result FidListImage::Encode(uint8_t* buffer, uint32_t length, uint32_t* done) {
  *done = 0;
  uint32_t written = 0;
  if (cursor_ == kHeaderPending) {
    if (length < kHeaderSize) return rc::kInvalidArg;
    std::memcpy(buffer, kMagic, kMagicSize);
    buffer[6] = kVersion;
    buffer[7] = 0;
    buffer[8] = 0;
    bytes::PutLe24(buffer + 9, Count() & kLow24);
    written = kHeaderSize;
    cursor_ = 0;
  }
  for (; cursor_ < entries_.size() && length - written >= kEntrySize; ++cursor_) {
    bytes::PutLe24(buffer + written, entries_[cursor_].fid & kLow24);
    bytes::PutLe24(buffer + written + 3, entries_[cursor_].generation & kLow24);
    written += kEntrySize;
  }
  *done = written;
  return written > 0 ? rc::kOk : rc::kEndOfData;
}

bool FidListImage::Append(const uint8_t* entry) {
  try {
    entries_.push_back({bytes::Le24(entry), bytes::Le24(entry + 3)});
  } catch (const std::bad_alloc&) {
    return false;
  }
  ++cursor_;
  return true;
}

Result FidListImage::Decode(const uint8_t* data, uint32_t length, uint32_t* used) {
  *used = 0;
  uint32_t pos = 0;
  if (cursor_ == kHeaderPending) {
    if (length < kHeaderSize || std::memcmp(data, kMagic, kMagicSize) != 0 ||
        (data[6] & 1) == 0) {
      return rc::kFail;
    }
    pos = kHeaderSize;
    cursor_ = 0;
  }
  if (carry_count_ > 0) {
    const uint32_t take = std::min(kEntrySize - carry_count_, length - pos);
    std::memcpy(carry_ + carry_count_, data + pos, take);
    carry_count_ += take;
    pos += take;
    if (carry_count_ == kEntrySize) {
      if (!Append(carry_)) return rc::kOutOfMemory;
      carry_count_ = 0;
    }
  }
  for (; length - pos >= kEntrySize; pos += kEntrySize) {
    if (!Append(data + pos)) {
      *used = pos;
      return rc::kOutOfMemory;
    }
  }
  // Only reached with an empty carry: an unfinished carry has taken all the data.
  if (pos < length) {
    carry_count_ = length - pos;
    std::memcpy(carry_, data + pos, carry_count_);
  }
  *used = length;
  return rc::kOk;
}

Result FidListStream::Read(void* buffer, uint32_t length, uint32_t* done) {
  return list_->Encode(static_cast<uint8_t*>(buffer), length, done);
}

Result FidListStream::Write(const void* data, uint32_t length, uint32_t* used) {
  return list_->Decode(static_cast<const uint8_t*>(data), length, used);
}

Result FidListStream::GetPosition(uint32_t*) { return rc::kNotImplemented; }

Result FidListStream::Seek(uint32_t position) {
  if (position != 0) return rc::kNotImplemented;
  list_->Rewind();
  return rc::kOk;
}

Result FidListStream::Skip(int32_t) { return rc::kNotImplemented; }

Result FidListStream::GetSize(uint32_t* size) {
  *size = list_->SerializedSize();
  return rc::kOk;
}

Result FidListStream::SetSize(uint32_t) { return rc::kNotImplemented; }

Result CreateFidList(RefPtr<FidList>* out) {
  out->Reset();
  FidListImage* list = new (std::nothrow) FidListImage();
  if (!list) return rc::kOutOfMemory;
  *out = list;
  return rc::kOk;
}
