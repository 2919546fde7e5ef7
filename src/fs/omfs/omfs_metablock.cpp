// Sealed metablocks: the header with its CRC-16 and XOR byte, the checks of a block read from
// the disk, and reading and writing a metablock with its mirror copies through the cache.
#include <cstring>
#include <vector>

#include "fs/fs_manager.h"
#include "fs/omfs/omfs_volume.h"

namespace omfs {

uint16_t Crc16(const uint8_t* data, uint32_t length) {
  static const struct Table {
    uint16_t entries[256];
    Table() {
      for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        entries[i] = static_cast<uint16_t>(crc);
      }
    }
  } table;
  uint32_t crc = 0;
  for (uint32_t i = 0; i < length; ++i)
    crc = ((crc & 0xFF) << 8) ^ table.entries[((crc >> 8) ^ data[i]) & 0xFF];
  return static_cast<uint16_t>(crc);
}

uint32_t NameHash(const char* name, uint32_t length) {
  uint32_t hash = 0;
  for (uint32_t i = 0; i < length; ++i) {
    int32_t c = static_cast<signed char>(name[i]);
    if (c >= 'A' && c <= 'Z') c += 32;
    hash ^= static_cast<uint32_t>(c) << (i % 24);
  }
  return hash;
}

}  // namespace omfs

using namespace omfs;

namespace {

uint8_t XorOfHeader(const uint8_t* block) {
  uint8_t value = 0;
  for (uint32_t i = 0; i < kHeaderBytes; ++i) value ^= block[i];
  return value;
}

OmfsVolume* VolumeOf(uint32_t low, uint32_t high) {
  return reinterpret_cast<OmfsVolume*>(static_cast<uintptr_t>(uint64_t{high} << 32 | low));
}

Result WriteAllCopies(FsRequest* request, OmfsVolume* volume, BlockCacheEntry* entry) {
  uint8_t* block = BlockCache::Data(entry);
  const uint64_t location = volume->cache->Offset(entry) / volume->BlockSize();
  // A node is written after the file data it describes, so that a cut never leaves a size
  // or an extent pointing at bytes that did not reach the disk.
  if (block[kHeaderType] == kTypeNode) {
    Result flushed = OmfsFlushData(request, volume, entry->tag);
    if (fsrc::Failed(flushed)) return flushed;
  }
  if (BlockCache::GetUserByte(entry) & kChanged) OmfsSeal(block);
  Result result = volume->cache->WriteBack(request, entry);
  if (fsrc::Failed(result)) {
    OMFS_LOG(0x820009, "write err %lx on mirror %d of metablock %llx",
             static_cast<unsigned long>(result), 0, static_cast<unsigned long long>(location));
    return result;
  }
  for (uint32_t i = 1; i < volume->Mirrors(); ++i) {
    Result copy = volume->cache->WriteCopy(request, entry, OmfsBlockOffset(volume, location + i));
    if (fsrc::Failed(copy))
      OMFS_LOG(0x820009, "write err %lx on mirror %d of metablock %llx",
               static_cast<unsigned long>(copy), static_cast<int>(i),
               static_cast<unsigned long long>(location));
  }
  BlockCache::SetUserByte(entry, BlockCache::GetUserByte(entry) & ~kChanged);
  return fsrc::kOk;
}

Result WriteBackCallback(FsRequest* request, BlockCacheEntry* entry, uint32_t low,
                         uint32_t high) {
  return WriteAllCopies(request, VolumeOf(low, high), entry);
}

}  // namespace

uint64_t OmfsBlockOffset(const OmfsVolume* volume, uint64_t block) {
  return block * volume->BlockSize();
}

void OmfsPrepareHeader(uint8_t* block, uint64_t location, uint32_t crc_length, uint8_t type) {
  Put64(block + kHeaderLocation, location);
  Put32(block + kHeaderCrcLength, crc_length);
  block[kHeaderVersion] = kMetaVersion;
  block[kHeaderType] = type;
  block[kHeaderMagic] = kMetaMagic;
}

void OmfsSeal(uint8_t* block) {
  const uint32_t length = Get32(block + kHeaderCrcLength);
  block[14] = block[15] = 0;
  memset(block + kHeaderXor, 0, kHeaderBytes - kHeaderXor);
  bytes::PutBe16(block + kHeaderCrc, Crc16(block + kHeaderBytes, length));
  block[kHeaderXor] = XorOfHeader(block);
}

Result OmfsCheckMetablock(const uint8_t* block, uint64_t expected, uint8_t type,
                          uint32_t metablock_size) {
  if (block[kHeaderMagic] != kMetaMagic) {
    OMFS_LOG(0x820019, "magic %x should be %x", block[kHeaderMagic], kMetaMagic);
    return fsrc::kCorrupt;
  }
  if (block[kHeaderVersion] != kMetaVersion) {
    OMFS_LOG(0x82001B, "version %d should be 1", block[kHeaderVersion]);
    return fsrc::kCorrupt;
  }
  if (Get64(block + kHeaderLocation) != expected) {
    OMFS_LOG(0x820018, "location %llx should be %llx",
             static_cast<unsigned long long>(Get64(block + kHeaderLocation)),
             static_cast<unsigned long long>(expected));
    return fsrc::kCorrupt;
  }
  if (XorOfHeader(block) != 0) {
    OMFS_LOG(0x820017, "checksum %x should be 0", XorOfHeader(block));
    return fsrc::kCorrupt;
  }
  const uint32_t length = Get32(block + kHeaderCrcLength);
  if (length > metablock_size - kHeaderBytes) {
    OMFS_LOG(0x820016, "CRC size %d > max %d", static_cast<int>(length),
             static_cast<int>(metablock_size - kHeaderBytes));
    return fsrc::kCorrupt;
  }
  const uint16_t crc = Crc16(block + kHeaderBytes, length);
  if (crc != bytes::Be16(block + kHeaderCrc)) {
    OMFS_LOG(0x820015, "CRC %x should be %x", bytes::Be16(block + kHeaderCrc), crc);
    return fsrc::kCorrupt;
  }
  if (block[kHeaderType] != type) {
    OMFS_LOG(0x82001A, "type %x should be %x", block[kHeaderType], type);
    return fsrc::kCorrupt;
  }
  return fsrc::kOk;
}

Result OmfsReadMetablock(FsRequest* request, OmfsVolume* volume, uint64_t block, uint8_t type,
                         uint64_t tag, BlockCacheEntry** out) {
  *out = nullptr;
  const uint32_t size = volume->MetaSize();
  const uint32_t mirrors = volume->Mirrors();
  if (block >= volume->Blocks() || mirrors > volume->Blocks() - block) {
    OMFS_LOG(0x82000C, "Block range %llx,%llx is outside volume range 0,%llx",
             static_cast<unsigned long long>(block), static_cast<unsigned long long>(mirrors),
             static_cast<unsigned long long>(volume->Blocks()));
    return fsrc::kCorrupt;
  }
  BlockCacheEntry* entry = nullptr;
  Result result = volume->cache->Get(request, &entry, volume->device,
                                     OmfsBlockOffset(volume, block), BlockCache::kNoRead, tag);
  if (fsrc::Failed(result)) return result;
  uint8_t* data = BlockCache::Data(entry);
  if (BlockCache::GetUserByte(entry) & (kChecked | kChanged)) {
    if (data[kHeaderType] != type) {
      OMFS_LOG(0x82001A, "type %x should be %x", data[kHeaderType], type);
      BlockCache::Release(entry);
      return fsrc::kCorrupt;
    }
    *out = entry;
    return fsrc::kOk;
  }
  std::vector<uint8_t> copies(size_t{size} * mirrors);
  std::vector<bool> good(mirrors, false);
  Result read_failure = fsrc::kOk;
  int reference = -1;
  for (uint32_t i = 0; i < mirrors; ++i) {
    uint8_t* copy = &copies[size_t{size} * i];
    Result read = FsBlockRead(request, volume->device,
                              volume->start + OmfsBlockOffset(volume, block + i), copy, size, 0);
    if (fsrc::Failed(read)) {
      read_failure = read;
      continue;
    }
    if (fsrc::Failed(OmfsCheckMetablock(copy, block, type, size))) continue;
    if (reference < 0) {
      reference = static_cast<int>(i);
      good[i] = true;
    } else if (memcmp(copy, &copies[size_t{size} * reference], size) != 0) {
      OMFS_LOG(0x82000A, "mirror %d of block %llx", static_cast<int>(i),
               static_cast<unsigned long long>(block));
    } else {
      good[i] = true;
    }
  }
  if (reference < 0) {
    OMFS_LOG(0x820005, "read err on block %llx", static_cast<unsigned long long>(block));
    BlockCache::MarkBad(entry);
    BlockCache::Release(entry);
    // Only a block that was read and found damaged is reported as damage.
    return fsrc::Failed(read_failure) ? read_failure : fsrc::kCorrupt;
  }
  memcpy(data, &copies[size_t{size} * reference], size);
  BlockCache::SetUserByte(entry, kChecked);
  for (uint32_t i = 0; i < mirrors; ++i) {
    if (good[i]) continue;
    OMFS_LOG(0x820007, "repair mirror %d of block %llx due to err %lx", static_cast<int>(i),
             static_cast<unsigned long long>(block), static_cast<unsigned long>(fsrc::kCorrupt));
    Result repaired = volume->cache->WriteCopy(request, entry, OmfsBlockOffset(volume, block + i));
    if (fsrc::Failed(repaired))
      OMFS_LOG(0x820013, "cannot repair: err %lx", static_cast<unsigned long>(repaired));
  }
  *out = entry;
  return fsrc::kOk;
}

Result OmfsNewMetablock(FsRequest* request, OmfsVolume* volume, uint64_t block, uint64_t tag,
                        BlockCacheEntry** out) {
  Result result = volume->cache->Get(request, out, volume->device, OmfsBlockOffset(volume, block),
                                     BlockCache::kNoRead, tag);
  if (fsrc::Failed(result)) return result;
  memset(BlockCache::Data(*out), 0, volume->MetaSize());
  BlockCache::SetUserByte(*out, kChecked);
  return fsrc::kOk;
}

void OmfsMarkChanged(OmfsVolume* volume, BlockCacheEntry* entry) {
  BlockCache::SetUserByte(entry, BlockCache::GetUserByte(entry) | kChanged);
  const uint64_t pointer = reinterpret_cast<uintptr_t>(volume);
  BlockCache::MarkDirty(entry, WriteBackCallback, static_cast<uint32_t>(pointer),
                        static_cast<uint32_t>(pointer >> 32));
}

Result OmfsWriteMetablock(FsRequest* request, OmfsVolume* volume, BlockCacheEntry* entry) {
  OmfsMarkChanged(volume, entry);
  return WriteAllCopies(request, volume, entry);
}

void OmfsForgetBlocks(OmfsVolume* volume, uint64_t first, uint64_t count) {
  const uint64_t begin = OmfsBlockOffset(volume, first);
  const uint64_t end = OmfsBlockOffset(volume, first + count);
  for (BlockCacheEntry* entry : volume->cache->lru()) {
    if (entry->device != volume->device) continue;
    const uint64_t offset = volume->cache->Offset(entry);
    if (offset >= begin && offset < end) BlockCache::MarkBad(entry);
  }
}

Result OmfsFlushData(FsRequest* request, OmfsVolume* volume, uint64_t tag) {
  std::vector<BlockCacheEntry*> dirty;
  for (BlockCacheEntry* entry : volume->cache->lru())
    if (entry->device && (entry->flags & BlockCache::kDirty) && !entry->callback &&
        entry->tag == tag)
      dirty.push_back(entry);
  Result result = fsrc::kOk;
  for (BlockCacheEntry* entry : dirty) {
    Result written = volume->cache->WriteBack(request, entry);
    if (fsrc::Failed(written)) result = written;
  }
  return result;
}
