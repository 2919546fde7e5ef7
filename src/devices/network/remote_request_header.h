// The 8 bytes at the start of every request to a network player and every reply from it: the
// magic, then the command code, both little-endian.
#pragma once

#include <cstdint>

#include "support/byte_order.h"

struct RemoteRequestHeader {
  static constexpr uint32_t kMagic = 0x8DC56952;
  static constexpr uint32_t kSize = 8;

  uint32_t magic = kMagic;
  uint32_t command = 0;

  static RemoteRequestHeader DecodeFrom(const uint8_t* bytes) {
    return RemoteRequestHeader{bytes::Le32(bytes), bytes::Le32(bytes + 4)};
  }
  void EncodeTo(uint8_t* out) const {
    bytes::PutLe32(out, magic);
    bytes::PutLe32(out + 4, command);
  }
  // The header of a message with this command code.
  bool Is(uint32_t code) const { return magic == kMagic && command == code; }
};
