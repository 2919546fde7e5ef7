// The on-disk layout of OMFS: the anchor at the start of the partition, the sealed metadata
// blocks ("metablocks") with their header, the super block, nodes and extent continuations.
// Every integer on the disk is big-endian; block numbers count volume blocks from the start of
// the partition.
#pragma once

#include <cstdint>

#include "support/byte_order.h"

namespace omfs {

constexpr uint64_t kNone = ~uint64_t{0};  // no block, end of a chain, a hole

// Anchor (byte 0 of the partition).
constexpr uint32_t kAnchorBytes = 288;
constexpr uint32_t kAnchorText = 192;
constexpr uint32_t kAnchorTextBytes = 64;
constexpr uint32_t kAnchorSuperBlock = 256;
constexpr uint32_t kAnchorVolumeBlocks = 264;
constexpr uint32_t kAnchorMagic = 272;
constexpr uint32_t kAnchorBlockSize = 276;
constexpr uint32_t kAnchorMirrors = 280;
constexpr uint32_t kAnchorMetablockSize = 284;
constexpr uint32_t kAnchorMagicValue = 0xC2993D87;

// Metablock header.
constexpr uint32_t kHeaderBytes = 24;
constexpr uint32_t kHeaderLocation = 0;
constexpr uint32_t kHeaderCrcLength = 8;
constexpr uint32_t kHeaderCrc = 12;
constexpr uint32_t kHeaderVersion = 16;
constexpr uint32_t kHeaderType = 17;
constexpr uint32_t kHeaderMagic = 18;
constexpr uint32_t kHeaderXor = 19;
constexpr uint8_t kMetaMagic = 0xD2;
constexpr uint8_t kMetaVersion = 1;
constexpr uint8_t kTypeSuper = 115;
constexpr uint8_t kTypeNode = 101;
constexpr uint8_t kTypeContinuation = 99;

// Super block.
constexpr uint32_t kSuperCrcLength = 312;
constexpr uint32_t kSuperVolumeBlocks = 32;
constexpr uint32_t kSuperRoot = 40;
constexpr uint32_t kSuperBitmap = 48;
constexpr uint32_t kSuperBlockSize = 56;
constexpr uint32_t kSuperBlocksPerUnit = 60;
constexpr uint32_t kSuperMirrors = 68;
constexpr uint32_t kSuperLabel = 72;
constexpr uint32_t kSuperMetablockSize = 328;
constexpr uint32_t kMaxMirrors = 8;

// Node.
constexpr uint32_t kNodeParent = 24;
constexpr uint32_t kNodeNext = 32;
constexpr uint32_t kNodeCreated = 40;
constexpr uint32_t kNodeKind = 80;
constexpr uint32_t kNodeOne = 84;
constexpr uint32_t kNodeName = 152;
constexpr uint32_t kNameBytes = 256;
constexpr uint32_t kNodeSize = 408;
constexpr uint32_t kNodeSpare = 416;
constexpr uint32_t kNodeHashTable = 440;
constexpr uint32_t kNodeList = 464;
constexpr uint32_t kNodeEntries = 480;
constexpr uint32_t kKindDirectory = 0x44;
constexpr uint32_t kKindFile = 0x46;
// A node header and one extent: the smallest metablock a volume may use.
constexpr uint32_t kMinMetablockSize = kNodeEntries + 16;

// Continuation.
constexpr uint32_t kContinuationOwner = 24;
constexpr uint32_t kContinuationList = 64;
constexpr uint32_t kContinuationEntries = 80;

// An extent list header: link, count, capacity (relative to the list's header offset).
constexpr uint32_t kListLink = 0;
constexpr uint32_t kListCount = 8;
constexpr uint32_t kListCapacity = 12;
constexpr uint32_t kExtentBytes = 16;

// The bitmap goes to the disk in chunks of this size.
constexpr uint32_t kBitmapChunk = 512;

inline uint64_t Get64(const uint8_t* p) { return bytes::Be64(p); }
inline uint32_t Get32(const uint8_t* p) { return bytes::Be32(p); }
inline void Put64(uint8_t* p, uint64_t v) {
  bytes::PutBe32(p, static_cast<uint32_t>(v >> 32));
  bytes::PutBe32(p + 4, static_cast<uint32_t>(v));
}
inline void Put32(uint8_t* p, uint32_t v) { bytes::PutBe32(p, v); }

// CRC-16/XMODEM (polynomial 0x1021, initial 0, not reflected).
uint16_t Crc16(const uint8_t* data, uint32_t length);

// Buckets of a directory's hash table.
inline uint32_t HashBuckets(uint32_t metablock_size) {
  return (metablock_size - kNodeHashTable) / 8;
}
// The name hash: case folded, so names that differ only in A-Z case share a chain.
uint32_t NameHash(const char* name, uint32_t length);

}  // namespace omfs
