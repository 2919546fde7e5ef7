// Reading the anchor and the super block, mounting, unmounting and describing a volume.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "fs/fs_manager.h"
#include "fs/omfs/omfs_internal.h"
#include "platform/block_device.h"

using namespace omfs;

namespace {

constexpr uint32_t kDefaultCacheEntries = 61;
// Operations hold a few metablocks at once (directory, node, neighbour, continuation).
constexpr uint32_t kMinCacheEntries = 8;

bool Divides(uint32_t part, uint32_t whole) { return part != 0 && whole % part == 0; }

// Whether a volume of that many blocks lies on the device from the start.
bool FitsDevice(BlockDevice* device, uint64_t start, uint32_t block_size, uint64_t blocks) {
  const uint64_t device_bytes = device->Capacity() * device->SectorSize();
  return blocks != 0 && blocks <= ~uint64_t{0} / block_size && start <= device_bytes &&
         blocks * block_size <= device_bytes - start;
}

// Whether two runs of blocks (first, count) share a block; safe near the end of the range.
bool RunsOverlap(uint64_t first, uint64_t count, uint64_t other, uint64_t other_count) {
  return first <= other ? other - first < count : first - other < other_count;
}

uint32_t CacheEntries(const OmfsGeometry& geometry, const void* parameters) {
  if (!parameters) return kDefaultCacheEntries;
  OmfsMountParameters words;
  memcpy(&words, parameters, sizeof words);
  uint64_t entries = 0;
  if (words.cache_bytes != 0) {
    entries = words.cache_bytes / geometry.metablock_size;
  } else {
    const uint64_t count = words.cache_count ? words.cache_count : 20;
    entries = 3 * count + 1;
  }
  if (entries < kMinCacheEntries) entries = kMinCacheEntries;
  if (entries > 4096) entries = 4096;
  return static_cast<uint32_t>(entries);
}

// The anchor's geometry, checked; a given length must lie on the device, but whether it
// matches the volume is for the caller to tell.
Result ReadAnchor(FsRequest* request, BlockDevice* device, uint64_t start, uint64_t length,
                  OmfsGeometry* geometry) {
  const uint32_t sector = device ? device->SectorSize() : 0;
  if (sector == 0) return fsrc::kInvalidArgument;
  const uint64_t device_bytes = device->Capacity() * sector;
  if (start > device_bytes || length > device_bytes - start) return fsrc::kBadPartition;
  const uint32_t read_size = (kAnchorBytes + sector - 1) / sector * sector;
  uint8_t* anchor = new (std::nothrow) uint8_t[read_size];
  if (!anchor) return fsrc::kOutOfMemory;
  Result result = FsBlockRead(request, device, start, anchor, read_size, 0);
  OmfsGeometry found;
  if (!fsrc::Failed(result) && Get32(anchor + kAnchorMagic) != kAnchorMagicValue)
    result = fsrc::kCorrupt;
  if (!fsrc::Failed(result)) {
    found.super_block = Get64(anchor + kAnchorSuperBlock);
    found.volume_blocks = Get64(anchor + kAnchorVolumeBlocks);
    found.block_size = Get32(anchor + kAnchorBlockSize);
    found.mirrors = Get32(anchor + kAnchorMirrors);
    found.metablock_size = Get32(anchor + kAnchorMetablockSize);
    if (found.metablock_size == 0) found.metablock_size = found.block_size;
  }
  delete[] anchor;
  if (fsrc::Failed(result)) return result;
  // Sizes from the disk are checked before anything is read or allocated with them.
  if (found.block_size == 0 || !Divides(found.metablock_size, found.block_size) ||
      found.metablock_size < kMinMetablockSize || !Divides(sector, found.metablock_size))
    return fsrc::kBadPartition;
  if (!FitsDevice(device, start, found.block_size, found.volume_blocks))
    return fsrc::kBadPartition;
  if (found.mirrors < 1 || found.mirrors > kMaxMirrors) {
    OMFS_LOG(0x82000F, "Meta mirrors %ld should be between 1 and %ld",
             static_cast<long>(found.mirrors), static_cast<long>(kMaxMirrors));
    return fsrc::kCorrupt;
  }
  *geometry = found;
  return fsrc::kOk;
}

// The volume size that the super block holds, when its other fields are the anchor's.
Result ReadSuperBlocks(FsRequest* request, BlockDevice* device, uint64_t start,
                       const OmfsGeometry& anchor, uint64_t* blocks) {
  OmfsVolume probe;
  Result result = OmfsOpenVolume(&probe, device, start, anchor, 2);
  BlockCacheEntry* entry = nullptr;
  if (!fsrc::Failed(result))
    result = OmfsReadMetablock(request, &probe, anchor.super_block, kTypeSuper, 0, &entry);
  if (!fsrc::Failed(result)) {
    const uint8_t* super = BlockCache::Data(entry);
    if (Get32(super + kSuperBlockSize) == anchor.block_size &&
        Get32(super + kSuperMetablockSize) == anchor.metablock_size &&
        Get32(super + kSuperMirrors) == anchor.mirrors)
      *blocks = Get64(super + kSuperVolumeBlocks);
    else
      result = fsrc::kCorrupt;
    BlockCache::Release(entry);
  }
  OmfsCloseVolume(&probe);
  return result;
}

}  // namespace

Result OmfsReadGeometry(FsRequest* request, BlockDevice* device, uint64_t start,
                        uint64_t* length, OmfsGeometry* geometry) {
  Result result = ReadAnchor(request, device, start, *length, geometry);
  if (fsrc::Failed(result)) return result;
  // Resize writes the new size to the anchor before the super block. A cut between the two
  // leaves them apart with every other field alike; the super block's size is the old one,
  // which its bitmap and the partition table still describe, so the volume keeps it until a
  // resize ends. Whatever else differs is left for the super block's own check to refuse.
  uint64_t super_blocks = 0;
  if (!fsrc::Failed(ReadSuperBlocks(request, device, start, *geometry, &super_blocks)) &&
      super_blocks != geometry->volume_blocks &&
      FitsDevice(device, start, geometry->block_size, super_blocks)) {
    OMFS_LOG(0x82002B, "Resize from %llx to %llx blocks was cut off",
             static_cast<unsigned long long>(super_blocks),
             static_cast<unsigned long long>(geometry->volume_blocks));
    geometry->volume_blocks = super_blocks;
  }
  // A partition of any size holds the whole blocks that format counted in it: a remainder
  // below one block is not part of the volume.
  if (*length != 0 && *length / geometry->block_size != geometry->volume_blocks)
    return fsrc::kBadPartition;
  *length = geometry->volume_blocks * geometry->block_size;
  return fsrc::kOk;
}

Result OmfsOpenVolume(OmfsVolume* volume, BlockDevice* device, uint64_t start,
                      const OmfsGeometry& geometry, uint32_t cache_entries) {
  volume->device = device;
  volume->start = start;
  volume->geometry = geometry;
  return BlockCache::Create(&volume->cache, geometry.metablock_size, cache_entries, start,
                            geometry.volume_blocks * geometry.block_size);
}

void OmfsCloseVolume(OmfsVolume* volume) {
  if (volume->cache) volume->cache->Destroy();
  volume->cache = nullptr;
}

Result OmfsLoadSuper(FsRequest* request, OmfsVolume* volume) {
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadMetablock(request, volume, volume->geometry.super_block, kTypeSuper, 0,
                                    &entry);
  if (fsrc::Failed(result)) return result;
  const uint8_t* super = BlockCache::Data(entry);
  const OmfsGeometry& geometry = volume->geometry;
  if (Get32(super + kSuperBlockSize) != geometry.block_size ||
      Get32(super + kSuperMetablockSize) != geometry.metablock_size ||
      Get32(super + kSuperMirrors) != geometry.mirrors ||
      Get64(super + kSuperVolumeBlocks) != geometry.volume_blocks) {
    OMFS_LOG(0x820014, "Super block doesn't match anchor block");
    result = fsrc::kCorrupt;
  }
  volume->root = Get64(super + kSuperRoot);
  volume->bitmap_block = Get64(super + kSuperBitmap);
  volume->geometry.blocks_per_unit = Get32(super + kSuperBlocksPerUnit);
  const char* label = reinterpret_cast<const char*>(super + kSuperLabel);
  volume->label.assign(label, strnlen(label, kNameBytes));
  BlockCache::Release(entry);
  return result;
}

Result OmfsWriteSuper(FsRequest* request, OmfsVolume* volume) {
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadMetablock(request, volume, volume->geometry.super_block, kTypeSuper, 0,
                                    &entry);
  if (fsrc::Failed(result)) return result;
  uint8_t* super = BlockCache::Data(entry);
  Put64(super + kSuperVolumeBlocks, volume->Blocks());
  Put64(super + kSuperBitmap, volume->bitmap_block);
  Put32(super + kSuperBlocksPerUnit, volume->geometry.blocks_per_unit);
  memset(super + kSuperLabel, 0, kNameBytes);
  memcpy(super + kSuperLabel, volume->label.data(), volume->label.size());
  OmfsPrepareHeader(super, volume->geometry.super_block, kSuperCrcLength, kTypeSuper);
  result = OmfsWriteMetablock(request, volume, entry);
  BlockCache::Release(entry);
  return result;
}

Result OmfsSync(FsRequest* request, OmfsVolume* volume) {
  Result result = volume->cache->FlushAll(request);
  Result bitmap = volume->bitmap.WriteBack(request);
  return fsrc::Failed(result) ? result : bitmap;
}

namespace {

// Checks of the super block's own fields that the anchor does not cover.
Result CheckVolumeFields(OmfsVolume* volume) {
  const uint32_t per_unit = volume->geometry.blocks_per_unit;
  if (per_unit == 0 || per_unit > 32 || 32 % per_unit != 0) return fsrc::kCorrupt;
  const uint64_t bitmap_blocks =
      (OmfsBitmap::DiskBytes(volume->Blocks()) + volume->BlockSize() - 1) / volume->BlockSize();
  if (volume->bitmap_block >= volume->Blocks() ||
      bitmap_blocks > volume->Blocks() - volume->bitmap_block) {
    OMFS_LOG(0x82000C, "Block range %llx,%llx is outside volume range 0,%llx",
             static_cast<unsigned long long>(volume->bitmap_block),
             static_cast<unsigned long long>(bitmap_blocks),
             static_cast<unsigned long long>(volume->Blocks()));
    return fsrc::kCorrupt;
  }
  // A bitmap over the anchor, the super block or the root would mark them free.
  const uint64_t fixed[][2] = {{0, 1},
                               {volume->geometry.super_block, volume->Mirrors()},
                               {volume->root, volume->Mirrors()}};
  for (const auto& run : fixed) {
    if (!RunsOverlap(volume->bitmap_block, bitmap_blocks, run[0], run[1])) continue;
    OMFS_LOG(0x82001C, "Block %llx double-allocated",
             static_cast<unsigned long long>(std::max(run[0], volume->bitmap_block)));
    return fsrc::kCorrupt;
  }
  return fsrc::kOk;
}

// The bitmap as stored carries no checksum: the blocks that must never be handed out are
// marked whatever it says.
void MarkFixedBlocks(OmfsVolume* volume) {
  OmfsMarkFixedBlocks(volume, volume->bitmap_block, &volume->bitmap);
  volume->bitmap.SetRun(volume->root, volume->Mirrors());
}

Result MountOnce(FsRequest* request, BlockDevice* device, uint64_t start, uint64_t length,
                 uint32_t flags, const void* parameters, uint32_t parameter_length,
                 bool* super_passed, OmfsVolume** formed) {
  *super_passed = false;
  if (parameters && parameter_length != 0 && parameter_length != sizeof(OmfsMountParameters))
    return fsrc::kBufferTooSmall;
  if (parameter_length == 0) parameters = nullptr;
  // A device that holds no OMFS is declined (wrong magic) before the length is looked at.
  const bool no_length = length == 0;
  // The volume is registered under the partition's own length, which may exceed the volume's
  // whole blocks.
  const uint64_t partition_length = length;
  OmfsGeometry geometry;
  Result result = OmfsReadGeometry(request, device, start, &length, &geometry);
  if (fsrc::Failed(result)) return result;
  if (no_length) return fsrc::kBadPartition;
  OmfsVolume* volume = new (std::nothrow) OmfsVolume;
  if (!volume) return fsrc::kOutOfMemory;
  result = OmfsOpenVolume(volume, device, start, geometry, CacheEntries(geometry, parameters));
  if (!fsrc::Failed(result)) result = OmfsLoadSuper(request, volume);
  if (!fsrc::Failed(result)) {
    *super_passed = true;
    *formed = volume;
    result = CheckVolumeFields(volume);
  }
  if (!fsrc::Failed(result))
    result = volume->bitmap.Init(volume->Blocks(), volume->geometry.blocks_per_unit,
                                 volume->BlockSize());
  if (!fsrc::Failed(result)) {
    volume->bitmap.Place(device, start + OmfsBlockOffset(volume, volume->bitmap_block));
    result = volume->bitmap.Load(request);
    if (!fsrc::Failed(result)) MarkFixedBlocks(volume);
  }
  if (!fsrc::Failed(result))
    result = FsCreateVolume(request, volume->label.c_str(), &kOmfsType, volume, device, start,
                            partition_length, volume->MetaSize(), volume->cache, flags & 1, parameters,
                            parameter_length, &volume->mount);
  if (fsrc::Failed(result)) {
    *formed = nullptr;
    OmfsCloseVolume(volume);
    delete volume;
  }
  return result;
}

}  // namespace

Result OmfsMount(FsRequest* request, BlockDevice* device, uint64_t start, uint64_t length,
                 uint32_t flags, const void* parameters, uint32_t parameter_length) {
  bool super_passed = false;
  OmfsVolume* volume = nullptr;
  Result result = MountOnce(request, device, start, length, flags, parameters, parameter_length,
                            &super_passed, &volume);
  // Only a volume whose own structures were found damaged is reformatted: not one that could
  // not be read, lacked memory or is mounted already.
  if (result != fsrc::kCorrupt || !super_passed || (flags & 3) != 2) return result;
  OmfsVolume described;
  OmfsGeometry geometry;
  uint64_t anchor_length = length;
  Result read = OmfsReadGeometry(request, device, start, &anchor_length, &geometry);
  if (fsrc::Failed(read)) return result;
  if (fsrc::Failed(OmfsOpenVolume(&described, device, start, geometry, 2))) return result;
  read = OmfsLoadSuper(request, &described);
  OmfsCloseVolume(&described);
  if (fsrc::Failed(read)) return result;
  uint32_t per_unit = described.geometry.blocks_per_unit;
  if (per_unit == 0 || per_unit > 32 || 32 % per_unit != 0) per_unit = 1;
  OmfsFormatParameters format = {uint64_t{per_unit} * geometry.block_size, geometry.mirrors,
                                 geometry.metablock_size};
  Result formatted = OmfsFormat(request, geometry.block_size, device, start, length, &format,
                                sizeof format, described.label.c_str(), "");
  OMFS_LOG(0x820012, "Reformat(%llx,%llx) err %x", static_cast<unsigned long long>(start),
           static_cast<unsigned long long>(length), static_cast<unsigned>(formatted));
  if (fsrc::Failed(formatted)) return result;
  return MountOnce(request, device, start, length, flags, parameters, parameter_length,
                   &super_passed, &volume);
}

Result OmfsUnmount(FsRequest* request, FsMount* mount) {
  OmfsVolume* volume = OmfsOf(mount);
  Result result = OmfsSync(request, volume);
  // What could not be written stays unwritten: the framework's own write-back after this
  // must not call back into the volume state freed here.
  for (BlockCacheEntry* entry : volume->cache->lru()) BlockCache::ClearDirty(entry);
  volume->cache = nullptr;
  mount->state = nullptr;
  delete volume;
  return result;
}

Result OmfsSyncVolume(FsRequest* request, FsMount* mount) {
  return OmfsSync(request, OmfsOf(mount));
}

Result OmfsReadFormat(FsRequest* request, BlockDevice* device, uint64_t start, uint64_t* length,
                      char* label, void* description, uint32_t* size) {
  uint64_t found_length = length ? *length : 0;
  OmfsGeometry geometry;
  Result result = OmfsReadGeometry(request, device, start, &found_length, &geometry);
  if (fsrc::Failed(result)) return result;
  OmfsVolume volume;
  result = OmfsOpenVolume(&volume, device, start, geometry, 2);
  if (fsrc::Failed(result)) return result;
  result = OmfsLoadSuper(request, &volume);
  OmfsCloseVolume(&volume);
  if (result == fsrc::kCorrupt) printf("### Super block doesn't match anchor block\n");
  if (fsrc::Failed(result)) return result;
  if (length) *length = found_length;
  if (label) memcpy(label, volume.label.c_str(), volume.label.size() + 1);
  if (description) {
    OmfsFormatParameters format = {
        uint64_t{volume.geometry.blocks_per_unit} * geometry.block_size, geometry.mirrors,
        geometry.metablock_size};
    memcpy(description, &format, sizeof format);
  }
  if (size) *size = sizeof(OmfsFormatParameters);
  return fsrc::kOk;
}
