// The state of a mounted OMFS volume and of its open nodes, and the operations on sealed
// metablocks that every part of the type shares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/block_cache.h"
#include "fs/fs_requests.h"
#include "fs/fs_type.h"
#include "fs/omfs/omfs_bitmap.h"
#include "fs/omfs/omfs_layout.h"

class BlockDevice;

namespace omfs {
// Codes beside the framework's.
constexpr Result kNoFreeRun = static_cast<Result>(0x80820012);
constexpr Result kWriteIntoHole = static_cast<Result>(0x80820003);
constexpr Result kNotEmpty = static_cast<Result>(0x8082001F);
constexpr Result kNoCache = static_cast<Result>(0x80820016);
constexpr Result kShrinkInUse = static_cast<Result>(0x8082002A);

// Bits of a cache entry's user byte.
constexpr uint8_t kChanged = 1;  // reseal before the next write
constexpr uint8_t kChecked = 2;  // passed the metablock checks
}  // namespace omfs

struct OmfsGeometry {
  uint32_t block_size = 0;
  uint32_t metablock_size = 0;
  uint32_t mirrors = 0;
  uint32_t blocks_per_unit = 1;
  uint64_t volume_blocks = 0;
  uint64_t super_block = 1;
};

struct OmfsVolume {
  FsMount* mount = nullptr;
  BlockDevice* device = nullptr;
  BlockCache* cache = nullptr;
  uint64_t start = 0;  // of the partition on the device, bytes
  OmfsGeometry geometry;
  uint64_t root = 0;
  uint64_t bitmap_block = 0;
  std::string label;
  OmfsBitmap bitmap;
  // One operation at a time changes the volume (held across its device I/O).
  FsRequest* owner = nullptr;
  uint32_t depth = 0;
  // Where requests wait for the owner to finish; 0 would mean not waiting at all.
  uint32_t channel = FsNewWaitChannel();

  uint32_t BlockSize() const { return geometry.block_size; }
  uint32_t MetaSize() const { return geometry.metablock_size; }
  uint32_t Mirrors() const { return geometry.mirrors; }
  uint64_t Blocks() const { return geometry.volume_blocks; }
};

// Node lock: mappings hold a node shared, Pop exclusive.
struct OmfsNodeLock {
  int state = 0;  // 0 free, 1 shared, 2 exclusive
  uint32_t shared = 0;
  uint32_t channel = 0;
};

struct OmfsNodeState {
  uint64_t block = 0;
  uint32_t writers = 0;
  OmfsNodeLock lock;
};

// Per handle: whether it counts as the node's writer, and where a directory listing stands.
struct OmfsHandleState {
  bool writer = false;
  uint32_t bucket = 0;
  uint64_t next_entry = omfs::kNone;
  uint64_t listed = 0;
};

inline OmfsVolume* OmfsOf(FsMount* mount) { return static_cast<OmfsVolume*>(mount->state); }
inline OmfsNodeState* OmfsNodeOf(FsHandle* handle) {
  return static_cast<OmfsNodeState*>(handle->node->state);
}
inline OmfsHandleState* OmfsHandleOf(FsHandle* handle) {
  return static_cast<OmfsHandleState*>(handle->state);
}

// Holds the volume for one operation. The framework lets another request of the same volume
// run while one waits for the device; OMFS keeps its chains, lists and bitmap consistent by
// letting only one operation at a time work on a volume. Re-entered by the same request.
class OmfsVolumeGuard {
 public:
  OmfsVolumeGuard(FsRequest* request, OmfsVolume* volume);
  ~OmfsVolumeGuard();
  OmfsVolumeGuard(const OmfsVolumeGuard&) = delete;
  OmfsVolumeGuard& operator=(const OmfsVolumeGuard&) = delete;

 private:
  FsRequest* request_;
  OmfsVolume* volume_;
};

// Log lines of the type (facility "fs").
#define OMFS_LOG(code, ...) FsLog(code, __VA_ARGS__)

// Fills the header fields that the next seal uses (own block, CRC length, type).
void OmfsPrepareHeader(uint8_t* block, uint64_t location, uint32_t crc_length, uint8_t type);
// Seals a metablock: CRC-16 of the body and the XOR byte.
void OmfsSeal(uint8_t* block);
// The checks of a metablock read for the expected block and type; logs the first failure.
Result OmfsCheckMetablock(const uint8_t* block, uint64_t expected, uint8_t type,
                          uint32_t metablock_size);
uint64_t OmfsBlockOffset(const OmfsVolume* volume, uint64_t block);

// A checked metablock through the cache (held: release it), mirrors compared and repaired.
Result OmfsReadMetablock(FsRequest* request, OmfsVolume* volume, uint64_t block, uint8_t type,
                         uint64_t tag, BlockCacheEntry** out);
// A cache entry for a new metablock whose bytes the caller fills (held, zeroed).
Result OmfsNewMetablock(FsRequest* request, OmfsVolume* volume, uint64_t block, uint64_t tag,
                        BlockCacheEntry** out);
// Marks a changed metablock: resealed and written with its mirrors when the cache writes it.
void OmfsMarkChanged(OmfsVolume* volume, BlockCacheEntry* entry);
// Seals and writes all copies now. The first copy decides: when it cannot be written the write
// fails and the entry stays changed for a later attempt; failures of the other copies are
// logged and repaired by the next read.
Result OmfsWriteMetablock(FsRequest* request, OmfsVolume* volume, BlockCacheEntry* entry);
// Drops cached blocks of a freed range, so that nothing stale is read or written back there.
void OmfsForgetBlocks(OmfsVolume* volume, uint64_t first, uint64_t count);
// Writes back the file data cached under the tag (before the node that describes it).
Result OmfsFlushData(FsRequest* request, OmfsVolume* volume, uint64_t tag);
