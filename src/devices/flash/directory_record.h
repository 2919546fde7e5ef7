// The 2048-byte directory record of flash families B to E: the common fields, then the
// player's directory entry texts (folder, name, title, artist, source, misc), the rid and the
// fid generation. Families C to E list their files record by record (request 105).
#pragma once

#include <cstdint>

#include "support/result_codes.h"

class PropertyHolder;
class PropertySet;

namespace sardane {

// Flags word bits of directory records.
constexpr uint32_t kFlagUtf8Text = 0x01000000;      // text fields are UTF-8, else Latin-1
constexpr uint32_t kFlagTitlePicture = 0x00400000;  // a title picture lies at 512

constexpr uint32_t kRidOffset = 72;
constexpr uint32_t kRidSize = 16;
constexpr uint32_t kFidGenerationOffset = 120;
constexpr uint32_t kDirectoryOffset = 128;
constexpr uint32_t kNameOffset = 192;
constexpr uint32_t kTitleOffset = 256;
constexpr uint32_t kArtistOffset = 320;
constexpr uint32_t kSourceOffset = 384;
constexpr uint32_t kMiscOffset = 448;
constexpr uint32_t kTextFieldWidth = 64;

// Fills a zeroed 2048-byte record from the file's properties; text in UTF-8 or Latin-1.
void EncodeDirectoryRecord(uint8_t* record, PropertySet& file, bool utf8);
// Empties the holder and stores every field of a record of `length` bytes; rc::kBadData for
// a record shorter than 2048 bytes.
Result DecodeDirectoryRecord(PropertyHolder& file, const uint8_t* record, uint32_t length);

}  // namespace sardane
