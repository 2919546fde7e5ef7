// RIFF chunk framing shared by the WAV reader and writer: 4-character ids, little-endian sizes,
// bodies padded to even lengths.
#pragma once

#include <cstdint>

#include "support/result_codes.h"

class SeekableStream;
class Stream;

namespace rc {
constexpr Result kNotWave = static_cast<Result>(0x80048008);           // RIFF form type
constexpr Result kUnsupportedWaveFormat = static_cast<Result>(0x80048009);
}  // namespace rc

constexpr uint32_t FourCc(const char (&id)[5]) {
  return uint32_t{static_cast<uint8_t>(id[0])} | uint32_t{static_cast<uint8_t>(id[1])} << 8 |
         uint32_t{static_cast<uint8_t>(id[2])} << 16 | uint32_t{static_cast<uint8_t>(id[3])} << 24;
}

// The bytes a chunk body of `size` takes in the file, its pad byte included.
inline uint64_t PaddedSize(uint32_t size) { return uint64_t{size} + (size & 1); }

// Reads a little-endian 16- or 32-bit value; rc::kShortTransfer at the end of the data.
Result ReadLe16(Stream* stream, uint16_t* value);
Result ReadLe32(Stream* stream, uint32_t* value);
// Moves `bytes` forward; rc::kShortTransfer when that leaves the 32-bit positions.
Result SkipForward(SeekableStream* stream, uint64_t bytes);
