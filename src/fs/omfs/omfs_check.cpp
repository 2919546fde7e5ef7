// The volume check: the tree walk that rebuilds the allocation bitmap, its comparison with the
// stored bitmap, and the other debug codes.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fs/fs_manager.h"
#include "fs/omfs/omfs_data.h"
#include "fs/omfs/omfs_extents.h"
#include "fs/omfs/omfs_internal.h"
#include "fs/omfs/omfs_nodes.h"

using namespace omfs;

namespace {

// Marks the tree's blocks in a bitmap. It can note every directory met and every run marked,
// and mend chains as it goes: a node behind another of exactly its name can never be looked
// up (a later exact match never wins), so it is taken out of the chain, left unmarked and
// noted.
struct TreeMarker {
  OmfsVolume* volume;
  OmfsBitmap* bitmap;
  std::set<uint64_t>* directories = nullptr;
  std::vector<std::pair<uint64_t, uint64_t>>* marked = nullptr;
  bool mend = false;
  std::set<uint64_t>* shadowed = nullptr;

  Result Mark(uint64_t first, uint64_t count);
  Result MarkFile(FsRequest* request, uint64_t node);
  // Everything below a directory whose own blocks are marked.
  Result MarkSubtree(FsRequest* request, uint64_t top);
  // Clears what was marked (the runs must have been noted).
  void Unmark();
};

Result TreeMarker::Mark(uint64_t first, uint64_t count) {
  if (first >= volume->Blocks() || count > volume->Blocks() - first) {
    OMFS_LOG(0x82000C, "Block range %llx,%llx is outside volume range 0,%llx",
             static_cast<unsigned long long>(first), static_cast<unsigned long long>(count),
             static_cast<unsigned long long>(volume->Blocks()));
    return fsrc::kCorrupt;
  }
  for (uint64_t block = first; block < first + count; ++block) {
    if (bitmap->Test(block)) {
      OMFS_LOG(0x82001C, "Block %llx double-allocated", static_cast<unsigned long long>(block));
      if (marked && block > first) marked->emplace_back(first, block - first);
      return fsrc::kCorrupt;
    }
    bitmap->Set(block);
  }
  if (marked) marked->emplace_back(first, count);
  return fsrc::kOk;
}

void TreeMarker::Unmark() {
  for (const auto& run : *marked) bitmap->ClearRun(run.first, run.second);
  marked->clear();
}

Result TreeMarker::MarkFile(FsRequest* request, uint64_t node) {
  return OmfsWalkChain(request, volume, node, [&](OmfsList& list, uint64_t) {
    Result result = fsrc::kOk;
    if (list.Link() != kNone) result = Mark(list.Link(), volume->Mirrors());
    for (uint32_t i = 0; !fsrc::Failed(result) && i < list.Count(); ++i)
      if (!list.At(i).Hole()) result = Mark(list.At(i).start, list.At(i).length);
    return result;
  });
}

Result TreeMarker::MarkSubtree(FsRequest* request, uint64_t top) {
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
      std::set<std::string> names;
      uint64_t previous = kNone;
      for (uint64_t child = heads[bucket]; child != kNone && !fsrc::Failed(result);) {
        result = OmfsReadNode(request, volume, child, &entry);
        if (fsrc::Failed(result)) {
          OMFS_LOG(0x820013, "err %lx", static_cast<unsigned long>(result));
          break;
        }
        const uint8_t* node = BlockCache::Data(entry);
        const char* text = reinterpret_cast<const char*>(node + kNodeName);
        const std::string name(text, strnlen(text, kNameBytes));
        const uint64_t parent = Get64(node + kNodeParent);
        const bool is_directory = Get32(node + kNodeKind) == kKindDirectory;
        const uint64_t next = Get64(node + kNodeNext);
        BlockCache::Release(entry);
        if (mend && !names.insert(name).second) {
          OmfsFound shadowed;
          shadowed.node = child;
          shadowed.before = previous;
          shadowed.bucket = bucket;
          result = OmfsSetLink(request, volume, directory, shadowed, next);
          if (this->shadowed) this->shadowed->insert(child);
          OMFS_LOG(0x820013, "\"%s\" behind another of its name taken out of chain %ld",
                   name.c_str(), static_cast<long>(bucket));
          child = next;
          continue;
        }
        // Every node is marked once: a chain that loops or a node in two chains is met
        // again and fails here.
        result = Mark(child, volume->Mirrors());
        if (fsrc::Failed(result)) break;
        const uint32_t length = static_cast<uint32_t>(name.size());
        const uint32_t expected = NameHash(name.data(), length) % buckets;
        if (expected != bucket)
          OMFS_LOG(0x820013, "\"%s\" is in hash chain %ld instead of %ld", name.c_str(),
                   static_cast<long>(bucket), static_cast<long>(expected));
        if (parent != directory)
          OMFS_LOG(0x820013, "Bad parent %s: %llx != %llx err %lx", name.c_str(),
                   static_cast<unsigned long long>(parent),
                   static_cast<unsigned long long>(directory),
                   static_cast<unsigned long>(fsrc::kCorrupt));
        if (is_directory)
          pending.push_back(child);
        else
          result = MarkFile(request, child);
        previous = child;
        child = next;
      }
    }
  }
  return result;
}

}  // namespace

Result OmfsMarkTree(FsRequest* request, OmfsVolume* volume, OmfsBitmap* bitmap) {
  TreeMarker marker{volume, bitmap};
  Result result = marker.Mark(volume->root, volume->Mirrors());
  if (fsrc::Failed(result)) return result;
  return marker.MarkSubtree(request, volume->root);
}

namespace {

// Bytes read at once (whole blocks, at least one) while leaked blocks are searched for lost
// nodes.
constexpr uint64_t kRecoveryReadBytes = 512 * 1024;

// Whether a leaked block holds a node that an interrupted rename, create or remove left out of
// every chain: a whole node metablock whose parent is a directory of the tree.
bool IsOrphanNode(uint64_t block, const uint8_t* data, const OmfsVolume* volume,
                  const std::set<uint64_t>& directories) {
  if (data[kHeaderMagic] != kMetaMagic || data[kHeaderType] != kTypeNode ||
      Get64(data + kHeaderLocation) != block)
    return false;
  if (fsrc::Failed(OmfsCheckMetablock(data, block, kTypeNode, volume->MetaSize()))) return false;
  const uint32_t kind = Get32(data + kNodeKind);
  if (kind != kKindFile && kind != kKindDirectory) return false;
  return directories.count(Get64(data + kNodeParent)) != 0;
}

// The name under which a lost node goes back into its directory: its own, or where another
// node holds that one (a rename over an existing file cut after the moved node took its new
// name), the first free "name~n", cut to fit.
Result FreeName(FsRequest* request, OmfsVolume* volume, uint64_t parent, const std::string& own,
                std::string* name) {
  for (uint32_t n = 0; n < 10000; ++n) {
    std::string candidate = own;
    if (n > 0) {
      const std::string suffix = "~" + std::to_string(n);
      candidate = own.substr(0, kNameBytes - suffix.size()) + suffix;
    }
    OmfsFound found;
    Result result = OmfsFind(request, volume, parent, candidate.data(),
                             static_cast<uint32_t>(candidate.size()), 0, &found);
    if (result == fsrc::kNotFound) {
      *name = candidate;
      return fsrc::kOk;
    }
    if (fsrc::Failed(result)) return result;
  }
  return fsrc::kExists;
}

Result Relink(FsRequest* request, OmfsVolume* volume, uint64_t block, uint64_t parent,
              const std::string& name) {
  BlockCacheEntry* directory = nullptr;
  Result result = OmfsReadNode(request, volume, parent, &directory);
  if (fsrc::Failed(result)) return result;
  const uint32_t bucket = OmfsBucket(volume, name.data(), static_cast<uint32_t>(name.size()));
  uint8_t* head = OmfsChainHead(BlockCache::Data(directory), bucket);
  BlockCacheEntry* entry = nullptr;
  result = OmfsReadNode(request, volume, block, &entry);
  if (!fsrc::Failed(result)) {
    uint8_t* node = BlockCache::Data(entry);
    Put64(node + kNodeNext, Get64(head));
    memset(node + kNodeName, 0, kNameBytes);
    memcpy(node + kNodeName, name.data(), name.size());
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

// Links a lost node back into its directory when everything it holds is leaked: marked in
// the stored bitmap and held by nothing else. A stale node of a removed file or an earlier
// format has lost some of its blocks to the bitmap and is left to be freed, and its blocks
// are not searched for nodes (they are data, or another stale node's).
Result RecoverNode(FsRequest* request, OmfsVolume* volume, uint64_t block, const uint8_t* data,
                   OmfsBitmap* rebuilt, OmfsBitmap* searched, std::set<uint64_t>* directories) {
  std::vector<std::pair<uint64_t, uint64_t>> runs;
  std::set<uint64_t> found_directories;
  TreeMarker marker{volume, rebuilt, &found_directories, &runs};
  const bool is_directory = Get32(data + kNodeKind) == kKindDirectory;
  Result result = marker.Mark(block, volume->Mirrors());
  if (!fsrc::Failed(result))
    result = is_directory ? marker.MarkSubtree(request, block) : marker.MarkFile(request, block);
  bool all_held = !fsrc::Failed(result);
  for (const auto& run : runs)
    for (uint64_t b = run.first; all_held && b < run.first + run.second; ++b)
      all_held = volume->bitmap.Test(b);
  if (!all_held) {
    for (const auto& run : runs) searched->SetRun(run.first, run.second);
    marker.Unmark();
    return fsrc::kOk;
  }
  const char* own = reinterpret_cast<const char*>(data + kNodeName);
  const uint64_t parent = Get64(data + kNodeParent);
  std::string name;
  result = FreeName(request, volume, parent, std::string(own, strnlen(own, kNameBytes)), &name);
  if (!fsrc::Failed(result)) result = Relink(request, volume, block, parent, name);
  if (fsrc::Failed(result)) {
    marker.Unmark();
    return result;
  }
  OMFS_LOG(0x820013, "Node %llx \"%s\" linked again into %llx",
           static_cast<unsigned long long>(block), name.c_str(),
           static_cast<unsigned long long>(parent));
  directories->insert(found_directories.begin(), found_directories.end());
  return fsrc::kOk;
}

// Searches the leaked blocks (marked in the stored bitmap, not in the rebuilt one) for lost
// nodes, reading them a run at a time; each node's own blocks are weighed once.
Result Recover(FsRequest* request, OmfsVolume* volume, OmfsBitmap* rebuilt,
               std::set<uint64_t>* directories, const std::set<uint64_t>& shadowed) {
  OmfsBitmap searched;
  Result result = searched.Init(volume->Blocks(), volume->geometry.blocks_per_unit,
                                volume->BlockSize());
  if (fsrc::Failed(result)) return result;
  auto leaked = [&](uint64_t block) {
    return volume->bitmap.Test(block) && !rebuilt->Test(block) && !searched.Test(block);
  };
  const uint64_t most = std::max<uint64_t>(1, kRecoveryReadBytes / volume->BlockSize());
  std::vector<uint8_t> buffer;
  for (uint64_t block = 0; block < volume->Blocks();) {
    if (!leaked(block)) {
      ++block;
      continue;
    }
    uint64_t count = 1;
    while (count < most && block + count < volume->Blocks() &&
           leaked(block + count))
      ++count;
    buffer.resize(count * volume->BlockSize());
    if (fsrc::Failed(FsBlockRead(request, volume->device,
                                 volume->start + OmfsBlockOffset(volume, block), buffer.data(),
                                 static_cast<uint32_t>(buffer.size()), 0))) {
      block += count;
      continue;
    }
    for (uint64_t i = 0; i < count; ++i) {
      // A node found earlier in the run may hold the blocks after it.
      if (!leaked(block + i)) continue;
      const uint8_t* data = &buffer[i * volume->BlockSize()];
      if (shadowed.count(block + i) == 0 && IsOrphanNode(block + i, data, volume, *directories))
        result = RecoverNode(request, volume, block + i, data, rebuilt, &searched, directories);
      if (fsrc::Failed(result)) return result;
    }
    block += count;
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
  std::set<uint64_t> directories, shadowed;
  TreeMarker marker{volume, &rebuilt, &directories};
  marker.mend = true;
  marker.shadowed = &shadowed;
  result = marker.Mark(volume->root, volume->Mirrors());
  if (!fsrc::Failed(result)) result = marker.MarkSubtree(request, volume->root);
  if (!fsrc::Failed(result)) result = Recover(request, volume, &rebuilt, &directories, shadowed);
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
