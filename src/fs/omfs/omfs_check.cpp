// The volume check: the tree walk that rebuilds the allocation bitmap, its comparison with the
// stored bitmap, and the other debug codes.
#include <cstring>
#include <set>
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

// Marks everything below a directory whose own blocks are marked; notes every directory met.
Result MarkSubtree(FsRequest* request, OmfsVolume* volume, OmfsBitmap* bitmap, uint64_t top,
                   std::set<uint64_t>* directories) {
  std::vector<uint64_t> pending = {top};
  Result result = fsrc::kOk;
  const uint32_t buckets = HashBuckets(volume->MetaSize());
  while (!fsrc::Failed(result) && !pending.empty()) {
    const uint64_t directory = pending.back();
    pending.pop_back();
    if (directories) directories->insert(directory);
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

}  // namespace

Result OmfsMarkTree(FsRequest* request, OmfsVolume* volume, OmfsBitmap* bitmap) {
  Result result = Mark(volume, bitmap, volume->root, volume->Mirrors());
  if (fsrc::Failed(result)) return result;
  return MarkSubtree(request, volume, bitmap, volume->root, nullptr);
}

namespace {

// A node that an interrupted rename, create or remove left out of every chain: a whole node
// metablock whose parent is a directory of the tree and holds no entry of its name.
bool IsOrphanNode(FsRequest* request, OmfsVolume* volume, uint64_t block,
                  const std::set<uint64_t>& directories, std::vector<uint8_t>* node) {
  node->assign(volume->MetaSize(), 0);
  if (fsrc::Failed(FsBlockRead(request, volume->device,
                               volume->start + OmfsBlockOffset(volume, block), node->data(),
                               volume->MetaSize(), 0)))
    return false;
  const uint8_t* data = node->data();
  if (data[kHeaderMagic] != kMetaMagic || data[kHeaderType] != kTypeNode ||
      Get64(data + kHeaderLocation) != block)
    return false;
  if (fsrc::Failed(OmfsCheckMetablock(data, block, kTypeNode, volume->MetaSize()))) return false;
  const uint32_t kind = Get32(data + kNodeKind);
  if (kind != kKindFile && kind != kKindDirectory) return false;
  const uint64_t parent = Get64(data + kNodeParent);
  if (directories.count(parent) == 0) return false;
  const char* name = reinterpret_cast<const char*>(data + kNodeName);
  OmfsFound found;
  return OmfsFind(request, volume, parent, name,
                  static_cast<uint32_t>(strnlen(name, kNameBytes)), fs_open::kExactCase,
                  &found) == fsrc::kNotFound;
}

Result Relink(FsRequest* request, OmfsVolume* volume, uint64_t block, uint64_t parent,
              const char* name) {
  BlockCacheEntry* directory = nullptr;
  Result result = OmfsReadNode(request, volume, parent, &directory);
  if (fsrc::Failed(result)) return result;
  uint8_t* head = BlockCache::Data(directory) + kNodeHashTable +
                  8 * (NameHash(name, static_cast<uint32_t>(strnlen(name, kNameBytes))) %
                       HashBuckets(volume->MetaSize()));
  BlockCacheEntry* entry = nullptr;
  result = OmfsReadNode(request, volume, block, &entry);
  if (!fsrc::Failed(result)) {
    Put64(BlockCache::Data(entry) + kNodeNext, Get64(head));
    result = OmfsWriteMetablock(request, volume, entry);
    BlockCache::Release(entry);
  }
  if (!fsrc::Failed(result)) {
    Put64(head, block);
    result = OmfsWriteMetablock(request, volume, directory);
  }
  BlockCache::Release(directory);
  return result;
}

// Links orphan nodes back into their directories when everything they hold is free in the
// rebuilt bitmap; what cannot be taken back is left to be freed.
Result Recover(FsRequest* request, OmfsVolume* volume, OmfsBitmap* rebuilt,
               std::set<uint64_t>* directories) {
  std::vector<uint8_t> node;
  for (uint64_t block = 0; block < volume->Blocks(); ++block) {
    if (!volume->bitmap.Test(block) || rebuilt->Test(block)) continue;
    if (!IsOrphanNode(request, volume, block, *directories, &node)) continue;
    OmfsBitmap scratch = *rebuilt;
    std::set<uint64_t> found_directories;
    const bool is_directory = Get32(node.data() + kNodeKind) == kKindDirectory;
    Result result = Mark(volume, &scratch, block, volume->Mirrors());
    if (!fsrc::Failed(result))
      result = is_directory ? MarkSubtree(request, volume, &scratch, block, &found_directories)
                            : MarkFile(request, volume, block, &scratch);
    if (fsrc::Failed(result)) continue;
    // A genuine orphan still holds all its blocks; a stale node from a removed file or an
    // earlier format has lost some of them to the bitmap.
    bool all_held = true;
    for (uint64_t b = 0; all_held && b < volume->Blocks(); ++b)
      if (scratch.Test(b) && !rebuilt->Test(b) && !volume->bitmap.Test(b)) all_held = false;
    if (!all_held) continue;
    const char* name = reinterpret_cast<const char*>(node.data() + kNodeName);
    const uint64_t parent = Get64(node.data() + kNodeParent);
    result = Relink(request, volume, block, parent, name);
    if (fsrc::Failed(result)) return result;
    OMFS_LOG(0x820013, "Node %llx \"%.*s\" linked again into %llx",
             static_cast<unsigned long long>(block),
             static_cast<int>(strnlen(name, kNameBytes)), name,
             static_cast<unsigned long long>(parent));
    *rebuilt = scratch;
    directories->insert(found_directories.begin(), found_directories.end());
  }
  return fsrc::kOk;
}

Result Check(FsRequest* request, OmfsVolume* volume, OmfsProgress* progress) {
  OmfsBitmap rebuilt;
  Result result = rebuilt.Init(volume->Blocks(), volume->geometry.blocks_per_unit,
                               volume->BlockSize());
  if (fsrc::Failed(result)) return result;
  // The fixed structures first: they are in use although no node names them.
  OmfsMarkFixedBlocks(volume, volume->bitmap_block, &rebuilt);
  std::set<uint64_t> directories;
  result = Mark(volume, &rebuilt, volume->root, volume->Mirrors());
  if (!fsrc::Failed(result))
    result = MarkSubtree(request, volume, &rebuilt, volume->root, &directories);
  if (!fsrc::Failed(result)) result = Recover(request, volume, &rebuilt, &directories);
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
