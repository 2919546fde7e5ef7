#include "fs/omfs/omfs_bitmap.h"

#include <algorithm>
#include <new>

#include "fs/fs_codes.h"
#include "fs/fs_manager.h"
#include "fs/omfs/omfs_layout.h"
#include "platform/block_device.h"

namespace {
constexpr Result kNoRun = static_cast<Result>(0x80820012);

uint32_t PopCount(uint32_t word) { return static_cast<uint32_t>(__builtin_popcount(word)); }
}  // namespace

uint64_t OmfsBitmap::DiskBytes(uint64_t blocks) {
  // A size that is already a multiple of a chunk gets one more full chunk.
  return ((blocks + 7) / 8 / omfs::kBitmapChunk + 1) * omfs::kBitmapChunk;
}

Result OmfsBitmap::Init(uint64_t blocks, uint32_t blocks_per_unit, uint32_t block_size) {
  if (blocks_per_unit == 0 || blocks_per_unit > 32 || 32 % blocks_per_unit != 0 ||
      block_size == 0)
    return fsrc::kCorrupt;
  blocks_ = blocks;
  per_unit_ = blocks_per_unit;
  units_ = blocks / blocks_per_unit;
  disk_bytes_ = DiskBytes(blocks);
  const uint64_t buffer = (disk_bytes_ + block_size - 1) / block_size * block_size;
  if (buffer > SIZE_MAX / 2) return fsrc::kOutOfMemory;
  try {
    bits_.assign(static_cast<size_t>(buffer), 0);
    dirty_.assign(static_cast<size_t>(disk_bytes_ / omfs::kBitmapChunk), false);
  } catch (const std::bad_alloc&) {
    return fsrc::kOutOfMemory;
  }
  used_ = 0;
  units_used_ = 0;
  return fsrc::kOk;
}

uint32_t OmfsBitmap::Word(uint64_t index) const { return bytes::Le32(&bits_[index * 4]); }

uint64_t OmfsBitmap::UnitMask(uint64_t block) const {
  // A unit lies within one 32-bit word; a unit of 32 blocks is the whole word.
  const uint32_t first_bit = static_cast<uint32_t>(block % 32) / per_unit_ * per_unit_;
  return ((uint64_t{1} << per_unit_) - 1) << first_bit;
}

bool OmfsBitmap::Test(uint64_t block) const {
  return block < blocks_ && (bits_[block / 8] >> (block % 8) & 1) != 0;
}

void OmfsBitmap::Set(uint64_t block) {
  if (block >= blocks_ || Test(block)) return;
  const bool unit_was_empty = (Word(block / 32) & UnitMask(block)) == 0;
  bits_[block / 8] |= static_cast<uint8_t>(1u << (block % 8));
  ++used_;
  if (unit_was_empty && block / per_unit_ < units_) ++units_used_;
  dirty_[block / 8 / omfs::kBitmapChunk] = true;
}

void OmfsBitmap::Clear(uint64_t block) {
  if (block >= blocks_ || !Test(block)) return;
  bits_[block / 8] &= static_cast<uint8_t>(~(1u << (block % 8)));
  --used_;
  if ((Word(block / 32) & UnitMask(block)) == 0 && block / per_unit_ < units_) --units_used_;
  dirty_[block / 8 / omfs::kBitmapChunk] = true;
}

void OmfsBitmap::SetRun(uint64_t first, uint64_t count) {
  for (uint64_t i = 0; i < count && first + i < blocks_; ++i) Set(first + i);
}

void OmfsBitmap::ClearRun(uint64_t first, uint64_t count) {
  for (uint64_t i = 0; i < count && first + i < blocks_; ++i) Clear(first + i);
}

Result OmfsBitmap::FindRun(uint64_t wanted, uint64_t start, uint32_t flags,
                           uint64_t* run_start, uint64_t* run_length) const {
  if (wanted == 0 || blocks_ == 0) return kNoRun;
  if (start >= blocks_) start = 0;
  const uint64_t unit_end = (start / per_unit_ + 1) * per_unit_;
  const bool whole_units = (flags & kWholeUnits) != 0;
  if (whole_units) wanted = std::max<uint64_t>(wanted / per_unit_ * per_unit_, per_unit_);
  uint64_t best_start = 0, best_length = 0;
  uint64_t position = start;
  uint64_t scanned = 0;
  while (scanned < blocks_) {
    if (position >= blocks_) position = 0;
    if ((flags & kWithinUnit) && position >= unit_end) break;
    if (Test(position) || (whole_units && position % per_unit_ != 0)) {
      // A word of used blocks is passed at once.
      uint64_t step = position % 32 == 0 && position + 32 <= blocks_ &&
                              Word(position / 32) == 0xFFFFFFFFu
                          ? 32
                          : 1;
      position += step;
      scanned += step;
      continue;
    }
    uint64_t length = 0;
    while (position + length < blocks_ && length < wanted && !Test(position + length)) {
      if ((position + length) % 32 == 0 && position + length + 32 <= blocks_ &&
          Word((position + length) / 32) == 0 && wanted - length >= 32)
        length += 32;
      else
        ++length;
    }
    if (flags & kWithinUnit) length = std::min(length, unit_end - position);
    if (whole_units) length = length / per_unit_ * per_unit_;
    if (length >= wanted) {
      *run_start = position;
      *run_length = wanted;
      return fsrc::kOk;
    }
    if (length > best_length) {
      best_start = position;
      best_length = length;
    }
    const uint64_t step = std::max<uint64_t>(length, 1);
    position += step;
    scanned += step;
  }
  if (best_length == 0 || !(flags & kShorterRun)) return kNoRun;
  *run_start = best_start;
  *run_length = best_length;
  return fsrc::kOk;
}

Result OmfsBitmap::Allocate(uint64_t wanted, uint64_t start, uint32_t flags,
                            uint64_t* run_start, uint64_t* run_length) {
  Result found = FindRun(wanted, start, flags, run_start, run_length);
  if (fsrc::Failed(found)) return found;
  SetRun(*run_start, *run_length);
  return fsrc::kOk;
}

void OmfsBitmap::CountAll() {
  used_ = 0;
  units_used_ = 0;
  const uint64_t units_per_word = 32 / per_unit_;
  const uint64_t mask = (uint64_t{1} << per_unit_) - 1;
  for (uint64_t word = 0; word * 32 < blocks_; ++word) {
    uint32_t bits = Word(word);
    if (blocks_ - word * 32 < 32) bits &= (1u << (blocks_ - word * 32)) - 1;
    used_ += PopCount(bits);
    for (uint64_t unit = 0; unit < units_per_word; ++unit) {
      const uint64_t index = word * units_per_word + unit;
      if (index < units_ && (bits >> (unit * per_unit_) & mask) != 0) ++units_used_;
    }
  }
}

Result OmfsBitmap::Load(FsRequest* request) {
  Result result = FsBlockRead(request, device_, position_, bits_.data(),
                              static_cast<uint32_t>(bits_.size()), 0);
  if (fsrc::Failed(result)) return result;
  // Bits past the end of the volume mean nothing; they are kept clear.
  for (uint64_t block = blocks_; block < disk_bytes_ * 8; ++block)
    bits_[block / 8] &= static_cast<uint8_t>(~(1u << (block % 8)));
  std::fill(bits_.begin() + static_cast<ptrdiff_t>(disk_bytes_), bits_.end(), 0);
  CountAll();
  std::fill(dirty_.begin(), dirty_.end(), false);
  return fsrc::kOk;
}

void OmfsBitmap::MarkAllDirty() { std::fill(dirty_.begin(), dirty_.end(), true); }

Result OmfsBitmap::WriteBack(FsRequest* request, bool all) {
  const uint32_t sector = device_ ? device_->SectorSize() : 0;
  if (sector == 0) return fsrc::kInvalidArgument;
  Result result = fsrc::kOk;
  size_t chunk = 0;
  while (chunk < dirty_.size()) {
    if (!all && !dirty_[chunk]) {
      ++chunk;
      continue;
    }
    // A stretch of changed chunks goes in one write of whole sectors.
    size_t end = chunk + 1;
    while (end < dirty_.size() && (all || dirty_[end])) ++end;
    uint64_t first = uint64_t{chunk} * omfs::kBitmapChunk / sector * sector;
    uint64_t last = (uint64_t{end} * omfs::kBitmapChunk + sector - 1) / sector * sector;
    last = std::min<uint64_t>(last, bits_.size());
    Result written = FsBlockWrite(request, device_, position_ + first, &bits_[first],
                                  static_cast<uint32_t>(last - first), 0);
    if (fsrc::Failed(written)) {
      result = written;
    } else {
      for (size_t i = chunk; i < end; ++i) dirty_[i] = false;
    }
    chunk = end;
  }
  return result;
}
