// The partition sector of a block device: sector 0, 512 bytes, in format 1 (4 entries, signature
// 0x55 0xAA) or format 2 (16 entries, signature 0x56 0xAB); both tables end at byte 510.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/result_codes.h"

struct PartEntry {
  uint64_t start;   // bytes
  uint64_t length;  // bytes
  int32_t type;     // -1: empty slot
  uint32_t flags;   // bit 0: the high bit of the stored type byte
};

// What WritePartTable takes: count entries (at most the format's entry count).
struct PartTable {
  uint32_t unused_first;
  uint32_t count;
  uint32_t unused_second;
  PartEntry entries[16];
};

namespace part {

constexpr size_t kSectorSize = 512;
constexpr size_t kEntrySize = 16;

// 1 or 2 from the signature, 0 when it is neither.
int FormatOf(const uint8_t* sector);
// 4, 16, or 0 for an unknown format.
int EntryCount(int format);
// Byte offset of entry index; the format must be known (checked by the callers).
size_t EntryOffset(int format, int index);
void Decode(const uint8_t* raw, PartEntry* entry);
void Encode(const PartEntry& entry, uint8_t* raw);
// The checks before an entry is written; a failure prints its message and is 0x80820001.
Result Validate(const PartEntry& entry, uint64_t device_size);
// A non-empty entry of length 0 takes the rest of the device.
void FillLength(PartEntry* entry, uint64_t device_size);

}  // namespace part
