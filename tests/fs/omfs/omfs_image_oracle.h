// An OMFS reader of its own for the tests, written from the format's description alone: it
// reads a volume image (anchor, super block, sealed metablocks with their mirrors, directory
// chains, extent lists and their continuations, the stored allocation bitmap) and tells which
// blocks the tree holds and which the bitmap marks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OmfsImageView {
  uint32_t block_size = 0;
  uint32_t metablock_size = 0;
  uint32_t mirrors = 0;
  uint32_t blocks_per_unit = 0;
  uint64_t blocks = 0;
  std::vector<bool> held;    // by the tree and the fixed structures
  std::vector<bool> meta;    // held by a structure of the volume, not by file data
  std::vector<bool> marked;  // by the stored bitmap
  uint64_t nodes = 0;
  std::string problem;       // empty when the whole tree was read

  uint64_t HeldCount() const;
  // Blocks that a reachable node or fixed structure holds and the bitmap shows free.
  std::vector<uint64_t> HeldButFree() const;
  // Blocks the bitmap marks and nothing holds.
  uint64_t Leaked() const;
  // Free blocks as whole allocation units that hold no block of the tree.
  uint64_t FreeUnitBlocks() const;
};

// Reads the volume that starts at byte `start` of the image.
OmfsImageView ReadOmfsImage(const std::vector<uint8_t>& image, uint64_t start);
