#include "devices/block_predictor.h"

#include "devices/device_results.h"

Result BlockPredictor::Reset(PropertyHolder& storage) {
  StartOver(storage);
  const int16_t index = static_cast<int16_t>(IntOf(storage, "storage_index"));
  storage_bits_ = static_cast<uint32_t>(int32_t{index}) << 14;
  used_numbers_.Mark(0);
  return rc::kOk;
}

Result BlockPredictor::AddExistingFile(PropertyHolder& file) {
  used_numbers_.Mark(NumberOfFid(IntOf(file, "fid")));
  return rc::kOk;
}

Result BlockPredictor::RemoveFile(PropertyHolder& file) {
  used_numbers_.Unmark(NumberOfFid(IntOf(file, "fid")));
  Refund(BlocksFor(file));
  return rc::kOk;
}

Result BlockPredictor::AccountNewFile(PropertyHolder& file, uint32_t* blocks_out) {
  const uint32_t number = used_numbers_.LowestFree();
  if (number >= kNumberCount) return rc::kPlayerFull;
  used_numbers_.Mark(number);
  file.SetInt("fid", static_cast<int32_t>(number << 4 | storage_bits_));
  const uint32_t blocks = BlocksFor(file);
  if (blocks_out) *blocks_out = blocks;
  return Charge(blocks);
}

Result BlockPredictor::AccountFile(PropertyHolder& file) {
  used_numbers_.Mark(NumberOfFid(IntOf(file, "fid")));
  return Charge(BlocksFor(file));
}

uint32_t BlockPredictor::RoundUp(PropertyHolder& file) {
  const uint64_t unit = unit_size_;
  const uint64_t units = (LengthOf(file) + unit - 1) / unit;
  return Saturate(unit * (units < 2 ? units : units + 1));
}

Result CreateBlockPredictorB(Predictor** out) { return NewPredictor<BlockPredictor>(out, 32768u); }

Result CreateBlockPredictorDE(Predictor** out) {
  return NewPredictor<BlockPredictor>(out, 16384u);
}
