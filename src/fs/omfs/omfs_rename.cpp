// Renaming a node, and renaming it over an existing file in one step.
//
// A node has one next word, so it cannot stand in two chains at once: a rename takes it out of
// its old chain first. A cut right after that leaves it in no chain; the check links it back
// under its old name, which it still carries on the disk. The node is then written whole with
// its new name and successor, and one write of the link before it makes it reachable. Over an
// existing file that link is the one that led to the old file, and the renamed node takes the
// old file's successor: that single write swaps the two, so every cut leaves exactly one of
// them under the name. The old file's blocks are freed after. A cut between the node's new
// name and the swap leaves it out of every chain under a name that the old file holds; the
// check links it back beside that one as "name~1".
#include <cstring>

#include "fs/fs_manager.h"
#include "fs/omfs/omfs_internal.h"
#include "fs/omfs/omfs_nodes.h"

using namespace omfs;

namespace {

// Whether `node` is `directory` or one of its ancestors.
Result IsAncestor(FsRequest* request, OmfsVolume* volume, uint64_t node, uint64_t directory,
                  bool* ancestor) {
  *ancestor = false;
  uint64_t current = directory;
  for (uint64_t steps = 0; current != kNone; ++steps) {
    if (current == node) {
      *ancestor = true;
      return fsrc::kOk;
    }
    if (steps > volume->Blocks()) return fsrc::kCorrupt;
    BlockCacheEntry* entry = nullptr;
    Result result = OmfsReadNode(request, volume, current, &entry);
    if (fsrc::Failed(result)) return result;
    current = Get64(BlockCache::Data(entry) + kNodeParent);
    BlockCache::Release(entry);
  }
  return fsrc::kOk;
}

Result ReadNext(FsRequest* request, OmfsVolume* volume, uint64_t node, uint64_t* next) {
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadNode(request, volume, node, &entry);
  if (fsrc::Failed(result)) return result;
  *next = Get64(BlockCache::Data(entry) + kNodeNext);
  BlockCache::Release(entry);
  return fsrc::kOk;
}

// Finds the node to rename and takes it out of its chain.
Result TakeOut(FsRequest* request, OmfsVolume* volume, uint64_t from, const char* name,
               uint32_t length, uint64_t to, OmfsFound* found) {
  Result result = OmfsFind(request, volume, from, name, length, 0, found);
  if (fsrc::Failed(result)) return result;
  // A directory moved below itself would leave the tree and be freed by the next check.
  bool ancestor = false;
  result = IsAncestor(request, volume, found->node, to, &ancestor);
  if (fsrc::Failed(result)) return result;
  if (ancestor) return fsrc::kInvalidArgument;
  uint64_t next = kNone;
  result = ReadNext(request, volume, found->node, &next);
  if (fsrc::Failed(result)) return result;
  return OmfsSetLink(request, volume, from, *found, next);
}

// Writes the node whole with its new name, parent and successor.
Result WriteRenamed(FsRequest* request, OmfsVolume* volume, uint64_t node, uint64_t parent,
                    const char* name, uint32_t length, uint64_t next) {
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadNode(request, volume, node, &entry);
  if (fsrc::Failed(result)) return result;
  uint8_t* data = BlockCache::Data(entry);
  Put64(data + kNodeNext, next);
  Put64(data + kNodeParent, parent);
  memset(data + kNodeName, 0, kNameBytes);
  memcpy(data + kNodeName, name, length);
  result = OmfsWriteMetablock(request, volume, entry);
  BlockCache::Release(entry);
  return result;
}

// Links a node taken out of its chain at the head of its new name's chain.
Result LinkAtHead(FsRequest* request, OmfsVolume* volume, uint64_t node, uint64_t to,
                  const char* name, uint32_t length) {
  OmfsFound head;
  head.bucket = OmfsBucket(volume, name, length);
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadNode(request, volume, to, &entry);
  if (fsrc::Failed(result)) return result;
  const uint64_t first = Get64(OmfsChainHead(BlockCache::Data(entry), head.bucket));
  BlockCache::Release(entry);
  result = WriteRenamed(request, volume, node, to, name, length, first);
  if (fsrc::Failed(result)) return result;
  return OmfsSetLink(request, volume, to, head, node);
}

// Takes the node out of its chain and links it at the head of its new name's chain.
Result MoveToHead(FsRequest* request, OmfsVolume* volume, uint64_t from, const char* old_name,
                  uint32_t old_length, uint64_t to, const char* new_name, uint32_t new_length) {
  OmfsFound found;
  Result result = TakeOut(request, volume, from, old_name, old_length, to, &found);
  if (fsrc::Failed(result)) return result;
  return LinkAtHead(request, volume, found.node, to, new_name, new_length);
}

}  // namespace

Result OmfsRename(FsRequest* request, FsHandle* old_directory, const char* old_name,
                  uint32_t old_length, FsHandle* new_directory, const char* new_name,
                  uint32_t new_length) {
  OmfsVolume* volume = OmfsOf(old_directory->Volume());
  OmfsVolumeGuard guard(request, volume);
  const uint64_t from = OmfsNodeOf(old_directory)->block;
  const uint64_t to = OmfsNodeOf(new_directory)->block;
  return MoveToHead(request, volume, from, old_name, old_length, to, new_name,
                    OmfsCutName(new_length));
}

Result OmfsRenameReplacing(FsRequest* request, FsHandle* old_directory, const char* old_name,
                           uint32_t old_length, FsHandle* new_directory, const char* new_name,
                           uint32_t new_length) {
  OmfsVolume* volume = OmfsOf(old_directory->Volume());
  OmfsVolumeGuard guard(request, volume);
  const uint64_t from = OmfsNodeOf(old_directory)->block;
  const uint64_t to = OmfsNodeOf(new_directory)->block;
  new_length = OmfsCutName(new_length);
  OmfsFound moved, replaced;
  Result result = OmfsFind(request, volume, from, old_name, old_length, 0, &moved);
  if (fsrc::Failed(result)) return result;
  result = OmfsFind(request, volume, to, new_name, new_length, fs_open::kExactCase, &replaced);
  if (result == fsrc::kNotFound)
    return MoveToHead(request, volume, from, old_name, old_length, to, new_name, new_length);
  if (fsrc::Failed(result)) return result;
  if (replaced.node == moved.node) return fsrc::kOk;
  BlockCacheEntry* entry = nullptr;
  result = OmfsReadNode(request, volume, replaced.node, &entry);
  if (fsrc::Failed(result)) return result;
  const bool replaces_directory = Get32(BlockCache::Data(entry) + kNodeKind) == kKindDirectory;
  BlockCache::Release(entry);
  if (replaces_directory) return fsrc::kExists;

  result = TakeOut(request, volume, from, old_name, old_length, to, &moved);
  // Taking the node out may have changed the link that leads to the old file.
  if (!fsrc::Failed(result))
    result = OmfsFind(request, volume, to, new_name, new_length, fs_open::kExactCase, &replaced);
  uint64_t after = kNone;
  if (!fsrc::Failed(result)) result = ReadNext(request, volume, replaced.node, &after);
  if (!fsrc::Failed(result))
    result = WriteRenamed(request, volume, moved.node, to, new_name, new_length, after);
  if (!fsrc::Failed(result)) result = OmfsSetLink(request, volume, to, replaced, moved.node);
  if (fsrc::Failed(result)) return result;
  // The file has its new name: blocks of the old one that cannot be freed now stay marked in
  // use on the disk until the check frees them.
  Result freed = OmfsFreeNode(request, volume, replaced.node, false);
  if (fsrc::Failed(freed))
    OMFS_LOG(0x820013, "Blocks of replaced node %llx not freed: err %lx",
             static_cast<unsigned long long>(replaced.node), static_cast<unsigned long>(freed));
  return fsrc::kOk;
}
