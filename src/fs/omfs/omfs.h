// OMFS: the file system in which the hard-disk players keep their tracks and settings. One
// file-system type of the framework, registered under the name "OMFS".
//
// Through IRFileSystem:
// - Format: the first word is the block size; the parameter block is OmfsFormatParameters;
//   the label is cut to 256 bytes; the description is the anchor text (up to 64 bytes).
// - Mount: the parameter block, when given, is OmfsMountParameters; a read-only word whose two
//   low bits are 2 reformats a volume whose own structures are found damaged.
// - ReadFormat: the label buffer must hold 257 bytes; the description is OmfsFormatParameters.
// - Debug: the codes of OmfsDebugCode with the buffers described there.
#pragma once

#include <cstdint>

#include "fs/fs_type.h"

extern const FsType kOmfsType;

struct OmfsFormatParameters {
  uint64_t unit_bytes;  // allocation unit: a multiple of the block size, 1 to 32 blocks
  uint32_t mirrors;     // copies of every metablock, 1 to 8
  uint32_t metablock_size;
};

struct OmfsMountParameters {
  uint32_t unused;
  uint32_t cache_bytes;  // 0: 3 x cache_count + 1 metablocks
  uint32_t cache_count;  // 0: 20
};

// Debug codes (IRFileSystem::Debug mode; first = buffer, second = size or progress).
namespace omfs_debug {
// first: {file size in (64-bit), volume bytes out (64-bit)}; second: the buffer size.
constexpr uint32_t kSpaceForSize = 4;
// Rebuilds the allocation bitmap from the tree and mends the stored one; first: an optional
// OmfsProgress.
constexpr uint32_t kCheck = 101;
// first: {file position in, volume byte address out, bytes left in the extent out} (64-bit
// each); second: the buffer size.
constexpr uint32_t kMapQuery = 102;
// first: OmfsRunVisitor called for every run of allocated blocks.
constexpr uint32_t kWalkRuns = 103;
// first: buffer for the node's name; second: its size.
constexpr uint32_t kNodeName = 123;
}  // namespace omfs_debug

class OmfsProgress {
 public:
  virtual ~OmfsProgress() = default;
  virtual void Progress(uint64_t done, uint64_t total) = 0;
};

class OmfsRunVisitor {
 public:
  virtual ~OmfsRunVisitor() = default;
  virtual void Run(uint64_t first_block, uint64_t count) = 0;
};
