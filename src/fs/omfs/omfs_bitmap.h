// OmfsBitmap: the allocation bitmap of a volume, one bit per block (least significant bit
// first), kept whole in memory with counts of the blocks and allocation units in use, and
// written to the disk in 512-byte chunks of which only the changed ones are written.
#pragma once

#include <cstdint>
#include <vector>

#include "support/result_codes.h"

class BlockDevice;
struct FsRequest;

class OmfsBitmap {
 public:
  // Flags of FindRun.
  static constexpr uint32_t kShorterRun = 1;   // accept a run shorter than wanted
  static constexpr uint32_t kWholeUnits = 2;   // begin at a unit boundary, whole units only
  static constexpr uint32_t kWithinUnit = 4;   // end the search at the end of the start's unit

  // Bytes of a bitmap for that many blocks, as it lies on the disk.
  static uint64_t DiskBytes(uint64_t blocks);

  // A bitmap with every block free; blocks_per_unit is 1 to 32 and divides 32.
  Result Init(uint64_t blocks, uint32_t blocks_per_unit, uint32_t block_size);
  // Where it lives on the disk: absolute byte position on the device.
  void Place(BlockDevice* device, uint64_t position) {
    device_ = device;
    position_ = position;
  }

  bool Test(uint64_t block) const;
  void Set(uint64_t block);
  void Clear(uint64_t block);
  // The first free run (see the flags): start and length, or 0x80820012.
  Result FindRun(uint64_t wanted, uint64_t start, uint32_t flags, uint64_t* run_start,
                 uint64_t* run_length) const;
  Result Allocate(uint64_t wanted, uint64_t start, uint32_t flags, uint64_t* run_start,
                  uint64_t* run_length);
  void SetRun(uint64_t first, uint64_t count);
  void ClearRun(uint64_t first, uint64_t count);

  Result Load(FsRequest* request);
  // Writes the dirty chunks, or all of them.
  Result WriteBack(FsRequest* request, bool all = false);
  // Every chunk counts as changed (a bitmap written to a new place).
  void MarkAllDirty();

  uint64_t blocks() const { return blocks_; }
  uint64_t used_blocks() const { return used_; }
  uint64_t free_blocks() const { return (units_ - units_used_) * per_unit_; }
  uint32_t blocks_per_unit() const { return per_unit_; }
  uint64_t disk_bytes() const { return disk_bytes_; }
  uint64_t position() const { return position_; }

 private:
  uint32_t Word(uint64_t index) const;
  uint64_t UnitMask(uint64_t block) const;
  void CountAll();

  uint64_t blocks_ = 0;
  uint64_t used_ = 0;
  uint32_t per_unit_ = 1;
  uint64_t units_ = 0;
  uint64_t units_used_ = 0;
  uint64_t disk_bytes_ = 0;
  std::vector<uint8_t> bits_;   // whole sectors beyond disk_bytes_ stay zero
  std::vector<bool> dirty_;     // one per chunk
  BlockDevice* device_ = nullptr;
  uint64_t position_ = 0;
};
