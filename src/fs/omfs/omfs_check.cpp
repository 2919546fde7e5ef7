// The volume check: the tree walk that rebuilds the allocation bitmap, its comparison with the
// stored bitmap, and the other debug codes.
#include <cstring>
#include <vector>

#include "fs/fs_manager.h"
#include "fs/omfs/omfs_data.h"
#include "fs/omfs/omfs_extents.h"
#include "fs/omfs/omfs_internal.h"
#include "fs/omfs/omfs_nodes.h"

using namespace omfs;

namespace {

Result Mark(const OmfsVolume* volume, OmfsBitmap* bitmap, uint64_t first, uint64_t count) {
  if (first >= volume->Blocks() || count > volume->Blocks() - first) {
    OMFS_LOG(0x82000C, "Block range %llx,%llx is outside volume range 0,%llx",
             static_cast<unsigned long long>(first), static_cast<unsigned long long>(count),
             static_cast<unsigned long long>(volume->Blocks()));
    return fsrc::kCorrupt;
  }
  for (uint64_t block = first; block < first + count; ++block) {
    if (bitmap->Test(block)) {
      OMFS_LOG(0x82001C, "Block %llx double-allocated", static_cast<unsigned long long>(block));
      return fsrc::kCorrupt;
    }
    bitmap->Set(block);
  }
  return fsrc::kOk;
}

Result MarkFile(FsRequest* request, OmfsVolume* volume, uint64_t node, OmfsBitmap* bitmap) {
  return OmfsWalkChain(request, volume, node, [&](OmfsList& list, uint64_t) {
    Result result = fsrc::kOk;
    if (list.Link() != kNone) result = Mark(volume, bitmap, list.Link(), volume->Mirrors());
    for (uint32_t i = 0; !fsrc::Failed(result) && i < list.Count(); ++i)
      if (!list.At(i).Hole()) result = Mark(volume, bitmap, list.At(i).start, list.At(i).length);
    return result;
  });
}

}  // namespace

Result OmfsMarkTree(FsRequest* request, OmfsVolume* volume, OmfsBitmap* bitmap) {
  std::vector<uint64_t> pending = {volume->root};
  Result result = Mark(volume, bitmap, volume->root, volume->Mirrors());
  const uint32_t buckets = HashBuckets(volume->MetaSize());
  while (!fsrc::Failed(result) && !pending.empty()) {
    const uint64_t directory = pending.back();
    pending.pop_back();
    BlockCacheEntry* entry = nullptr;
    result = OmfsReadNode(request, volume, directory, &entry);
    if (fsrc::Failed(result)) break;
    std::vector<uint64_t> heads(buckets);
    for (uint32_t i = 0; i < buckets; ++i)
      heads[i] = Get64(BlockCache::Data(entry) + kNodeHashTable + 8 * i);
    BlockCache::Release(entry);
    for (uint32_t bucket = 0; !fsrc::Failed(result) && bucket < buckets; ++bucket) {
      for (uint64_t child = heads[bucket]; child != kNone && !fsrc::Failed(result);) {
        // Every node is marked once: a chain that loops or a node in two chains is met
        // again and fails here.
        result = Mark(volume, bitmap, child, volume->Mirrors());
        if (fsrc::Failed(result)) break;
        result = OmfsReadNode(request, volume, child, &entry);
        if (fsrc::Failed(result)) {
          OMFS_LOG(0x820013, "err %lx", static_cast<unsigned long>(result));
          break;
        }
        const uint8_t* node = BlockCache::Data(entry);
        const char* name = reinterpret_cast<const char*>(node + kNodeName);
        const uint32_t length = static_cast<uint32_t>(strnlen(name, kNameBytes));
        const uint32_t expected = NameHash(name, length) % buckets;
        if (expected != bucket)
          OMFS_LOG(0x820013, "\"%.*s\" is in hash chain %ld instead of %ld",
                   static_cast<int>(length), name, static_cast<long>(bucket),
                   static_cast<long>(expected));
        const uint64_t parent = Get64(node + kNodeParent);
        if (parent != directory)
          OMFS_LOG(0x820013, "Bad parent %.*s: %llx != %llx err %lx", static_cast<int>(length),
                   name, static_cast<unsigned long long>(parent),
                   static_cast<unsigned long long>(directory),
                   static_cast<unsigned long>(fsrc::kCorrupt));
        const bool is_directory = Get32(node + kNodeKind) == kKindDirectory;
        const uint64_t next = Get64(node + kNodeNext);
        BlockCache::Release(entry);
        if (is_directory)
          pending.push_back(child);
        else
          result = MarkFile(request, volume, child, bitmap);
        child = next;
      }
    }
  }
  return result;
}

namespace {

Result Check(FsRequest* request, OmfsVolume* volume, OmfsProgress* progress) {
  OmfsBitmap rebuilt;
  Result result = rebuilt.Init(volume->Blocks(), volume->geometry.blocks_per_unit,
                               volume->BlockSize());
  if (fsrc::Failed(result)) return result;
  // The fixed structures first: they are in use although no node names them.
  OmfsMarkFixedBlocks(volume, volume->bitmap_block, &rebuilt);
  result = OmfsMarkTree(request, volume, &rebuilt);
  if (fsrc::Failed(result)) return result;
  OmfsBitmap& stored = volume->bitmap;
  for (uint64_t block = 0; block < volume->Blocks(); ++block) {
    if (progress && block % 1024 == 0) progress->Progress(block, volume->Blocks());
    const bool used = rebuilt.Test(block);
    if (stored.Test(block) && !used) {
      stored.Clear(block);
    } else if (!stored.Test(block) && used) {
      // A block in use that the bitmap shows free would be handed out a second time.
      OMFS_LOG(0x82001C, "Block %llx in use but marked free",
               static_cast<unsigned long long>(block));
      stored.Set(block);
    }
  }
  if (progress) progress->Progress(volume->Blocks(), volume->Blocks());
  return stored.WriteBack(request);
}

Result SpaceForSize(OmfsVolume* volume, void* buffer, uint32_t size) {
  if (!buffer || size < 16) return fsrc::kBufferTooSmall;
  uint64_t record[2];
  memcpy(record, buffer, 16);
  const uint32_t unit = static_cast<uint32_t>(uint64_t{volume->geometry.blocks_per_unit} *
                                              volume->BlockSize());
  const uint64_t units = unit ? (record[0] + unit - 1) / unit : 0;
  const uint64_t blocks = units * volume->geometry.blocks_per_unit;
  record[1] = (blocks + blocks / 1000 + 2) * volume->BlockSize();
  memcpy(buffer, record, 16);
  return fsrc::kOk;
}

Result MapQuery(FsRequest* request, FsHandle* handle, void* buffer, uint32_t size) {
  if (handle->node->kind != fs_node::kFile) return fsrc::kNotAFile;
  if (!buffer || size < 24) return fsrc::kBufferTooSmall;
  uint64_t record[3];
  memcpy(record, buffer, 24);
  OmfsMapping mapping;
  Result result = OmfsMapPosition(request, handle, record[0], false, &mapping);
  if (fsrc::Failed(result)) return result;
  record[1] = mapping.address;
  record[2] = mapping.left;
  memcpy(buffer, record, 24);
  return fsrc::kOk;
}

void WalkRuns(const OmfsBitmap& bitmap, OmfsRunVisitor* visitor) {
  uint64_t block = 0;
  while (block < bitmap.blocks()) {
    if (!bitmap.Test(block)) {
      ++block;
      continue;
    }
    uint64_t end = block;
    while (end < bitmap.blocks() && bitmap.Test(end)) ++end;
    if (visitor) visitor->Run(block, end - block);
    block = end;
  }
}

}  // namespace

Result OmfsDebug(FsRequest* request, FsHandle* handle, uint32_t code, void* first,
                 void* second) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  OmfsVolumeGuard guard(request, volume);
  const uint32_t size = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(second));
  switch (code) {
    case omfs_debug::kSpaceForSize:
      return SpaceForSize(volume, first, size);
    case omfs_debug::kCheck:
      return Check(request, volume, static_cast<OmfsProgress*>(first));
    case omfs_debug::kMapQuery:
      return MapQuery(request, handle, first, size);
    case omfs_debug::kWalkRuns:
      WalkRuns(volume->bitmap, static_cast<OmfsRunVisitor*>(first));
      return fsrc::kOk;
    case omfs_debug::kNodeName: {
      BlockCacheEntry* entry = nullptr;
      Result result = OmfsReadNode(request, volume, OmfsNodeOf(handle)->block, &entry);
      if (fsrc::Failed(result)) return result;
      const char* name = reinterpret_cast<const char*>(BlockCache::Data(entry) + kNodeName);
      const uint32_t length = static_cast<uint32_t>(strnlen(name, kNameBytes));
      if (!first || size < length + 1) result = fsrc::kBufferTooSmall;
      else {
        memcpy(first, name, length);
        static_cast<char*>(first)[length] = '\0';
      }
      BlockCache::Release(entry);
      return result;
    }
    default:
      return fsrc::kNotSupported;
  }
}
