// Predictor of the flash families that round files to an allocation unit of the player and
// put the storage index into every fid: bits 4-13 the file number, bits 14 and up the storage.
#pragma once

#include <cstdint>

#include "devices/predictor_accounting.h"

class BlockPredictor : public PredictorAccounting {
 public:
  static constexpr uint32_t kNumberCount = 1024;  // the 10 bits of the number field

  // A unit of 0 would leave nothing to round to; it counts as 1 byte.
  explicit BlockPredictor(uint32_t unit_size) : unit_size_(unit_size ? unit_size : 1) {}

  static uint32_t NumberOfFid(int32_t fid) { return static_cast<uint32_t>(fid >> 4) & 0x3FF; }

  // Takes the storage index from "storage_index" of the storage information.
  Result Reset(PropertyHolder& storage) override;
  Result AddExistingFile(PropertyHolder& file) override;
  Result RemoveFile(PropertyHolder& file) override;
  // rc::kPlayerFull, with nothing changed, once all numbers of the storage are in use: a
  // further number would run into the storage bits and repeat another storage's fid.
  Result AccountNewFile(PropertyHolder& file, uint32_t* blocks_out) override;
  Result AccountFile(PropertyHolder& file) override;
  // One unit for a file of up to one unit, else one unit more than its data.
  uint32_t RoundUp(PropertyHolder& file) override;

 private:
  uint32_t unit_size_;
  uint32_t storage_bits_ = 0;
};

// Flash family B: 32 KiB units.
Result CreateBlockPredictorB(Predictor** out);
// Flash families D and E: 16 KiB units.
Result CreateBlockPredictorDE(Predictor** out);
