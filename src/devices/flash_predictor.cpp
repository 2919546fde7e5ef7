#include "devices/flash_predictor.h"

Result FlashPredictor::Reset(PropertyHolder& storage) {
  StartOver(storage);
  if (reserve_first_) used_numbers_.Mark(0);
  return rc::kOk;
}

Result FlashPredictor::AddExistingFile(PropertyHolder& file) {
  return used_numbers_.Mark(FidOf(file)) ? rc::kOk : rc::kOutOfMemory;
}

Result FlashPredictor::RemoveFile(PropertyHolder& file) {
  used_numbers_.Unmark(FidOf(file));
  Refund(BlocksFreedBy(file));
  return rc::kOk;
}

Result FlashPredictor::AccountNewFile(PropertyHolder& file, uint32_t* blocks_out) {
  const uint32_t number = used_numbers_.LowestFree();
  if (!used_numbers_.Mark(number)) return rc::kOutOfMemory;
  file.SetInt("fid", static_cast<int32_t>(number));
  const uint32_t blocks = BlocksFor(file);
  if (blocks_out) *blocks_out = blocks;
  return Charge(blocks);
}

Result FlashPredictor::AccountFile(PropertyHolder& file) {
  if (!used_numbers_.Mark(FidOf(file))) return rc::kOutOfMemory;
  return Charge(BlocksFor(file));
}

uint32_t FlashPredictor::RoundUp(PropertyHolder& file) {
  const uint64_t length = LengthOf(file);
  const uint64_t block = BlockSize();
  return Saturate((length + length / 16 + block) / block * block);
}

uint32_t FlashPredictor::BlocksFreedBy(PropertyHolder& file) {
  const uint64_t length = LengthOf(file);
  return Saturate((length + length / 32) / BlockSize());
}

template <typename Op>
Result OmfsPredictor::OnNumberedCopy(PropertyHolder& file, Op op) {
  PropertyHolder copy = PropertyHolder::CloneFrom(file);
  if (!copy.GetSet()) return rc::kOutOfMemory;
  const int32_t number = NumberOfFid(static_cast<int32_t>(FidOf(file)));
  if (number <= 1) return rc::kOk;
  copy.SetInt("fid", number);
  return op(copy);
}

Result OmfsPredictor::Reset(PropertyHolder& storage) {
  FlashPredictor::Reset(storage);
  used_numbers_.Mark(0);
  used_numbers_.Mark(1);
  return rc::kOk;
}

Result OmfsPredictor::AddExistingFile(PropertyHolder& file) {
  return OnNumberedCopy(file, [this](PropertyHolder& copy) {
    return FlashPredictor::AddExistingFile(copy);
  });
}

Result OmfsPredictor::RemoveFile(PropertyHolder& file) {
  return OnNumberedCopy(file, [this](PropertyHolder& copy) {
    return FlashPredictor::RemoveFile(copy);
  });
}

Result OmfsPredictor::AccountNewFile(PropertyHolder& file, uint32_t* blocks_out) {
  const Result result = FlashPredictor::AccountNewFile(file, blocks_out);
  if (rc::Succeeded(result)) file.SetInt("fid", FidOfNumber(FidOf(file)));
  return result;
}

Result OmfsPredictor::AccountFile(PropertyHolder& file) {
  file.SetInt("fid", NumberOfFid(static_cast<int32_t>(FidOf(file))));
  return FlashPredictor::AccountFile(file);
}

uint32_t MscPredictor::RoundUp(PropertyHolder& file) {
  const uint64_t length = LengthOf(file);
  const uint64_t block = BlockSize();
  return Saturate((length + block) / block * block);
}

Result CreateFlashPredictor(bool reserve_first, Predictor** out) {
  return NewPredictor<FlashPredictor>(out, reserve_first);
}

Result CreateOmfsPredictor(Predictor** out) { return NewPredictor<OmfsPredictor>(out); }

Result CreateMscPredictor(Predictor** out) { return NewPredictor<MscPredictor>(out); }
