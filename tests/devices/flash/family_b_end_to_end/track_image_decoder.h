// A decoder of the family B player's packed track database, written from the image layout
// alone and sharing no code with the product: 24-bit little-endian words, NUL-ended texts
// padded to whole words, value nodes with their id lists, the track section and the id table.
// It checks what it reads and says where an image breaks the layout.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct DecodedTrack {
  uint32_t id = 0;
  std::array<std::string, 16> text;     // the text fields (0 to 3, 7)
  std::array<uint32_t, 16> number{};    // the integer fields
  std::array<uint8_t, 16> rid{};        // field 15
};

struct DecodedImage {
  std::string error;  // empty when the image follows the layout
  std::vector<DecodedTrack> tracks;  // in id order
  uint32_t items = 0;                // list items of the id table
};

DecodedImage DecodeTrackImage(const std::string& bytes);
