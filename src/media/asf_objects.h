// The object layer of ASF files (WMA, ASF): GUIDs in their on-disk byte order, little-endian
// field access, and the walk over the objects of the header.
#pragma once

#include <cstdint>
#include <cstring>

#include "support/result_codes.h"

class SeekableStream;

// 16 bytes as stored in the file: Data1 (32), Data2 (16) and Data3 (16) little endian, then the
// 8 bytes of Data4 as they stand.
struct AsfGuid {
  uint8_t bytes[16];
  bool operator==(const AsfGuid& other) const {
    return std::memcmp(bytes, other.bytes, sizeof(bytes)) == 0;
  }
  bool operator!=(const AsfGuid& other) const { return !(*this == other); }
};

// From the written form, e.g. MakeAsfGuid(0x75B22630, 0x668E, 0x11CF, 0xA6D9, 0x00AA0062CE6C).
constexpr AsfGuid MakeAsfGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint16_t d4, uint64_t node) {
  return AsfGuid{
      {static_cast<uint8_t>(d1), static_cast<uint8_t>(d1 >> 8), static_cast<uint8_t>(d1 >> 16),
       static_cast<uint8_t>(d1 >> 24), static_cast<uint8_t>(d2), static_cast<uint8_t>(d2 >> 8),
       static_cast<uint8_t>(d3), static_cast<uint8_t>(d3 >> 8), static_cast<uint8_t>(d4 >> 8),
       static_cast<uint8_t>(d4), static_cast<uint8_t>(node >> 40), static_cast<uint8_t>(node >> 32),
       static_cast<uint8_t>(node >> 24), static_cast<uint8_t>(node >> 16),
       static_cast<uint8_t>(node >> 8), static_cast<uint8_t>(node)}};
}

namespace asf {

constexpr AsfGuid kHeaderObject = MakeAsfGuid(0x75B22630, 0x668E, 0x11CF, 0xA6D9, 0x00AA0062CE6C);
constexpr AsfGuid kDataObject = MakeAsfGuid(0x75B22636, 0x668E, 0x11CF, 0xA6D9, 0x00AA0062CE6C);
constexpr AsfGuid kContentDescription =
    MakeAsfGuid(0x75B22633, 0x668E, 0x11CF, 0xA6D9, 0x00AA0062CE6C);
constexpr AsfGuid kFileProperties = MakeAsfGuid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE4, 0x00C00C205365);
constexpr AsfGuid kContentEncryption =
    MakeAsfGuid(0x1EFB1A30, 0x0B62, 0x11D0, 0xA39B, 0x00A0C90348F6);
constexpr AsfGuid kExtendedContentDescription =
    MakeAsfGuid(0xD2D0A440, 0xE307, 0x11D2, 0x97F0, 0x00A0C95EA850);
constexpr AsfGuid kStreamProperties =
    MakeAsfGuid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE6, 0x00C00C205365);
constexpr AsfGuid kAudioMedia = MakeAsfGuid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD, 0x00805F5C442B);

constexpr uint32_t kHeaderObjectSize = 30;  // head, object count, reserved bytes 1 and 2
constexpr uint32_t kObjectHeadSize = 24;    // GUID and 64-bit size (which counts the head)

// Extended content descriptor value types.
enum ValueType : uint16_t {
  kString = 0,
  kBytes = 1,
  kBool = 2,
  kDword = 3,
  kQword = 4,
  kWord = 5,
};

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(Le16(p)) | static_cast<uint32_t>(Le16(p + 2)) << 16;
}
inline uint64_t Le64(const uint8_t* p) {
  return static_cast<uint64_t>(Le32(p)) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}

}  // namespace asf

struct AsfObjectHead {
  AsfGuid guid;
  uint64_t size;      // the whole object, head included
  uint32_t position;  // of the head in the stream
};

// Told of every object the walk meets, with the stream positioned at the object's body.
class AsfObjectVisitor {
 public:
  virtual ~AsfObjectVisitor() = default;
  // A negative result ends the walk with it.
  virtual Result OnAsfObject(SeekableStream* stream, const AsfObjectHead& head) = 0;
};

// Walks the objects inside the Header Object and the one behind it (normally the Data
// Object). Without a Header Object (GUID and reserved bytes 1, 2) nothing is visited and the
// result is 0 or that of the failed seek or read. An object that is shorter than its own head
// or reaches beyond the stream ends the walk quietly before it is visited: its size cannot be
// trusted to find the next one. `audio_start` (optional) receives the position behind the last
// object before the Data Object, or stays as it was when there is none.
Result WalkAsfHeader(SeekableStream* stream, AsfObjectVisitor* visitor, uint32_t* audio_start);
