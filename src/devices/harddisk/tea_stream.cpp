#include "devices/harddisk/tea_stream.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kDelta = 0x9E3779B9;
constexpr uint32_t kRounds = 32;

uint32_t Le32(const uint8_t* at) {
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The next working key, from the block's plaintext words and the key just used.
void ChainKey(uint32_t k[4], uint32_t p0, uint32_t p1) {
  const uint32_t next[4] = {p0 ^ k[1], p1 ^ k[2], p1 ^ k[3], p0 ^ k[0]};
  std::memcpy(k, next, sizeof next);
}

}  // namespace

TeaStream::TeaStream(Stream* base, const uint32_t key[4], bool decipher)
    : base_(base), decipher_(decipher) {
  std::memcpy(key_, key, sizeof key_);
  std::memcpy(decipher_key_, key, sizeof key_);
  std::memcpy(encipher_key_, key, sizeof key_);
}

void TeaStream::ResetKey() { std::memcpy(decipher_key_, key_, sizeof key_); }

void TeaStream::EncipherBlock(uint32_t* y, uint32_t* z, const uint32_t k[4]) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < kRounds; ++i) {
    sum += kDelta;
    *y += ((*z << 4) + k[0]) ^ (*z + sum) ^ ((*z >> 5) + k[1]);
    *z += ((*y << 4) + k[2]) ^ (*y + sum) ^ ((*y >> 5) + k[3]);
  }
}

void TeaStream::DecipherBlock(uint32_t* y, uint32_t* z, const uint32_t k[4]) {
  uint32_t sum = kDelta * kRounds;
  for (uint32_t i = 0; i < kRounds; ++i) {
    *z -= ((*y << 4) + k[2]) ^ (*y + sum) ^ ((*y >> 5) + k[3]);
    *y -= ((*z << 4) + k[0]) ^ (*z + sum) ^ ((*z >> 5) + k[1]);
    sum -= kDelta;
  }
}

void TeaStream::Transform(uint8_t* data, uint32_t whole_bytes) {
  uint32_t* key = decipher_ ? decipher_key_ : encipher_key_;
  for (uint32_t at = 0; at + 8 <= whole_bytes; at += 8) {
    uint32_t y = Le32(data + at), z = Le32(data + at + 4);
    if (decipher_) {
      DecipherBlock(&y, &z, key);
      ChainKey(key, y, z);
    } else {
      const uint32_t p0 = y, p1 = z;
      EncipherBlock(&y, &z, key);
      ChainKey(key, p0, p1);
    }
    PutLe32(data + at, y);
    PutLe32(data + at + 4, z);
  }
}

Result TeaStream::Read(void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  length -= length % 8;
  Result result = base_->Read(buffer, length, count);
  if (rc::Failed(result)) return result;
  if (*count > length) *count = length;
  Transform(static_cast<uint8_t*>(buffer), *count - *count % 8);
  return result;
}

Result TeaStream::Write(const void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  length -= length % 8;
  std::vector<uint8_t> copy;
  try {
    copy.assign(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + length);
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  Transform(copy.data(), length);
  for (uint32_t written = 0; written < length;) {
    uint32_t done = 0;
    Result result = base_->Write(copy.data() + written, length - written, &done);
    if (rc::Failed(result)) return result;
    if (done == 0) return rc::kShortTransfer;
    written += done;
  }
  *count = length;
  return rc::kOk;
}
