// Attributes of OMFS nodes and volumes, and the cost estimates the framework's scheduling
// reads.
#include <algorithm>
#include <cstring>

#include "fs/fs_manager.h"
#include "fs/omfs/omfs_data.h"
#include "fs/omfs/omfs_extents.h"
#include "fs/omfs/omfs_internal.h"
#include "fs/omfs/omfs_nodes.h"
#include "platform/block_device.h"

using namespace omfs;

namespace {

constexpr Result kUnknownAttribute = fsrc::kBadPartition;

Result Out(const void* value, uint32_t width, void* out, uint32_t out_size) {
  if (!out) return fsrc::kOk;
  if (out_size < width) return fsrc::kBufferTooSmall;
  memcpy(out, value, width);
  return fsrc::kOk;
}

Result BlocksHeld(FsRequest* request, OmfsVolume* volume, FsHandle* handle, uint64_t* blocks) {
  *blocks = 1;
  if (handle->node->kind != fs_node::kFile) return fsrc::kOk;
  return OmfsWalkChain(request, volume, OmfsNodeOf(handle)->block, [&](OmfsList& list, uint64_t) {
    for (uint32_t i = 0; i < list.Count(); ++i)
      if (!list.At(i).Hole()) *blocks += list.At(i).length;
    return fsrc::kOk;
  });
}

Result CreationTime(FsRequest* request, OmfsVolume* volume, FsHandle* handle, const void* value,
                    void* out, uint32_t out_size) {
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadNode(request, volume, OmfsNodeOf(handle)->block, &entry);
  if (fsrc::Failed(result)) return result;
  uint8_t* node = BlockCache::Data(entry);
  if (value) {
    uint64_t time;
    memcpy(&time, value, 8);
    Put64(node + kNodeCreated, time);
    result = OmfsWriteMetablock(request, volume, entry);
  }
  const uint64_t time = Get64(node + kNodeCreated);
  BlockCache::Release(entry);
  if (fsrc::Failed(result)) return result;
  return Out(&time, 8, out, out_size);
}

Result UnitSize(FsRequest* request, OmfsVolume* volume, const void* value, void* out,
                uint32_t out_size) {
  if (value) {
    uint64_t bytes;
    memcpy(&bytes, value, 8);
    const uint64_t per_unit = bytes / volume->BlockSize();
    if (bytes < volume->BlockSize() || bytes % volume->BlockSize() != 0 || per_unit > 32 ||
        32 % per_unit != 0)
      return fsrc::kBadPartition;
    const uint32_t old = volume->geometry.blocks_per_unit;
    volume->geometry.blocks_per_unit = static_cast<uint32_t>(per_unit);
    // The loaded bitmap keeps its unit size until the volume is mounted again.
    Result result = OmfsWriteSuper(request, volume);
    if (fsrc::Failed(result)) {
      volume->geometry.blocks_per_unit = old;
      return result;
    }
  }
  const uint64_t bytes = uint64_t{volume->geometry.blocks_per_unit} * volume->BlockSize();
  return Out(&bytes, 8, out, out_size);
}

}  // namespace

Result OmfsAttr(FsRequest* request, FsHandle* handle, uint32_t id, const void* value,
                uint32_t value_length, void* out, uint32_t out_size) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  OmfsVolumeGuard guard(request, volume);
  const bool get_only = id == 4 || id == 5 || id == 7 || id == 1001;
  if (get_only && value) return fsrc::kReadOnlyAttribute;
  if ((id == 2 || id == 8 || id == 1002) && value && value_length < 8)
    return fsrc::kBufferTooSmall;
  switch (id) {
    case 2: {
      if (!value) return fsrc::kOk;
      uint64_t size;
      memcpy(&size, value, 8);
      return OmfsSetFileSize(request, handle, size);
    }
    case 4: {
      const uint64_t space[2] = {volume->bitmap.free_blocks() * volume->BlockSize(),
                                 volume->bitmap.used_blocks() * volume->BlockSize()};
      return Out(space, sizeof space, out, out_size);
    }
    case 5: {
      uint64_t blocks = 0;
      Result result = BlocksHeld(request, volume, handle, &blocks);
      if (fsrc::Failed(result)) return result;
      const uint64_t bytes = blocks * volume->BlockSize();
      return Out(&bytes, 8, out, out_size);
    }
    case 7: {
      const uint64_t identity[2] = {OmfsNodeOf(handle)->block, 0};
      return Out(identity, sizeof identity, out, out_size);
    }
    case 8:
      return CreationTime(request, volume, handle, value, out, out_size);
    case 1001: {
      if (!volume->cache) return kNoCache;
      const uint32_t size = volume->cache->BlockSize();
      return Out(&size, 4, out, out_size);
    }
    case 1002:
      return UnitSize(request, volume, value, out, out_size);
    default:
      return kUnknownAttribute;
  }
}

namespace {

uint64_t MetaRead(FsMount* mount) {
  OmfsVolume* volume = OmfsOf(mount);
  return volume->device->ReadEstimate(0, volume->MetaSize(), 0);
}

uint64_t MetaWriteOnce(FsMount* mount) {
  OmfsVolume* volume = OmfsOf(mount);
  return volume->device->WriteEstimate(0, volume->MetaSize(), 2);
}

uint64_t MetaWrite(FsMount* mount) { return MetaWriteOnce(mount) * OmfsOf(mount)->Mirrors(); }

// Costs are asked before the request is admitted, while another request may be working on
// the volume, so they look at nothing in the cache: a transfer is charged as one device
// transfer, and a write as one metablock write more for the allocation it may need.
uint64_t TransferCost(FsHandle* handle, uint64_t length, bool write) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  const uint32_t flags = (handle->flags & 0x400) ? 1 : 0;
  if (write) return volume->device->WriteEstimate(0, length, flags) + MetaWrite(handle->Volume());
  const uint64_t size = handle->node->size;
  const uint64_t position = handle->position;
  const uint64_t rest = position < size ? std::min(length, size - position) : 0;
  return volume->device->ReadEstimate(0, rest, flags);
}

uint64_t CostLookup(FsRequest*, FsHandle*, FsMount* mount, uint64_t, uint64_t) {
  return MetaRead(mount);
}
uint64_t CostZero(FsRequest*, FsHandle*, FsMount*, uint64_t, uint64_t) { return 0; }
uint64_t CostCreate(FsRequest*, FsHandle*, FsMount* mount, uint64_t, uint64_t) {
  return 2 * MetaWrite(mount);
}
uint64_t CostRename(FsRequest*, FsHandle*, FsMount* mount, uint64_t, uint64_t) {
  return 3 * MetaWrite(mount) + MetaRead(mount);
}
uint64_t CostRemove(FsRequest*, FsHandle*, FsMount* mount, uint64_t, uint64_t) {
  return MetaWrite(mount) + MetaRead(mount);
}
uint64_t CostRead(FsRequest*, FsHandle* handle, FsMount*, uint64_t length, uint64_t) {
  return TransferCost(handle, length, false);
}
uint64_t CostWrite(FsRequest*, FsHandle* handle, FsMount*, uint64_t length, uint64_t) {
  return TransferCost(handle, length, true);
}
uint64_t CostPop(FsRequest*, FsHandle*, FsMount* mount, uint64_t, uint64_t) {
  return MetaWrite(mount);
}
uint64_t CostReadDir(FsRequest*, FsHandle* handle, FsMount* mount, uint64_t, uint64_t) {
  return OmfsOf(mount)->device->ReadEstimate(handle ? handle->position : 0, mount->attribute3, 0);
}
uint64_t CostSeek(FsRequest*, FsHandle*, FsMount* mount, uint64_t id, uint64_t set) {
  return set && (id == 8 || id == 1002) ? MetaWrite(mount) : 0;
}
uint64_t CostFlush(FsRequest*, FsHandle*, FsMount* mount, uint64_t, uint64_t) {
  return 4 * MetaWriteOnce(mount);
}
uint64_t CostSync(FsRequest*, FsHandle*, FsMount* mount, uint64_t, uint64_t) {
  return 10 * MetaWriteOnce(mount);
}

}  // namespace

void OmfsFillCosts(FsCostFn* costs) {
  costs[0] = CostLookup;
  costs[fs_cost::kLookup] = CostLookup;
  costs[fs_cost::kClose] = CostZero;
  costs[fs_cost::kCreate] = CostCreate;
  costs[5] = CostCreate;
  costs[fs_cost::kRename] = CostRename;
  costs[7] = CostPop;  // SetLabel: one metablock write
  costs[fs_cost::kRemove] = CostRemove;
  costs[fs_cost::kRead] = CostRead;
  costs[fs_cost::kWrite] = CostWrite;
  costs[fs_cost::kPop] = CostPop;
  costs[fs_cost::kReadDir] = CostReadDir;
  costs[fs_cost::kRewindDir] = CostZero;
  costs[fs_cost::kSeek] = CostSeek;
  costs[fs_cost::kFlush] = CostFlush;
  costs[fs_cost::kSync] = CostSync;
}
