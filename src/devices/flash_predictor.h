// Predictors of the players whose fids are plain file numbers (flash families A and C) and of
// the players whose fids are 256 + 16 x number (hard-disk, network and mass-storage channels).
#pragma once

#include <cstdint>

#include "devices/predictor_accounting.h"

class FlashPredictor : public PredictorAccounting {
 public:
  // With `reserve_first` number 0 is never handed out (the player keeps it for itself).
  explicit FlashPredictor(bool reserve_first) : reserve_first_(reserve_first) {}

  Result Reset(PropertyHolder& storage) override;
  // Marks the fid in use; the file's size is already in the storage information.
  Result AddExistingFile(PropertyHolder& file) override;
  Result RemoveFile(PropertyHolder& file) override;
  Result AccountNewFile(PropertyHolder& file, uint32_t* blocks_out) override;
  Result AccountFile(PropertyHolder& file) override;
  // A sixteenth over the length plus up to one block, in whole blocks.
  uint32_t RoundUp(PropertyHolder& file) override;

 protected:
  // Blocks a deleted file gives back.
  virtual uint32_t BlocksFreedBy(PropertyHolder& file);

 private:
  bool reserve_first_;
};

// Numbers 0 and 1 belong to the player; fids are 256 + 16 x number.
class OmfsPredictor : public FlashPredictor {
 public:
  OmfsPredictor() : FlashPredictor(false) {}

  static int32_t NumberOfFid(int32_t fid) {
    return static_cast<int32_t>((int64_t{fid} - 256) >> 4);
  }
  static int32_t FidOfNumber(uint32_t number) { return static_cast<int32_t>(256 + 16 * number); }

  Result Reset(PropertyHolder& storage) override;
  // Files of the player's own numbers (0 and 1, or ids below 256) are left out.
  Result AddExistingFile(PropertyHolder& file) override;
  Result RemoveFile(PropertyHolder& file) override;
  Result AccountNewFile(PropertyHolder& file, uint32_t* blocks_out) override;
  // Leaves the caller's "fid" in number form, as the callers of this kind expect.
  Result AccountFile(PropertyHolder& file) override;

 private:
  // Runs `op` on a copy of the file whose "fid" holds its number, when that number is not
  // one of the player's own; the caller's set stays as it is.
  template <typename Op>
  Result OnNumberedCopy(PropertyHolder& file, Op op);
};

class MscPredictor : public OmfsPredictor {
 public:
  // The length plus one block, in whole blocks.
  uint32_t RoundUp(PropertyHolder& file) override;

 protected:
  uint32_t BlocksFreedBy(PropertyHolder& file) override { return BlocksFor(file); }
};

// 0, or rc::kOutOfMemory and no object.
Result CreateFlashPredictor(bool reserve_first, Predictor** out);
Result CreateOmfsPredictor(Predictor** out);
Result CreateMscPredictor(Predictor** out);
