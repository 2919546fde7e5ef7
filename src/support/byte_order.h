// Byte-order codecs for every on-disk and on-wire field. Fields are always decoded byte by
// byte, never by overlaying a structure, so both targets read them alike.
#pragma once

#include <cstdint>

namespace bytes {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le24(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}
inline uint32_t Le32(const uint8_t* p) { return Le24(p) | uint32_t{p[3]} << 24; }
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | uint64_t{Le32(p + 4)} << 32; }

inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t Be24(const uint8_t* p) {
  return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | uint32_t{p[2]};
}
inline uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | Be24(p + 1); }
inline uint64_t Be64(const uint8_t* p) { return uint64_t{Be32(p)} << 32 | Be32(p + 4); }

// ID3v2 sizes: four bytes of seven bits each, most significant first.
inline uint32_t SyncSafe32(const uint8_t* p) {
  return uint32_t{p[0] & 0x7Fu} << 21 | uint32_t{p[1] & 0x7Fu} << 14 |
         uint32_t{p[2] & 0x7Fu} << 7 | uint32_t{p[3] & 0x7Fu};
}

inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe24(uint8_t* p, uint32_t v) {
  PutLe16(p, static_cast<uint16_t>(v));
  p[2] = static_cast<uint8_t>(v >> 16);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, static_cast<uint16_t>(v));
  PutLe16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
  PutLe32(p, static_cast<uint32_t>(v));
  PutLe32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  PutBe16(p, static_cast<uint16_t>(v >> 16));
  PutBe16(p + 2, static_cast<uint16_t>(v));
}

}  // namespace bytes
