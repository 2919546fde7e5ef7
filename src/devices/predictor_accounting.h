// What every predictor shares: the storage information it keeps current, the block arithmetic
// on it, the counters and the set of file numbers in use. The kinds of predictor differ only in
// how they round files, number them and seed the set.
#pragma once

#include <cstdint>
#include <new>
#include <vector>

#include "devices/predictor.h"
#include "media/property_holder.h"

// File numbers in use, one bit each, growing as numbers are marked.
class FileNumberSet {
 public:
  // Numbers at or past this are never tracked: a corrupt fid from a player must not make the
  // set grow without bound, and the lowest free number cannot reach them anyway.
  static constexpr uint32_t kLimit = 1u << 24;

  void Clear() { words_.clear(); }
  // False when memory ran out; numbers past kLimit are ignored.
  bool Mark(uint32_t number);
  void Unmark(uint32_t number);
  // The lowest clear bit of the first word that is not full; past the set when all are.
  uint32_t LowestFree() const;

 private:
  std::vector<uint32_t> words_;
};

class PredictorAccounting : public Predictor {
 public:
  Result Resize(PropertyHolder& old_file, PropertyHolder& new_file,
                uint32_t* blocks_out) override;
  Result WouldOverflow(PropertyHolder& file) override;
  // Shares the predicted information with the caller rather than copying it.
  Result GetStorageInfo(PropertyHolder& storage_out) override;
  Result GetCounters(uint32_t counters_out[2]) override;

 protected:
  static int32_t IntOf(const PropertyHolder& props, const char* name);
  static uint32_t LengthOf(const PropertyHolder& props) {
    return static_cast<uint32_t>(IntOf(props, "length"));
  }
  // Negative ids come out past FileNumberSet::kLimit and are never tracked.
  static uint32_t FidOf(const PropertyHolder& props) {
    return static_cast<uint32_t>(IntOf(props, "fid"));
  }
  // Whole results of 64-bit arithmetic; a file too long to count is charged all there is.
  static uint32_t Saturate(uint64_t value) {
    return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
  }

  // Shares the caller's storage information and zeroes the counters and the number set.
  void StartOver(PropertyHolder& storage);
  // The storage's "block_size"; a storage that reports none is counted in bytes, since the
  // rounding and block counts divide by it.
  uint32_t BlockSize() const;
  uint32_t BlocksFor(PropertyHolder& file) { return RoundUp(file) / BlockSize(); }

  // n blocks taken from the storage; returns the blocks that were not free.
  uint32_t Consume(uint32_t n);
  // n blocks given back, paying back `deficit` first; returns the deficit left.
  uint32_t Release(uint32_t n, uint32_t deficit);

  // Counts blocks taken by a file; 1 when the storage is now over-committed.
  Result Charge(uint32_t blocks);
  // Counts blocks given back by a file.
  void Refund(uint32_t blocks);

  PropertyHolder storage_;
  FileNumberSet used_numbers_;

 private:
  void StoreCounts(uint32_t used, uint32_t free_blocks);

  uint32_t blocks_added_ = 0;
  uint32_t blocks_released_ = 0;
  uint32_t deficit_ = 0;
};

// The factories' common body: 0 and the object, or rc::kOutOfMemory and null.
template <typename T, typename... Args>
Result NewPredictor(Predictor** out, Args... args) {
  *out = new (std::nothrow) T(args...);
  return *out ? rc::kOk : rc::kOutOfMemory;
}
