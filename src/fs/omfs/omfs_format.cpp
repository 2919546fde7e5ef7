// Making an empty volume, and growing or shrinking one in place.
#include <cstdio>
#include <cstring>
#include <vector>

#include "fs/fs_manager.h"
#include "fs/omfs/omfs_internal.h"
#include "platform/block_device.h"

using namespace omfs;

namespace {

constexpr uint32_t kMinBlockSize = 0x220;
constexpr uint64_t kMinBlocks = 10;
constexpr uint32_t kFormatCacheEntries = 4;

uint64_t BitmapBlocks(uint64_t volume_blocks, uint32_t block_size) {
  return (OmfsBitmap::DiskBytes(volume_blocks) + block_size - 1) / block_size;
}

Result CheckFormat(uint32_t block_size, uint32_t sector, uint64_t length,
                   const void* parameters, uint32_t parameter_length, OmfsGeometry* geometry) {
  if (parameter_length != sizeof(OmfsFormatParameters) || !parameters)
    return fsrc::kBadPartition;
  OmfsFormatParameters format;
  memcpy(&format, parameters, sizeof format);
  if (block_size < kMinBlockSize || sector == 0 || block_size % sector != 0)
    return fsrc::kBadPartition;
  if (length / block_size < kMinBlocks) return fsrc::kBadPartition;
  if (format.mirrors < 1 || format.mirrors > kMaxMirrors) return fsrc::kBadPartition;
  if (format.unit_bytes < block_size || format.unit_bytes % block_size != 0)
    return fsrc::kBadPartition;
  const uint64_t per_unit = format.unit_bytes / block_size;
  if (per_unit > 32 || 32 % per_unit != 0) return fsrc::kBadPartition;
  const uint32_t meta = format.metablock_size;
  if (meta < kMinMetablockSize || meta > block_size || block_size % meta != 0 ||
      meta % sector != 0)
    return fsrc::kBadPartition;
  geometry->block_size = block_size;
  geometry->metablock_size = meta;
  geometry->mirrors = format.mirrors;
  geometry->blocks_per_unit = static_cast<uint32_t>(per_unit);
  geometry->volume_blocks = length / block_size;
  geometry->super_block = 1;
  // The super block's and the root's copies and the bitmap must fit.
  if (2 * uint64_t{format.mirrors} + 1 + BitmapBlocks(geometry->volume_blocks, block_size) >
      geometry->volume_blocks)
    return fsrc::kBadPartition;
  return fsrc::kOk;
}

Result WriteRoot(FsRequest* request, OmfsVolume* volume) {
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsNewMetablock(request, volume, volume->root, volume->root, &entry);
  if (fsrc::Failed(result)) return result;
  uint8_t* node = BlockCache::Data(entry);
  Put64(node + kNodeParent, kNone);
  Put64(node + kNodeNext, kNone);
  Put32(node + kNodeKind, kKindDirectory);
  for (uint32_t i = 0; i < HashBuckets(volume->MetaSize()); ++i)
    Put64(node + kNodeHashTable + 8 * i, kNone);
  OmfsPrepareHeader(node, volume->root, volume->MetaSize() - kHeaderBytes, kTypeNode);
  result = OmfsWriteMetablock(request, volume, entry);
  BlockCache::Release(entry);
  return result;
}

Result NewSuper(FsRequest* request, OmfsVolume* volume) {
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsNewMetablock(request, volume, volume->geometry.super_block, 0, &entry);
  if (fsrc::Failed(result)) return result;
  uint8_t* super = BlockCache::Data(entry);
  Put32(super + kSuperBlockSize, volume->BlockSize());
  Put32(super + kSuperMirrors, volume->Mirrors());
  Put32(super + kSuperMetablockSize, volume->MetaSize());
  Put64(super + kSuperRoot, volume->root);
  OmfsPrepareHeader(super, volume->geometry.super_block, kSuperCrcLength, kTypeSuper);
  // OmfsWriteSuper fills the rest and writes it.
  BlockCache::Release(entry);
  return OmfsWriteSuper(request, volume);
}

}  // namespace

Result OmfsWriteAnchor(FsRequest* request, OmfsVolume* volume, const char* text) {
  std::vector<uint8_t> anchor(volume->BlockSize(), 0);
  if (text) memcpy(&anchor[kAnchorText], text, strnlen(text, kAnchorTextBytes));
  Put64(&anchor[kAnchorSuperBlock], volume->geometry.super_block);
  Put64(&anchor[kAnchorVolumeBlocks], volume->Blocks());
  Put32(&anchor[kAnchorMagic], kAnchorMagicValue);
  Put32(&anchor[kAnchorBlockSize], volume->BlockSize());
  Put32(&anchor[kAnchorMirrors], volume->Mirrors());
  Put32(&anchor[kAnchorMetablockSize], volume->MetaSize());
  return FsBlockWrite(request, volume->device, volume->start, anchor.data(),
                      static_cast<uint32_t>(anchor.size()), 0);
}

void OmfsMarkFixedBlocks(const OmfsVolume* volume, uint64_t bitmap_block, OmfsBitmap* bitmap) {
  bitmap->Set(0);
  bitmap->SetRun(volume->geometry.super_block, volume->Mirrors());
  bitmap->SetRun(bitmap_block, BitmapBlocks(volume->Blocks(), volume->BlockSize()));
}

Result OmfsFormat(FsRequest* request, uint32_t block_size, BlockDevice* device, uint64_t start,
                  uint64_t length, const void* parameters, uint32_t parameter_length,
                  const char* label, const void* anchor_text) {
  OmfsGeometry geometry;
  const uint32_t sector = device ? device->SectorSize() : 0;
  Result result =
      CheckFormat(block_size, sector, length, parameters, parameter_length, &geometry);
  if (fsrc::Failed(result)) return result;
  const uint64_t device_bytes = device->Capacity() * sector;
  if (start > device_bytes || length > device_bytes - start) {
    printf("Partition %llx,%llx does not fit on device size %llx\n",
           static_cast<unsigned long long>(start), static_cast<unsigned long long>(length),
           static_cast<unsigned long long>(device_bytes));
    return fsrc::kBadPartition;
  }
  OmfsVolume volume;
  result = OmfsOpenVolume(&volume, device, start, geometry, kFormatCacheEntries);
  if (fsrc::Failed(result)) return result;
  volume.root = geometry.mirrors + 1;
  if (label) volume.label.assign(label, strnlen(label, kNameBytes));
  // The bitmap holds the fixed blocks and the root; its own blocks are the first free run.
  result = volume.bitmap.Init(geometry.volume_blocks, geometry.blocks_per_unit, block_size);
  if (!fsrc::Failed(result)) {
    volume.bitmap.Set(0);
    volume.bitmap.SetRun(geometry.super_block, geometry.mirrors);
    volume.bitmap.SetRun(volume.root, geometry.mirrors);
    uint64_t run_length = 0;
    result = volume.bitmap.Allocate(BitmapBlocks(geometry.volume_blocks, block_size), 0, 0,
                                    &volume.bitmap_block, &run_length);
  }
  // The anchor goes last, so that an interrupted format leaves no volume that seems whole.
  if (!fsrc::Failed(result)) result = WriteRoot(request, &volume);
  if (!fsrc::Failed(result)) {
    volume.bitmap.Place(device, start + OmfsBlockOffset(&volume, volume.bitmap_block));
    result = volume.bitmap.WriteBack(request, true);
  }
  if (!fsrc::Failed(result)) result = NewSuper(request, &volume);
  if (!fsrc::Failed(result)) result = volume.cache->FlushAll(request);
  if (!fsrc::Failed(result))
    result = OmfsWriteAnchor(request, &volume, static_cast<const char*>(anchor_text));
  OmfsCloseVolume(&volume);
  return result;
}

namespace {

// A bitmap of the new size holding the stored bits below the new end.
Result CopyBits(const OmfsBitmap& from, uint64_t blocks, uint32_t per_unit, uint32_t block_size,
                OmfsBitmap* to) {
  Result result = to->Init(blocks, per_unit, block_size);
  if (fsrc::Failed(result)) return result;
  for (uint64_t block = 0; block < blocks && block < from.blocks(); ++block)
    if (from.Test(block)) to->Set(block);
  return fsrc::kOk;
}

// The anchor keeps every byte but the volume size.
Result RewriteAnchorSize(FsRequest* request, OmfsVolume* volume) {
  std::vector<uint8_t> anchor(volume->BlockSize());
  Result result = FsBlockRead(request, volume->device, volume->start, anchor.data(),
                              static_cast<uint32_t>(anchor.size()), 0);
  if (fsrc::Failed(result)) return result;
  Put64(&anchor[kAnchorVolumeBlocks], volume->Blocks());
  return FsBlockWrite(request, volume->device, volume->start, anchor.data(),
                      static_cast<uint32_t>(anchor.size()), 0);
}

}  // namespace

Result OmfsResize(FsRequest* request, BlockDevice* device, uint64_t start, uint64_t length) {
  uint64_t old_length = 0;
  OmfsGeometry geometry;
  Result result = OmfsReadGeometry(request, device, start, &old_length, &geometry);
  if (fsrc::Failed(result)) return result;
  const uint32_t block_size = geometry.block_size;
  const uint64_t new_blocks = length / block_size;
  const uint64_t device_bytes = device->Capacity() * device->SectorSize();
  if (new_blocks < kMinBlocks || start > device_bytes || length > device_bytes - start)
    return fsrc::kBadPartition;
  OmfsVolume volume;
  result = OmfsOpenVolume(&volume, device, start, geometry, 28);
  if (fsrc::Failed(result)) return result;
  result = OmfsLoadSuper(request, &volume);
  const uint32_t per_unit = volume.geometry.blocks_per_unit;
  if (!fsrc::Failed(result) && (per_unit == 0 || per_unit > 32 || 32 % per_unit != 0))
    result = fsrc::kCorrupt;
  const uint64_t old_bitmap_blocks = BitmapBlocks(geometry.volume_blocks, block_size);
  if (!fsrc::Failed(result) && (volume.bitmap_block >= geometry.volume_blocks ||
                                old_bitmap_blocks > geometry.volume_blocks - volume.bitmap_block))
    result = fsrc::kCorrupt;
  if (!fsrc::Failed(result))
    result = volume.bitmap.Init(geometry.volume_blocks, per_unit, block_size);
  if (!fsrc::Failed(result)) {
    volume.bitmap.Place(device, start + OmfsBlockOffset(&volume, volume.bitmap_block));
    result = volume.bitmap.Load(request);
  }
  OmfsBitmap resized;
  if (!fsrc::Failed(result) && new_blocks < geometry.volume_blocks) {
    // Nothing in use may lie past the new end: the tree, the fixed blocks and the bitmap.
    OmfsBitmap rebuilt;
    result = rebuilt.Init(geometry.volume_blocks, per_unit, block_size);
    if (!fsrc::Failed(result)) {
      OmfsMarkFixedBlocks(&volume, volume.bitmap_block, &rebuilt);
      result = OmfsMarkTree(request, &volume, &rebuilt);
    }
    for (uint64_t block = new_blocks; !fsrc::Failed(result) && block < geometry.volume_blocks;
         ++block)
      if (rebuilt.Test(block)) result = kShrinkInUse;
    if (!fsrc::Failed(result))
      result = CopyBits(volume.bitmap, new_blocks, per_unit, block_size, &resized);
  } else if (!fsrc::Failed(result)) {
    // The bitmap of the new size is written before the volume grows: in place when it fits
    // the old bitmap's blocks, else in a free run of the grown area.
    result = CopyBits(volume.bitmap, new_blocks, per_unit, block_size, &resized);
    const uint64_t new_bitmap_blocks = BitmapBlocks(new_blocks, block_size);
    if (!fsrc::Failed(result) && new_bitmap_blocks > old_bitmap_blocks) {
      uint64_t run_start = 0, run_length = 0;
      result = resized.Allocate(new_bitmap_blocks, geometry.volume_blocks, 0, &run_start,
                                &run_length);
      if (!fsrc::Failed(result)) {
        resized.ClearRun(volume.bitmap_block, old_bitmap_blocks);
        volume.bitmap_block = run_start;
      }
    }
  }
  if (!fsrc::Failed(result)) {
    resized.Place(device, start + OmfsBlockOffset(&volume, volume.bitmap_block));
    result = resized.WriteBack(request, true);
  }
  if (!fsrc::Failed(result)) {
    volume.geometry.volume_blocks = new_blocks;
    result = RewriteAnchorSize(request, &volume);
  }
  if (!fsrc::Failed(result)) result = OmfsWriteSuper(request, &volume);
  if (!fsrc::Failed(result)) result = volume.cache->FlushAll(request);
  OmfsCloseVolume(&volume);
  return result;
}
