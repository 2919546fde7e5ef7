// The fields that every flash family's 2048-byte file record shares (fid, length, duration,
// ctime, flags, type code, channels, sample rate, byte rate), and the file-name rule the
// families use for their own name fields.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class PropertyHolder;
class PropertySet;

namespace sardane {

// Record offsets of the common fields (little-endian).
constexpr uint32_t kFidOffset = 0;
constexpr uint32_t kLengthOffset = 8;
constexpr uint32_t kDurationOffset = 12;
constexpr uint32_t kCtimeOffset = 16;
constexpr uint32_t kFlagsOffset = 20;
constexpr uint32_t kTypeCodeOffset = 24;
constexpr uint32_t kChannelsOffset = 34;  // u16
constexpr uint32_t kSampleRateOffset = 36;
constexpr uint32_t kByteRateOffset = 40;

// Flag bits of the flags word.
constexpr uint32_t kFlagsAlways = 0x110;
constexpr uint32_t kFlagsTune = 0xA01;
constexpr uint32_t kFlagAutosync = 0x800000;
constexpr uint32_t kFlagRecorded = 0x8000000;

// Fills the common fields of a 2048-byte record from the file's properties (absent numbers
// give 0); the other bytes are left as they are.
void EncodeCommonFields(uint8_t* record, PropertySet& file);
// Empties the holder's set and stores the common fields of a record of `length` bytes;
// rc::kBadData (holder untouched) for a record shorter than 2048 bytes.
Result DecodeCommonFields(PropertyHolder& file, const uint8_t* record, uint32_t length);

// As PutTextField, but a name too long for the field keeps its extension (from the last '.')
// and loses the end of the part before it.
void PutFileNameField(uint8_t* field, uint32_t width, const std::string& name, bool utf8);

}  // namespace sardane
