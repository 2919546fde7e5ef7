#include "devices/predictor_accounting.h"

#include <new>

bool FileNumberSet::Mark(uint32_t number) {
  if (number >= kLimit) return true;
  const size_t word = number / 32;
  try {
    if (word >= words_.size()) words_.resize(word + 1, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  words_[word] |= 1u << (number % 32);
  return true;
}

void FileNumberSet::Unmark(uint32_t number) {
  const size_t word = number / 32;
  if (word < words_.size()) words_[word] &= ~(1u << (number % 32));
}

uint32_t FileNumberSet::LowestFree() const {
  for (size_t word = 0; word < words_.size(); ++word) {
    const uint32_t bits = words_[word];
    if (bits == UINT32_MAX) continue;
    uint32_t bit = 0;
    while (bits >> bit & 1u) ++bit;
    return static_cast<uint32_t>(word * 32 + bit);
  }
  return static_cast<uint32_t>(words_.size() * 32);
}

int32_t PredictorAccounting::IntOf(const PropertyHolder& props, const char* name) {
  const RefPtr<PropertySet> set = props.GetSet();
  return set ? set->GetInt(name) : 0;
}

void PredictorAccounting::StartOver(PropertyHolder& storage) {
  storage_ = storage;
  used_numbers_.Clear();
  blocks_added_ = 0;
  blocks_released_ = 0;
  deficit_ = 0;
}

uint32_t PredictorAccounting::BlockSize() const {
  const uint32_t size = static_cast<uint32_t>(IntOf(storage_, "block_size"));
  return size == 0 ? 1 : size;
}

void PredictorAccounting::StoreCounts(uint32_t used, uint32_t free_blocks) {
  storage_.SetInt("used_in_blocks", static_cast<int32_t>(used));
  storage_.SetInt("free_in_blocks", static_cast<int32_t>(free_blocks));
  const uint64_t block_size = BlockSize();
  storage_.SetInt64("used_in_bytes", static_cast<int64_t>(used * block_size));
  storage_.SetInt64("free_in_bytes", static_cast<int64_t>(free_blocks * block_size));
}

uint32_t PredictorAccounting::Consume(uint32_t n) {
  const uint32_t used = static_cast<uint32_t>(IntOf(storage_, "used_in_blocks"));
  uint32_t free_blocks = static_cast<uint32_t>(IntOf(storage_, "free_in_blocks"));
  uint32_t shortfall = 0;
  if (n > free_blocks) {
    shortfall = n - free_blocks;
    free_blocks = 0;
  } else {
    free_blocks -= n;
  }
  StoreCounts(used + n, free_blocks);
  return shortfall;
}

uint32_t PredictorAccounting::Release(uint32_t n, uint32_t deficit) {
  uint32_t used = static_cast<uint32_t>(IntOf(storage_, "used_in_blocks"));
  uint32_t free_blocks = static_cast<uint32_t>(IntOf(storage_, "free_in_blocks"));
  if (n > used) {
    // The counts were already off; free space grows only while something was still counted.
    if (used != 0) free_blocks += n;
    used = 0;
    deficit = 0;
  } else {
    used -= n;
    if (deficit >= n) {
      deficit -= n;
    } else {
      free_blocks += n - deficit;
      deficit = 0;
    }
  }
  StoreCounts(used, free_blocks);
  return deficit;
}

Result PredictorAccounting::Charge(uint32_t blocks) {
  blocks_added_ += blocks;
  deficit_ += Consume(blocks);
  return deficit_ != 0 ? 1 : 0;
}

void PredictorAccounting::Refund(uint32_t blocks) {
  blocks_released_ += blocks;
  deficit_ = Release(blocks, deficit_);
}

Result PredictorAccounting::Resize(PropertyHolder& old_file, PropertyHolder& new_file,
                                   uint32_t* blocks_out) {
  const uint32_t before = BlocksFor(old_file);
  const uint32_t after = BlocksFor(new_file);
  if (before < after) {
    if (blocks_out) *blocks_out = after - before;
    return Charge(after - before);
  }
  if (before > after) {
    if (blocks_out) *blocks_out = 0;
    Refund(before - after);
  }
  return rc::kOk;
}

Result PredictorAccounting::WouldOverflow(PropertyHolder& file) {
  const uint32_t free_blocks = static_cast<uint32_t>(IntOf(storage_, "free_in_blocks"));
  return BlocksFor(file) > free_blocks ? 1 : 0;
}

Result PredictorAccounting::GetStorageInfo(PropertyHolder& storage_out) {
  storage_out = storage_;
  return rc::kOk;
}

Result PredictorAccounting::GetCounters(uint32_t counters_out[2]) {
  counters_out[0] = blocks_added_;
  counters_out[1] = blocks_released_;
  return rc::kOk;
}
