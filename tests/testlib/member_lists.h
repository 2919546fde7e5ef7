// Playlist member lists in their plain form, as the players store them: each member's fid as a
// little-endian 32-bit word.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/byte_order.h"

inline std::string PlainMemberList(const std::vector<uint32_t>& fids) {
  std::string bytes;
  for (uint32_t fid : fids) {
    uint8_t word[4];
    bytes::PutLe32(word, fid);
    bytes.append(reinterpret_cast<char*>(word), 4);
  }
  return bytes;
}
