#include "fs/block_cache.h"

#include <new>

#include "fs/fs_codes.h"
#include "fs/fs_manager.h"
#include "fs/fs_requests.h"

namespace {
constexpr uint32_t kReadErrorCode = 0x82001D;
constexpr uint32_t kWriteErrorCode = 0x82001E;
}  // namespace

Result BlockCache::Create(BlockCache** out, uint32_t block_size, uint32_t entry_count,
                          uint64_t base, uint64_t volume_size) {
  *out = nullptr;
  BlockCache* cache = new (std::nothrow) BlockCache;
  if (!cache) return fsrc::kOutOfMemory;
  try {
    cache->entries_.resize(entry_count);
    cache->buffer_.resize(size_t{block_size} * entry_count);
  } catch (const std::bad_alloc&) {
    delete cache;
    return fsrc::kOutOfMemory;
  }
  cache->base_ = base;
  cache->volume_size_ = volume_size;
  cache->block_size_ = block_size;
  cache->channel_ = FsNewWaitChannel();
  for (uint32_t i = 0; i < entry_count; ++i) {
    BlockCacheEntry& entry = cache->entries_[i];
    entry.cache = cache;
    entry.data = cache->buffer_.data() + size_t{block_size} * i;
    cache->lru_.push_back(&entry);
    entry.link = std::prev(cache->lru_.end());
  }
  *out = cache;
  return fsrc::kOk;
}

void BlockCache::Destroy() { delete this; }

void BlockCache::Touch(BlockCacheEntry* entry) {
  lru_.splice(lru_.begin(), lru_, entry->link);
}

BlockCacheEntry* BlockCache::FindValid(BlockDevice* device, uint64_t position) {
  for (BlockCacheEntry* entry : lru_)
    if (entry->device == device && entry->position == position && !(entry->flags & kError))
      return entry;
  return nullptr;
}

void BlockCache::WaitForIo(FsRequest* request, BlockCacheEntry* entry) {
  // Only a request that gave up its turn for I/O can leave the flag set for another one.
  while ((entry->flags & kInIo) && request) FsSleep(request, channel_);
}

Result BlockCache::Get(FsRequest* request, BlockCacheEntry** out, BlockDevice* device,
                       uint64_t offset, uint32_t flags, uint64_t tag) {
  *out = nullptr;
  if (offset > volume_size_ || block_size_ > volume_size_ - offset) return fsrc::kOutsideVolume;
  const uint64_t position = base_ + offset;
  // Each wait gives other requests the turn, so the search starts again after it.
  for (uint32_t attempts = 0;; ++attempts) {
    if (BlockCacheEntry* hit = FindValid(device, position)) {
      Hold(hit);
      WaitForIo(request, hit);
      if (hit->device != device || hit->position != position || (hit->flags & kError)) {
        // The read we waited for failed, or the entry went to another block.
        Release(hit);
        continue;
      }
      hit->tag = tag;
      Touch(hit);
      *out = hit;
      return fsrc::kOk;
    }
    BlockCacheEntry* clean = nullptr;
    BlockCacheEntry* dirty = nullptr;
    for (auto it = lru_.rbegin(); it != lru_.rend(); ++it) {
      BlockCacheEntry* entry = *it;
      if (entry->use_count != 0 || (entry->flags & kInIo)) continue;
      if (!(entry->flags & kDirty)) {
        clean = entry;
        break;
      }
      if (!dirty) dirty = entry;
    }
    if (!clean && dirty && attempts <= entries_.size()) {
      // A victim whose write-back fails is not reused: it keeps its data and stays dirty.
      Result written = WriteDirty(request, dirty);
      if (fsrc::Failed(written)) return written;
      continue;
    }
    if (!clean) {
      FsLog(static_cast<uint32_t>(fsrc::kCacheFull), "Cache full");
      return fsrc::kCacheFull;
    }
    Touch(clean);
    clean->device = device;
    clean->position = position;
    clean->tag = tag;
    clean->callback = nullptr;
    clean->first = clean->second = 0;
    clean->user = 0;
    clean->flags &= ~kError;
    clean->use_count = 1;
    if (!(flags & kNoRead)) {
      Result read = ReadBlock(request, clean);
      if (fsrc::Failed(read)) {
        clean->device = nullptr;
        Release(clean);
        return read;
      }
    }
    *out = clean;
    return fsrc::kOk;
  }
}

Result BlockCache::Find(FsRequest* request, BlockCacheEntry** out, BlockDevice* device,
                        uint64_t offset, uint64_t length, uint64_t tag) {
  *out = nullptr;
  const uint64_t first = base_ + offset;
  const uint64_t end = first + length;
  BlockCacheEntry* best = nullptr;
  for (BlockCacheEntry* entry : lru_) {
    if (entry->device != device || (entry->flags & kError)) continue;
    if (entry->position + block_size_ <= first || entry->position >= end) continue;
    if (!best || entry->position < best->position) best = entry;
  }
  if (!best) return fsrc::kCacheIoError;
  Hold(best);
  Touch(best);
  best->tag = tag;
  *out = best;
  return fsrc::kOk;
}

void BlockCache::MarkDirty(BlockCacheEntry* entry, BlockWriteBack callback, uint32_t first,
                           uint32_t second) {
  entry->flags |= kDirty;
  entry->callback = callback;
  entry->first = first;
  entry->second = second;
}

void BlockCache::MarkBad(BlockCacheEntry* entry) {
  entry->flags &= ~kDirty;
  entry->flags |= kError;
}

Result BlockCache::ReadBlock(FsRequest* request, BlockCacheEntry* entry) {
  entry->flags |= kInIo;
  entry->flags &= ~kError;
  Result result = FsBlockRead(request, entry->device, entry->position, entry->data,
                              block_size_, 0);
  entry->flags &= ~kInIo;
  FsWake(channel_);
  if (fsrc::Failed(result)) {
    entry->flags |= kError;
    FsLog(kReadErrorCode, "Cache read error %x at %llx", static_cast<unsigned>(result),
          static_cast<unsigned long long>(entry->position));
    return result;
  }
  return (entry->flags & kError) ? fsrc::kCacheIoError : fsrc::kOk;
}

Result BlockCache::WriteBlock(FsRequest* request, BlockCacheEntry* entry, uint64_t position,
                              bool clear_dirty) {
  WaitForIo(request, entry);
  if (entry->flags & kError) return fsrc::kCacheIoError;
  entry->flags |= kInIo;
  Result result = FsBlockWrite(request, entry->device, position, entry->data, block_size_, 0);
  if (!fsrc::Failed(result) && clear_dirty) entry->flags &= ~kDirty;
  entry->flags &= ~kInIo;
  FsWake(channel_);
  if (fsrc::Failed(result))
    FsLog(kWriteErrorCode, "Cache write error %x at %llx", static_cast<unsigned>(result),
          static_cast<unsigned long long>(position));
  return result;
}

Result BlockCache::WriteBack(FsRequest* request, BlockCacheEntry* entry) {
  return WriteBlock(request, entry, entry->position, true);
}

Result BlockCache::WriteCopy(FsRequest* request, BlockCacheEntry* entry, uint64_t offset) {
  return WriteBlock(request, entry, base_ + offset, false);
}

Result BlockCache::WriteDirty(FsRequest* request, BlockCacheEntry* entry) {
  Hold(entry);
  Result result = entry->callback
                      ? entry->callback(request, entry, entry->first, entry->second)
                      : WriteBack(request, entry);
  Release(entry);
  return result;
}

Result BlockCache::Flush(FsRequest* request, bool all, uint64_t tag) {
  Result last_failure = fsrc::kOk;
  for (;;) {
    std::vector<BlockCacheEntry*> dirty;
    for (BlockCacheEntry* entry : lru_)
      if ((entry->flags & kDirty) && entry->device && (all || entry->tag == tag))
        dirty.push_back(entry);
    if (dirty.empty()) return last_failure;
    bool cleaned = false;
    for (BlockCacheEntry* entry : dirty) {
      if (!(entry->flags & kDirty)) continue;  // written by an earlier write-back
      Result result = WriteDirty(request, entry);
      if (fsrc::Failed(result)) last_failure = result;
      if (!(entry->flags & kDirty)) cleaned = true;
    }
    // A pass that cleaned nothing would repeat for ever against a dead device.
    if (!cleaned) return fsrc::Failed(last_failure) ? last_failure : fsrc::kCacheIoError;
  }
}

Result BlockCache::FlushAll(FsRequest* request) { return Flush(request, true, 0); }

Result BlockCache::FlushTag(FsRequest* request, uint64_t tag) {
  return Flush(request, false, tag);
}

void BlockCache::SetState(FsRequest* request, uint32_t mask, bool on) {
  state_ = on ? (state_ | mask) : (state_ & ~mask);
  FsWake(channel_);
}

void BlockCache::WaitState(FsRequest* request, uint32_t mask, bool on) {
  while (request && (on ? (state_ & mask) != mask : (state_ & mask) != 0))
    FsSleep(request, channel_);
}
