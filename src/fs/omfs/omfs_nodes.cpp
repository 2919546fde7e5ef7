// Nodes and directories: the root, lookup through the name hash chains, opening and closing
// handles, creating and removing nodes, listing a directory and the volume label.
#include <windows.h>

#include <cstring>
#include <new>
#include <set>

#include "fs/fs_manager.h"
#include "fs/omfs/omfs_extents.h"
#include "fs/omfs/omfs_internal.h"
#include "fs/omfs/omfs_nodes.h"

using namespace omfs;

OmfsVolumeGuard::OmfsVolumeGuard(FsRequest* request, OmfsVolume* volume)
    : request_(request), volume_(volume) {
  while (request && volume->owner && volume->owner != request) FsSleep(request, volume->channel);
  volume->owner = request;
  ++volume->depth;
}

OmfsVolumeGuard::~OmfsVolumeGuard() {
  if (--volume_->depth == 0) {
    volume_->owner = nullptr;
    FsWake(volume_->channel);
  }
}

namespace {

uint64_t NowMilliseconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime;
  return ticks / 10000 - 0xA9730B66800ull;
}

uint32_t NameLength(const uint8_t* node) {
  return static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(node + kNodeName), kNameBytes));
}

}  // namespace

uint32_t OmfsBucket(const OmfsVolume* volume, const char* name, uint32_t length) {
  return NameHash(name, length) % HashBuckets(volume->MetaSize());
}

uint8_t* OmfsChainHead(uint8_t* directory, uint32_t bucket) {
  return directory + kNodeHashTable + 8 * bucket;
}

uint32_t OmfsCutName(uint32_t length) { return length > kNameBytes ? kNameBytes : length; }

Result OmfsReadNode(FsRequest* request, OmfsVolume* volume, uint64_t block,
                    BlockCacheEntry** out) {
  Result result = OmfsReadMetablock(request, volume, block, kTypeNode, block, out);
  if (fsrc::Failed(result)) return result;
  const uint32_t kind = Get32(BlockCache::Data(*out) + kNodeKind);
  if (kind != kKindDirectory && kind != kKindFile) {
    OMFS_LOG(0x82001A, "Bad entry type %lx", static_cast<unsigned long>(kind));
    BlockCache::Release(*out);
    *out = nullptr;
    return fsrc::kCorrupt;
  }
  return fsrc::kOk;
}

Result OmfsAttach(FsRequest* request, OmfsVolume* volume, uint64_t block, uint32_t flags,
                  FsHandle** out) {
  *out = nullptr;
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadNode(request, volume, block, &entry);
  if (fsrc::Failed(result)) return result;
  const uint8_t* node = BlockCache::Data(entry);
  const bool directory = Get32(node + kNodeKind) == kKindDirectory;
  const uint64_t size = Get64(node + kNodeSize);
  BlockCache::Release(entry);
  OmfsHandleState* handle_state = new (std::nothrow) OmfsHandleState;
  if (!handle_state) return fsrc::kOutOfMemory;
  bool fresh = false;
  FsHandle* handle = nullptr;
  result = FsAttachHandle(volume->mount, block, flags, &handle, &fresh);
  if (fsrc::Failed(result)) {
    delete handle_state;
    return result;
  }
  handle->state = handle_state;
  if (fresh) {
    OmfsNodeState* state = new (std::nothrow) OmfsNodeState;
    if (!state) {
      FsCloseHandle(request, handle);
      return fsrc::kOutOfMemory;
    }
    state->block = block;
    state->lock.channel = FsNewWaitChannel();
    handle->node->state = state;
    handle->node->kind = directory ? fs_node::kDirectory : fs_node::kFile;
    handle->node->size = directory ? 0 : size;
  }
  if ((flags & fs_open::kWrite) && !directory) {
    OmfsNodeState* state = OmfsNodeOf(handle);
    if (state->writers > 0) {
      FsCloseHandle(request, handle);
      return fsrc::kOpenElsewhere;
    }
    ++state->writers;
    handle_state->writer = true;
  }
  *out = handle;
  return fsrc::kOk;
}

Result OmfsFind(FsRequest* request, OmfsVolume* volume, uint64_t directory, const char* name,
                uint32_t length, uint32_t flags, OmfsFound* found) {
  length = OmfsCutName(length);
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadNode(request, volume, directory, &entry);
  if (fsrc::Failed(result)) return result;
  uint8_t* dir = BlockCache::Data(entry);
  if (Get32(dir + kNodeKind) != kKindDirectory) {
    BlockCache::Release(entry);
    return fsrc::kNotADirectory;
  }
  found->bucket = OmfsBucket(volume, name, length);
  uint64_t current = Get64(OmfsChainHead(dir, found->bucket));
  BlockCache::Release(entry);
  found->node = kNone;
  found->before = kNone;
  uint64_t previous = kNone;
  std::set<uint64_t> seen;
  while (current != kNone) {
    if (!seen.insert(current).second) return fsrc::kCorrupt;  // a chain that loops
    result = OmfsReadNode(request, volume, current, &entry);
    if (fsrc::Failed(result)) return result;
    const uint8_t* node = BlockCache::Data(entry);
    const int match = FsCompareName(reinterpret_cast<const char*>(node + kNodeName),
                                    NameLength(node), name, length);
    const uint64_t next = Get64(node + kNodeNext);
    BlockCache::Release(entry);
    if (match == 0 || (match == 1 && !(flags & fs_open::kExactCase))) {
      found->node = current;
      found->before = previous;
      if (match == 0) break;  // a later exact spelling wins over a folded one
    }
    previous = current;
    current = next;
  }
  return found->node == kNone ? fsrc::kNotFound : fsrc::kOk;
}

Result OmfsGetRoot(FsRequest* request, FsHandle** out, FsMount* mount, uint32_t flags) {
  OmfsVolume* volume = OmfsOf(mount);
  OmfsVolumeGuard guard(request, volume);
  return OmfsAttach(request, volume, volume->root, flags, out);
}

Result OmfsLookup(FsRequest* request, FsHandle** out, const char* name, uint32_t length,
                  FsHandle* directory, uint32_t flags) {
  *out = nullptr;
  OmfsVolume* volume = OmfsOf(directory->Volume());
  OmfsVolumeGuard guard(request, volume);
  const uint64_t block = OmfsNodeOf(directory)->block;
  if (length == 2 && name[0] == '.' && name[1] == '.') {
    BlockCacheEntry* entry = nullptr;
    Result result = OmfsReadNode(request, volume, block, &entry);
    if (fsrc::Failed(result)) return result;
    const uint64_t parent = Get64(BlockCache::Data(entry) + kNodeParent);
    BlockCache::Release(entry);
    if (parent == kNone) return fsrc::kLeavesVolume;
    return OmfsAttach(request, volume, parent, flags, out);
  }
  OmfsFound found;
  Result result = OmfsFind(request, volume, block, name, length, flags, &found);
  if (fsrc::Failed(result)) return result;
  return OmfsAttach(request, volume, found.node, flags, out);
}

Result OmfsOpenNode(FsRequest* request, FsHandle** out, FsHandle* handle, uint32_t flags) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  OmfsVolumeGuard guard(request, volume);
  return OmfsAttach(request, volume, OmfsNodeOf(handle)->block, flags, out);
}

Result OmfsCloseNode(FsRequest*, FsHandle* handle) {
  OmfsHandleState* state = OmfsHandleOf(handle);
  if (state && state->writer && handle->node->state) --OmfsNodeOf(handle)->writers;
  delete state;
  handle->state = nullptr;
  return fsrc::kOk;
}

Result OmfsReleaseNode(FsRequest*, FsNode* node) {
  delete static_cast<OmfsNodeState*>(node->state);
  node->state = nullptr;
  return fsrc::kOk;
}

namespace {

Result Create(FsRequest* request, FsHandle** out, FsHandle* directory, const char* name,
              uint32_t length, uint32_t flags, bool is_directory) {
  *out = nullptr;
  OmfsVolume* volume = OmfsOf(directory->Volume());
  OmfsVolumeGuard guard(request, volume);
  length = OmfsCutName(length);
  const uint64_t parent = OmfsNodeOf(directory)->block;
  BlockCacheEntry* dir_entry = nullptr;
  Result result = OmfsReadNode(request, volume, parent, &dir_entry);
  if (fsrc::Failed(result)) return result;
  uint64_t block = 0, run_length = 0;
  result = volume->bitmap.Allocate(volume->Mirrors(), 0, 0, &block, &run_length);
  if (fsrc::Failed(result)) {
    BlockCache::Release(dir_entry);
    return result;
  }
  uint8_t* dir = BlockCache::Data(dir_entry);
  const uint32_t bucket = OmfsBucket(volume, name, length);
  const uint64_t old_head = Get64(OmfsChainHead(dir, bucket));
  BlockCacheEntry* entry = nullptr;
  result = OmfsNewMetablock(request, volume, block, block, &entry);
  if (!fsrc::Failed(result)) {
    uint8_t* node = BlockCache::Data(entry);
    Put64(node + kNodeParent, parent);
    Put64(node + kNodeNext, old_head);
    Put64(node + kNodeCreated, NowMilliseconds());
    Put32(node + kNodeKind, is_directory ? kKindDirectory : kKindFile);
    Put32(node + kNodeOne, 1);
    memcpy(node + kNodeName, name, length);
    if (is_directory) {
      for (uint32_t i = 0; i < HashBuckets(volume->MetaSize()); ++i)
        Put64(node + kNodeHashTable + 8 * i, kNone);
      OmfsPrepareHeader(node, block, volume->MetaSize() - kHeaderBytes, kTypeNode);
    } else {
      Put64(node + kNodeSpare, kNone);
      Put64(node + kNodeSpare + 8, kNone);
      Put64(node + kNodeList + kListLink, kNone);
      Put32(node + kNodeList + kListCount, 1);
      Put32(node + kNodeList + kListCapacity, (volume->MetaSize() - kNodeEntries) / kExtentBytes);
      Put64(node + kNodeEntries, kNone);
      Put64(node + kNodeEntries + 8, kNone);
      OmfsPrepareHeader(node, block, kNodeList - kHeaderBytes + 16 + kExtentBytes, kTypeNode);
    }
    // The blocks are marked on the disk before anything points at them, and the node is
    // whole before the directory links it.
    result = volume->bitmap.WriteBack(request);
    if (!fsrc::Failed(result)) result = OmfsWriteMetablock(request, volume, entry);
    BlockCache::Release(entry);
  }
  if (!fsrc::Failed(result)) {
    Put64(OmfsChainHead(dir, bucket), block);
    OmfsPrepareHeader(dir, parent, volume->MetaSize() - kHeaderBytes, kTypeNode);
    result = OmfsWriteMetablock(request, volume, dir_entry);
    if (fsrc::Failed(result)) {
      // The directory keeps its old chain; the new node is given up.
      Put64(OmfsChainHead(dir, bucket), old_head);
    }
  }
  BlockCache::Release(dir_entry);
  if (fsrc::Failed(result)) {
    OmfsForgetBlocks(volume, block, volume->Mirrors());
    volume->bitmap.ClearRun(block, volume->Mirrors());
    return result;
  }
  return OmfsAttach(request, volume, block, flags, out);
}

}  // namespace

Result OmfsSetLink(FsRequest* request, OmfsVolume* volume, uint64_t directory,
                   const OmfsFound& found, uint64_t next) {
  const uint64_t holder = found.before == kNone ? directory : found.before;
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadNode(request, volume, holder, &entry);
  if (fsrc::Failed(result)) return result;
  uint8_t* data = BlockCache::Data(entry);
  uint8_t* link = found.before == kNone ? OmfsChainHead(data, found.bucket) : data + kNodeNext;
  const uint64_t old = Get64(link);
  Put64(link, next);
  result = OmfsWriteMetablock(request, volume, entry);
  if (fsrc::Failed(result)) Put64(link, old);
  BlockCache::Release(entry);
  return result;
}

Result OmfsCreateFile(FsRequest* request, FsHandle** out, FsHandle* directory, const char* name,
                      uint32_t length, uint32_t flags) {
  return Create(request, out, directory, name, length, flags, false);
}

Result OmfsCreateDir(FsRequest* request, FsHandle** out, FsHandle* directory, const char* name,
                     uint32_t length, uint32_t flags) {
  return Create(request, out, directory, name, length, flags, true);
}

Result OmfsRemove(FsRequest* request, FsHandle* directory, const char* name, uint32_t length) {
  OmfsVolume* volume = OmfsOf(directory->Volume());
  OmfsVolumeGuard guard(request, volume);
  const uint64_t parent = OmfsNodeOf(directory)->block;
  OmfsFound found;
  Result result = OmfsFind(request, volume, parent, name, length, 0, &found);
  if (fsrc::Failed(result)) return result;
  BlockCacheEntry* entry = nullptr;
  result = OmfsReadNode(request, volume, found.node, &entry);
  if (fsrc::Failed(result)) return result;
  uint8_t* node = BlockCache::Data(entry);
  const bool is_directory = Get32(node + kNodeKind) == kKindDirectory;
  const uint64_t next = Get64(node + kNodeNext);
  if (Get64(node + kNodeParent) == kNone) result = fsrc::kNotSupported;
  for (uint32_t i = 0; is_directory && !fsrc::Failed(result) && i < HashBuckets(volume->MetaSize());
       ++i)
    if (Get64(OmfsChainHead(node, i)) != kNone) result = kNotEmpty;
  BlockCache::Release(entry);
  if (fsrc::Failed(result)) return result;
  result = OmfsSetLink(request, volume, parent, found, next);
  if (fsrc::Failed(result)) return result;
  return OmfsFreeNode(request, volume, found.node, is_directory);
}

Result OmfsFreeNode(FsRequest* request, OmfsVolume* volume, uint64_t node, bool is_directory) {
  Result result = fsrc::kOk;
  if (!is_directory) result = OmfsFreeFileBlocks(request, volume, node);
  volume->bitmap.ClearRun(node, volume->Mirrors());
  OmfsForgetBlocks(volume, node, volume->Mirrors());
  Result written = volume->bitmap.WriteBack(request);
  return fsrc::Failed(result) ? result : written;
}

Result OmfsSetLabel(FsRequest* request, FsMount* mount, const char* text, uint32_t length) {
  OmfsVolume* volume = OmfsOf(mount);
  OmfsVolumeGuard guard(request, volume);
  const std::string old = volume->label;
  volume->label.assign(text, strnlen(text, OmfsCutName(length)));
  Result result = OmfsWriteSuper(request, volume);
  if (fsrc::Failed(result)) volume->label = old;
  return result;
}

namespace {

void FirstChain(const uint8_t* directory, uint32_t buckets, uint32_t from, OmfsHandleState* state) {
  state->next_entry = kNone;
  for (state->bucket = from; state->bucket < buckets; ++state->bucket) {
    state->next_entry = Get64(directory + kNodeHashTable + 8 * state->bucket);
    if (state->next_entry != kNone) return;
  }
}

}  // namespace

Result OmfsRewindDir(FsRequest* request, FsHandle* handle) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  OmfsVolumeGuard guard(request, volume);
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadNode(request, volume, OmfsNodeOf(handle)->block, &entry);
  if (fsrc::Failed(result)) return result;
  OmfsHandleState* state = OmfsHandleOf(handle);
  FirstChain(BlockCache::Data(entry), HashBuckets(volume->MetaSize()), 0, state);
  state->listed = 0;
  BlockCache::Release(entry);
  return fsrc::kOk;
}

Result OmfsReadDir(FsRequest* request, FsHandle* handle, char* buffer, uint32_t size) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  OmfsVolumeGuard guard(request, volume);
  OmfsHandleState* state = OmfsHandleOf(handle);
  if (state->next_entry == kNone) return fsrc::kNoMoreEntries;
  // A listing longer than the volume has nodes runs round a damaged chain.
  if (++state->listed > volume->Blocks()) return fsrc::kCorrupt;
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadNode(request, volume, state->next_entry, &entry);
  if (fsrc::Failed(result)) return result;
  const uint8_t* node = BlockCache::Data(entry);
  const uint32_t length = NameLength(node);
  const uint64_t next = Get64(node + kNodeNext);
  if (size < length + 1) {
    BlockCache::Release(entry);
    return fsrc::kBufferTooSmall;
  }
  memcpy(buffer, node + kNodeName, length);
  buffer[length] = '\0';
  BlockCache::Release(entry);
  state->next_entry = next;
  if (next != kNone) return fsrc::kOk;
  result = OmfsReadNode(request, volume, OmfsNodeOf(handle)->block, &entry);
  if (fsrc::Failed(result)) return result;
  FirstChain(BlockCache::Data(entry), HashBuckets(volume->MetaSize()), state->bucket + 1, state);
  BlockCache::Release(entry);
  return fsrc::kOk;
}
