// BlockCache: fixed-size blocks of one volume kept in memory between a file-system type and the
// block device. Entries are pinned by a use count, written back when dirty (through an optional
// callback), and reused least recently used first. All device traffic runs under the request
// that caused it; the cache relies on the framework's per-volume admission instead of a lock.
#pragma once

#include <cstdint>
#include <list>
#include <vector>

#include "support/result_codes.h"

class BlockDevice;
class BlockCache;
struct FsRequest;

struct BlockCacheEntry;
// Writes a dirty entry back (for example with its mirror copies); the plain write of the block
// at its position stands in when an entry has none.
typedef Result (*BlockWriteBack)(FsRequest* request, BlockCacheEntry* entry, uint32_t first,
                                 uint32_t second);

struct BlockCacheEntry {
  std::list<BlockCacheEntry*>::iterator link;
  uint64_t position = 0;  // absolute on the device
  uint64_t tag = 0;
  BlockCache* cache = nullptr;
  BlockDevice* device = nullptr;  // null: holds no block
  BlockWriteBack callback = nullptr;
  uint32_t first = 0, second = 0;
  uint8_t* data = nullptr;
  uint16_t use_count = 0;
  uint8_t flags = 0;
  uint8_t user = 0;
};

class BlockCache {
 public:
  static constexpr uint8_t kInIo = 1;
  static constexpr uint8_t kDirty = 2;
  static constexpr uint8_t kError = 4;
  // Get flag: the caller overwrites the whole block, so it is not read.
  static constexpr uint32_t kNoRead = 1;

  static Result Create(BlockCache** out, uint32_t block_size, uint32_t entry_count,
                       uint64_t base, uint64_t volume_size);
  // Dirty data is not written: callers flush first.
  void Destroy();

  Result Get(FsRequest* request, BlockCacheEntry** out, BlockDevice* device, uint64_t offset,
             uint32_t flags, uint64_t tag);
  // Without device I/O: the valid entry of the device with the lowest position that overlaps
  // [offset, offset + length); 0x80820009 when none.
  Result Find(FsRequest* request, BlockCacheEntry** out, BlockDevice* device, uint64_t offset,
              uint64_t length, uint64_t tag);
  static void Hold(BlockCacheEntry* entry) { ++entry->use_count; }
  static void Release(BlockCacheEntry* entry) {
    if (entry->use_count > 0) --entry->use_count;
  }
  static uint8_t* Data(BlockCacheEntry* entry) { return entry->data; }
  uint64_t Offset(const BlockCacheEntry* entry) const { return entry->position - base_; }
  uint32_t BlockSize() const { return block_size_; }
  static void MarkDirty(BlockCacheEntry* entry, BlockWriteBack callback, uint32_t first,
                        uint32_t second);
  static void ClearDirty(BlockCacheEntry* entry) { entry->flags &= ~kDirty; }
  static void MarkBad(BlockCacheEntry* entry);
  // Writes the block at its own position; clears dirty on success.
  Result WriteBack(FsRequest* request, BlockCacheEntry* entry);
  // Writes the block's bytes at another offset of the volume; dirty stays as it is.
  Result WriteCopy(FsRequest* request, BlockCacheEntry* entry, uint64_t offset);
  // Write back every dirty entry (with the tag): repeated while a pass still cleans entries
  // (a write-back may dirty others); the last failure, else 0. A persistent write error ends
  // the flush instead of repeating it.
  Result FlushAll(FsRequest* request);
  Result FlushTag(FsRequest* request, uint64_t tag);
  void SetState(FsRequest* request, uint32_t mask, bool on);
  void WaitState(FsRequest* request, uint32_t mask, bool on);
  static uint8_t GetUserByte(const BlockCacheEntry* entry) { return entry->user; }
  static void SetUserByte(BlockCacheEntry* entry, uint8_t value) { entry->user = value; }

  uint32_t wait_channel() const { return channel_; }
  // Entries from the most recently used (tests).
  const std::list<BlockCacheEntry*>& lru() const { return lru_; }

 private:
  BlockCache() = default;
  ~BlockCache() = default;
  BlockCacheEntry* FindValid(BlockDevice* device, uint64_t position);
  void Touch(BlockCacheEntry* entry);
  void WaitForIo(FsRequest* request, BlockCacheEntry* entry);
  Result ReadBlock(FsRequest* request, BlockCacheEntry* entry);
  Result WriteBlock(FsRequest* request, BlockCacheEntry* entry, uint64_t position,
                    bool clear_dirty);
  Result WriteDirty(FsRequest* request, BlockCacheEntry* entry);
  Result Flush(FsRequest* request, bool all, uint64_t tag);

  uint64_t base_ = 0;
  uint64_t volume_size_ = 0;
  uint32_t block_size_ = 0;
  uint32_t channel_ = 0;
  uint32_t state_ = 0;
  std::list<BlockCacheEntry*> lru_;  // most recently used first
  std::vector<BlockCacheEntry> entries_;
  std::vector<uint8_t> buffer_;
};
