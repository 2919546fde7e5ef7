#include "fs/omfs/omfs_data.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "fs/fs_manager.h"
#include "fs/omfs/omfs_extents.h"
#include "fs/omfs/omfs_nodes.h"
#include "platform/block_device.h"

using namespace omfs;

namespace {

constexpr uint32_t kZeroChunk = 64 * 1024;

void HoldShared(FsRequest* request, OmfsNodeLock* lock) {
  while (request && lock->state == 2) FsSleep(request, lock->channel);
  lock->state = 1;
  ++lock->shared;
}

void ReleaseShared(OmfsNodeLock* lock) {
  if (lock->shared > 0 && --lock->shared == 0) lock->state = 0;
  FsWake(lock->channel);
}

void HoldExclusive(FsRequest* request, OmfsNodeLock* lock) {
  while (request && lock->state != 0) FsSleep(request, lock->channel);
  lock->state = 2;
}

void ReleaseExclusive(OmfsNodeLock* lock) {
  lock->state = 0;
  FsWake(lock->channel);
}

Result Map(FsRequest* request, OmfsVolume* volume, uint64_t node, uint64_t position,
           bool estimate, OmfsMapping* mapping) {
  const uint64_t block = position / volume->BlockSize();
  const uint64_t remainder = position % volume->BlockSize();
  bool found = false;
  Result result = OmfsWalkChain(request, volume, node, [&](OmfsList& list, uint64_t base) {
    uint32_t index = 0;
    uint64_t offset = 0;
    if (block >= base && list.Locate(block - base, &index, &offset)) {
      const OmfsExtent extent = list.At(index);
      found = true;
      mapping->hole = extent.Hole();
      if (!extent.Hole() && (extent.start >= volume->Blocks() ||
                             extent.length > volume->Blocks() - extent.start))
        return fsrc::kCorrupt;
      mapping->address = extent.Hole() ? 0 : (extent.start + offset) * volume->BlockSize() + remainder;
      const uint64_t entry_base = block - offset;
      mapping->left = entry_base + extent.length == kNone
                          ? 0
                          : (extent.length - offset) * volume->BlockSize() - remainder;
      return kOmfsStopWalk;
    }
    if (estimate && list.Link() != kNone) return fsrc::kListFull;
    return fsrc::kOk;
  });
  if (fsrc::Failed(result)) return result;
  return found ? fsrc::kOk : fsrc::kEndOfFile;
}

// Copies between the buffer and a held cache block from `in_block` on, at most to the block's
// end; releases the block and answers the bytes copied.
uint64_t CopyWithBlock(BlockCacheEntry* entry, uint64_t in_block, uint8_t* buffer,
                       uint64_t length, bool write) {
  const uint64_t piece = std::min<uint64_t>(entry->cache->BlockSize() - in_block, length);
  uint8_t* bytes = BlockCache::Data(entry) + in_block;
  if (write) {
    memcpy(bytes, buffer, piece);
    // A metablock keeps its own write-back; file data is written plainly.
    if (!entry->callback) BlockCache::MarkDirty(entry, nullptr, 0, 0);
  } else {
    memcpy(buffer, bytes, piece);
  }
  BlockCache::Release(entry);
  return piece;
}

Result Transfer(FsRequest* request, OmfsVolume* volume, uint64_t address, uint8_t* buffer,
                uint64_t length, uint64_t tag, bool write) {
  if (!volume->cache || !volume->device || volume->device->SectorSize() == 0)
    return fsrc::kInvalidArgument;
  const uint64_t volume_bytes = volume->Blocks() * volume->BlockSize();
  if (address > volume_bytes || length > volume_bytes - address) return fsrc::kCorrupt;
  const uint32_t sector = volume->device->SectorSize();
  const uint32_t cached = volume->MetaSize();
  BlockCache* cache = volume->cache;
  while (length > 0) {
    BlockCacheEntry* entry = nullptr;
    uint64_t piece = 0;
    if (address % sector != 0 || length < sector) {
      // A part of a sector goes through the cache block that holds it.
      const uint64_t in_block = address % cached;
      Result result = cache->Get(request, &entry, volume->device, address - in_block, 0, tag);
      if (fsrc::Failed(result)) return result;
      piece = CopyWithBlock(entry, in_block, buffer, length, write);
    } else if (!fsrc::Failed(cache->Find(request, &entry, volume->device, address, length, tag)) &&
               cache->Offset(entry) <= address) {
      const uint64_t in_block = address - cache->Offset(entry);
      piece = CopyWithBlock(entry, in_block, buffer, length, write);
    } else {
      // Up to the next cached block, in whole sectors, straight to or from the device.
      uint64_t stretch = entry ? cache->Offset(entry) - address : length;
      if (entry) BlockCache::Release(entry);
      stretch = std::min<uint64_t>(stretch, 1u << 30) / sector * sector;
      if (stretch == 0) stretch = sector;
      Result result = write ? FsBlockWrite(request, volume->device, volume->start + address,
                                           buffer, static_cast<uint32_t>(stretch), 0)
                            : FsBlockRead(request, volume->device, volume->start + address,
                                          buffer, static_cast<uint32_t>(stretch), 0);
      if (fsrc::Failed(result)) return result;
      piece = stretch;
    }
    address += piece;
    buffer += piece;
    length -= piece;
  }
  return fsrc::kOk;
}

// Writes zeros over the allocated parts of [from, to) of the file.
Result ZeroRange(FsRequest* request, FsHandle* handle, uint64_t from, uint64_t to) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  const uint64_t node = OmfsNodeOf(handle)->block;
  static const std::vector<uint8_t> zeros(kZeroChunk, 0);
  while (from < to) {
    OmfsMapping mapping;
    Result result = Map(request, volume, node, from, false, &mapping);
    if (result == fsrc::kEndOfFile) return fsrc::kOk;
    if (fsrc::Failed(result)) return result;
    uint64_t piece = std::min<uint64_t>(to - from, kZeroChunk);
    if (mapping.left != 0) piece = std::min(piece, mapping.left);
    if (!mapping.hole) {
      result = Transfer(request, volume, mapping.address, const_cast<uint8_t*>(zeros.data()),
                        piece, node, true);
      if (fsrc::Failed(result)) return result;
    }
    from += piece;
  }
  return fsrc::kOk;
}

// Zeros whole blocks on the disk, and in the cache where they are held.
Result ZeroBlocks(FsRequest* request, OmfsVolume* volume, uint64_t first, uint64_t count) {
  OmfsForgetBlocks(volume, first, count);
  static const std::vector<uint8_t> zeros(kZeroChunk, 0);
  uint64_t address = first * volume->BlockSize();
  uint64_t left = count * volume->BlockSize();
  while (left > 0) {
    const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(left, kZeroChunk));
    Result result =
        FsBlockWrite(request, volume->device, volume->start + address, zeros.data(), piece, 0);
    if (fsrc::Failed(result)) return result;
    address += piece;
    left -= piece;
  }
  return fsrc::kOk;
}

}  // namespace

Result OmfsMapPosition(FsRequest* request, FsHandle* handle, uint64_t position, bool estimate,
                       OmfsMapping* mapping) {
  OmfsNodeState* state = OmfsNodeOf(handle);
  if (estimate) {
    if (state->lock.state == 2) return fsrc::kOpenElsewhere;
  } else {
    HoldShared(request, &state->lock);
  }
  Result result = Map(request, OmfsOf(handle->Volume()), state->block, position, estimate, mapping);
  if (!estimate) ReleaseShared(&state->lock);
  return result;
}

Result OmfsReadBytes(FsRequest* request, OmfsVolume* volume, uint64_t address, void* buffer,
                     uint64_t length, uint64_t tag) {
  return Transfer(request, volume, address, static_cast<uint8_t*>(buffer), length, tag, false);
}

Result OmfsWriteBytes(FsRequest* request, OmfsVolume* volume, uint64_t address,
                      const void* buffer, uint64_t length, uint64_t tag) {
  return Transfer(request, volume, address,
                  static_cast<uint8_t*>(const_cast<void*>(buffer)), length, tag, true);
}

namespace {

Result StoreSize(FsRequest* request, FsHandle* handle, uint64_t size) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  const uint64_t node = OmfsNodeOf(handle)->block;
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsReadNode(request, volume, node, &entry);
  if (fsrc::Failed(result)) return result;
  Put64(BlockCache::Data(entry) + kNodeSize, size);
  // Written with the file's data by the next flush (data first, then the node).
  OmfsMarkChanged(volume, entry);
  BlockCache::Release(entry);
  handle->node->size = size;
  return fsrc::kOk;
}

}  // namespace

Result OmfsSetFileSize(FsRequest* request, FsHandle* handle, uint64_t size) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  OmfsVolumeGuard guard(request, volume);
  // Bytes that were never written read as zeros: what lies between the old and the new end
  // may hold what a deleted file left there.
  if (size > handle->node->size) {
    Result zeroed = ZeroRange(request, handle, handle->node->size, size);
    if (fsrc::Failed(zeroed)) return zeroed;
  }
  return StoreSize(request, handle, size);
}

namespace {

// Maps the next piece of a read or write; false ends the transfer, with success when the
// position lies past the extent chain.
bool MapForTransfer(FsRequest* request, FsHandle* handle, uint64_t position,
                    OmfsMapping* mapping, Result* result) {
  *result = OmfsMapPosition(request, handle, position, false, mapping);
  if (*result == fsrc::kEndOfFile) {
    *result = fsrc::kOk;
    return false;
  }
  return !fsrc::Failed(*result);
}

}  // namespace

Result OmfsRead(FsRequest* request, FsHandle* handle, void* buffer, uint32_t length,
                uint32_t* count) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  OmfsVolumeGuard guard(request, volume);
  *count = 0;
  const uint64_t size = handle->node->size;
  uint64_t position = handle->position;
  if (position >= size) return fsrc::kEndOfFile;
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  Result result = fsrc::kOk;
  while (done < length && position < size) {
    OmfsMapping mapping;
    if (!MapForTransfer(request, handle, position, &mapping, &result)) break;
    uint64_t piece = std::min<uint64_t>(length - done, size - position);
    if (mapping.left != 0) piece = std::min(piece, mapping.left);
    if (mapping.hole) {
      memset(bytes + done, 0, piece);
    } else {
      result = OmfsReadBytes(request, volume, mapping.address, bytes + done, piece,
                             OmfsNodeOf(handle)->block);
      if (fsrc::Failed(result)) break;
    }
    done += static_cast<uint32_t>(piece);
    position += piece;
  }
  handle->position = position;
  *count = done;
  return result;
}

Result OmfsWrite(FsRequest* request, FsHandle* handle, const void* buffer, uint32_t length,
                 uint32_t* count) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  OmfsVolumeGuard guard(request, volume);
  *count = 0;
  Result result = fsrc::kOk;
  if (!(handle->flags & 0x800)) {
    result = OmfsPop(request, handle, handle->position, length, kNone, 0, 1);
    if (fsrc::Failed(result)) return result;
  }
  if (length == 0) return fsrc::kOk;
  uint64_t position = handle->position;
  if (position > handle->node->size) {
    result = ZeroRange(request, handle, handle->node->size, position);
    if (fsrc::Failed(result)) return result;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    OmfsMapping mapping;
    if (!MapForTransfer(request, handle, position, &mapping, &result)) break;
    if (mapping.hole) {
      result = kWriteIntoHole;
      break;
    }
    uint64_t piece = length - done;
    if (mapping.left != 0) piece = std::min(piece, mapping.left);
    result = OmfsWriteBytes(request, volume, mapping.address, bytes + done, piece,
                            OmfsNodeOf(handle)->block);
    if (fsrc::Failed(result)) break;
    done += static_cast<uint32_t>(piece);
    position += piece;
    handle->position = position;
    if (position > handle->node->size) {
      result = StoreSize(request, handle, position);
      if (fsrc::Failed(result)) break;
    }
  }
  *count = done;
  return result;
}

void OmfsPopRange(uint64_t position, uint64_t length, uint32_t block_size, uint32_t per_unit,
                  bool populate, uint64_t* first, uint64_t* count) {
  *first = 0;
  *count = 0;
  if (length == 0) return;
  // The end saturates: a length of -1 means "to the end of the file".
  const uint64_t end = length > kNone - position ? kNone : position + length;
  uint64_t first_block, last_block;
  if (populate) {
    first_block = position / block_size;
    last_block = (end - 1) / block_size;
  } else {
    first_block = position / block_size + (position % block_size != 0 ? 1 : 0);
    if (end / block_size == 0) return;
    last_block = end / block_size - 1;
    if (last_block < first_block) return;
  }
  uint64_t first_unit, last_unit;
  if (populate) {
    first_unit = first_block / per_unit;
    last_unit = last_block / per_unit;
  } else {
    first_unit = first_block / per_unit + (first_block % per_unit != 0 ? 1 : 0);
    if ((last_block + 1) / per_unit == 0) return;
    last_unit = (last_block + 1) / per_unit - 1;
    if (last_unit < first_unit) return;
  }
  *first = first_unit * per_unit;
  const uint64_t units = last_unit - first_unit + 1;
  *count = units > kNone / per_unit - *first / per_unit ? kNone - *first
                                                        : units * per_unit;
}

namespace {

struct PopWork {
  FsRequest* request;
  OmfsVolume* volume;
  uint64_t node;
  uint64_t size_blocks;  // blocks below the file size
  bool populate;
  uint64_t hint;  // block, kNone: none
};

// Allocates a run for `piece` blocks of a hole or frees an extent's blocks, within one list.
Result PopList(PopWork& work, OmfsList& list, uint64_t base, uint64_t relative, uint64_t count,
               bool* changed, std::vector<OmfsExtent>* freed) {
  OmfsVolume* volume = work.volume;
  uint64_t search = work.hint;
  while (count > 0) {
    uint32_t index = 0;
    uint64_t offset = 0;
    if (!list.Locate(relative, &index, &offset)) return fsrc::kOk;
    const OmfsExtent extent = list.At(index);
    uint64_t piece = std::min(extent.length - offset, count);
    if (work.populate && extent.Hole()) {
      if (search == kNone) {
        search = work.node;
        for (uint32_t i = index; i-- > 0;)
          if (!list.At(i).Hole()) {
            search = list.At(i).start + list.At(i).length - 1;
            break;
          }
      }
      uint64_t run_start = 0, run_length = 0;
      Result found = volume->bitmap.FindRun(piece, search, OmfsBitmap::kWholeUnits, &run_start,
                                            &run_length);
      if (fsrc::Failed(found))
        found = volume->bitmap.FindRun(
            piece, search, OmfsBitmap::kWholeUnits | OmfsBitmap::kShorterRun, &run_start,
            &run_length);
      if (fsrc::Failed(found)) return found;
      run_length = std::min(run_length, piece);
      Result filled = list.Fill(index, offset, run_start, run_length);
      if (fsrc::Failed(filled)) return filled;
      volume->bitmap.SetRun(run_start, run_length);
      *changed = true;
      // New blocks below the file size must read as zeros before the list points at them.
      const uint64_t file_block = base + relative;
      if (file_block < work.size_blocks) {
        Result zeroed = ZeroBlocks(work.request, volume, run_start,
                                   std::min(run_length, work.size_blocks - file_block));
        if (fsrc::Failed(zeroed)) return zeroed;
      }
      piece = run_length;
    } else if (!work.populate && !extent.Hole()) {
      Result punched = list.Punch(index, offset, piece);
      if (fsrc::Failed(punched)) return punched;
      freed->push_back(OmfsExtent{extent.start + offset, piece});
      *changed = true;
    }
    relative += piece;
    count -= piece;
  }
  return fsrc::kOk;
}

Result PopBlocks(PopWork& work, uint64_t first, uint64_t count) {
  OmfsVolume* volume = work.volume;
  const uint64_t end = kNone - first < count ? kNone : first + count;
  return OmfsWalkChain(work.request, volume, work.node, [&](OmfsList& list, uint64_t base) {
    uint64_t covered = 0;
    list.Coverage(base, &covered);
    const uint64_t list_end = base + covered;
    if (end <= base) return kOmfsStopWalk;
    if (first >= list_end) return fsrc::kOk;
    const uint64_t from = std::max(first, base);
    const uint64_t to = std::min(end, list_end);
    bool changed = false;
    std::vector<OmfsExtent> freed;
    Result edited = PopList(work, list, base, from - base, to - from, &changed, &freed);
    if (!changed) return edited;
    Result written = fsrc::kOk;
    if (work.populate) {
      // Allocation: the bitmap first, so that a cut leaves free space marked, never a block
      // that a list holds and the bitmap hands out again.
      written = volume->bitmap.WriteBack(work.request);
      if (!fsrc::Failed(written)) written = list.Write(work.request, volume);
    } else {
      // Freeing: the list first, then the bitmap.
      written = list.Write(work.request, volume);
      if (!fsrc::Failed(written)) {
        for (const OmfsExtent& run : freed) {
          volume->bitmap.ClearRun(run.start, run.length);
          OmfsForgetBlocks(volume, run.start, run.length);
        }
        written = volume->bitmap.WriteBack(work.request);
      }
    }
    if (fsrc::Failed(edited)) return edited;
    if (fsrc::Failed(written)) return written;
    return to == end ? kOmfsStopWalk : fsrc::kOk;
  });
}

}  // namespace

Result OmfsPop(FsRequest* request, FsHandle* handle, uint64_t position, uint64_t length,
               uint64_t hint, uint32_t, uint32_t populate) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  OmfsVolumeGuard guard(request, volume);
  uint64_t first = 0, count = 0;
  OmfsPopRange(position, length, volume->BlockSize(), volume->geometry.blocks_per_unit,
               populate != 0, &first, &count);
  if (count == 0) return fsrc::kOk;
  OmfsNodeState* state = OmfsNodeOf(handle);
  HoldExclusive(request, &state->lock);
  if (!populate) {
    // A smaller size waiting in the node reaches the disk before the blocks past it are
    // freed, so that a cut never leaves the old size over punched holes.
    BlockCacheEntry* entry = nullptr;
    Result result = OmfsReadNode(request, volume, state->block, &entry);
    if (!fsrc::Failed(result) && (BlockCache::GetUserByte(entry) & kChanged))
      result = OmfsWriteMetablock(request, volume, entry);
    if (entry) BlockCache::Release(entry);
    if (fsrc::Failed(result)) {
      ReleaseExclusive(&state->lock);
      return result;
    }
  }
  const uint64_t size = handle->node->size;
  PopWork work = {request,
                  volume,
                  state->block,
                  size / volume->BlockSize() + (size % volume->BlockSize() != 0 ? 1 : 0),
                  populate != 0,
                  hint == kNone ? kNone : hint / volume->BlockSize()};
  Result result = PopBlocks(work, first, count);
  // A full list is repacked and the rest done again; what was done is no longer a hole (or
  // no longer allocated) and is passed over.
  for (int repacks = 0; result == fsrc::kListFull && repacks < 4; ++repacks) {
    result = OmfsRepackExtents(request, volume, state->block);
    if (!fsrc::Failed(result)) result = PopBlocks(work, first, count);
  }
  ReleaseExclusive(&state->lock);
  return result;
}

Result OmfsFlushFile(FsRequest* request, FsHandle* handle) {
  OmfsVolume* volume = OmfsOf(handle->Volume());
  OmfsVolumeGuard guard(request, volume);
  Result result = volume->cache->FlushTag(request, OmfsNodeOf(handle)->block);
  Result bitmap = volume->bitmap.WriteBack(request);
  return fsrc::Failed(result) ? result : bitmap;
}
