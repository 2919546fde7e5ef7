#include "tiny_fs.h"

#include <cstring>
#include <string>

#include "fs/block_cache.h"
#include "fs/fs_manager.h"
#include "platform/block_device.h"
#include "support/byte_order.h"
#include "testlib/test_block_device.h"

std::function<void(const char* label)> tiny_fs_hook;

namespace {

constexpr uint64_t kRootId = 1;
constexpr uint64_t kDataId = 2;

struct TinyVolume {
  std::string label;
};

TinyVolume* StateOf(FsMount* volume) { return static_cast<TinyVolume*>(volume->state); }

void CallHook(FsMount* volume) {
  if (tiny_fs_hook) tiny_fs_hook(StateOf(volume)->label.c_str());
}

Result GetBlock(FsRequest* request, FsMount* volume, uint64_t block, uint32_t flags,
                BlockCacheEntry** entry) {
  return volume->cache->Get(request, entry, volume->device, block * kTinyBlockSize, flags, 0);
}

Result Attach(FsMount* volume, uint64_t id, uint32_t flags, FsHandle** out) {
  bool fresh = false;
  Result result = FsAttachHandle(volume, id, flags, out, &fresh);
  if (fsrc::Failed(result)) return result;
  (*out)->node->kind = id == kRootId ? fs_node::kDirectory : fs_node::kFile;
  return fsrc::kOk;
}

Result Mount(FsRequest* request, BlockDevice* device, uint64_t start, uint64_t length,
             uint32_t read_only, const void* parameters, uint32_t parameter_length) {
  if (!device) return fsrc::kCorrupt;
  uint64_t device_size = device->Capacity() * device->SectorSize();
  if (start >= device_size) return fsrc::kCorrupt;
  if (length == 0) length = device_size - start;
  BlockCache* cache = nullptr;
  Result result = BlockCache::Create(&cache, kTinyBlockSize, kTinyCacheEntries, start, length);
  if (fsrc::Failed(result)) return result;
  BlockCacheEntry* entry = nullptr;
  result = cache->Get(request, &entry, device, 0, 0, 0);
  if (fsrc::Failed(result)) {
    cache->Destroy();
    return result;
  }
  const uint8_t* block = BlockCache::Data(entry);
  bool tiny = memcmp(block, "TINY", 4) == 0;
  std::string label(reinterpret_cast<const char*>(block) + 16,
                    strnlen(reinterpret_cast<const char*>(block) + 16, 32));
  BlockCache::Release(entry);
  if (!tiny) {
    cache->Destroy();
    return fsrc::kCorrupt;
  }
  TinyVolume* state = new TinyVolume{label};
  FsMount* volume = nullptr;
  result = FsCreateVolume(request, label.c_str(), &kTinyFsType, state, device, start, length,
                          kTinyBlockSize, cache, read_only ? 1 : 0, parameters,
                          parameter_length, &volume);
  if (fsrc::Failed(result)) {
    cache->Destroy();
    delete state;
  }
  return result;
}

Result Unmount(FsRequest*, FsMount* volume) {
  delete StateOf(volume);
  volume->state = nullptr;
  return fsrc::kOk;
}

Result GetRoot(FsRequest*, FsHandle** out, FsMount* volume, uint32_t flags) {
  return Attach(volume, kRootId, flags, out);
}

Result Lookup(FsRequest* request, FsHandle** out, const char* name, uint32_t length,
              FsHandle* directory, uint32_t flags) {
  if (length == 2 && memcmp(name, "..", 2) == 0) return fsrc::kLeavesVolume;
  int compared = FsCompareName(name, length, "data", 4);
  if (compared == 2 || (compared == 1 && (flags & fs_open::kExactCase))) return fsrc::kNotFound;
  FsMount* volume = directory->Volume();
  BlockCacheEntry* entry = nullptr;
  Result result = GetBlock(request, volume, 0, 0, &entry);
  if (fsrc::Failed(result)) return result;
  uint32_t size = bytes::Le32(BlockCache::Data(entry) + 4);
  BlockCache::Release(entry);
  result = Attach(volume, kDataId, flags, out);
  if (!fsrc::Failed(result)) (*out)->node->size = size;
  return result;
}

Result ReadDir(FsRequest*, FsHandle* handle, char* buffer, uint32_t size) {
  if (handle->position > 0) return fsrc::kNoMoreEntries;
  if (size < 5) return fsrc::kBufferTooSmall;
  memcpy(buffer, "data", 5);
  ++handle->position;
  return fsrc::kOk;
}

Result RewindDir(FsRequest*, FsHandle* handle) {
  handle->position = 0;
  return fsrc::kOk;
}

// Copies between the buffer and the file's blocks from the handle's position.
Result CopyBlocks(FsRequest* request, FsHandle* handle, uint8_t* bytes, uint32_t length,
                  bool write) {
  FsMount* volume = handle->Volume();
  uint32_t done = 0;
  while (done < length) {
    uint64_t position = handle->position + done;
    uint32_t offset = static_cast<uint32_t>(position % kTinyBlockSize);
    uint32_t piece = kTinyBlockSize - offset;
    if (piece > length - done) piece = length - done;
    BlockCacheEntry* entry = nullptr;
    uint32_t flags = write && piece == kTinyBlockSize ? BlockCache::kNoRead : 0;
    Result result = GetBlock(request, volume, 1 + position / kTinyBlockSize, flags, &entry);
    if (fsrc::Failed(result)) return result;
    uint8_t* block = BlockCache::Data(entry) + offset;
    if (write) {
      memcpy(block, bytes + done, piece);
      BlockCache::MarkDirty(entry, nullptr, 0, 0);
    } else {
      memcpy(bytes + done, block, piece);
    }
    BlockCache::Release(entry);
    done += piece;
  }
  handle->position += done;
  return fsrc::kOk;
}

Result Read(FsRequest* request, FsHandle* handle, void* buffer, uint32_t length,
            uint32_t* count) {
  CallHook(handle->Volume());
  uint64_t size = handle->node->size;
  if (handle->position >= size) return length ? fsrc::kEndOfFile : fsrc::kOk;
  if (length > size - handle->position) length = static_cast<uint32_t>(size - handle->position);
  Result result = CopyBlocks(request, handle, static_cast<uint8_t*>(buffer), length, false);
  if (!fsrc::Failed(result)) *count = length;
  return result;
}

Result Write(FsRequest* request, FsHandle* handle, const void* buffer, uint32_t length,
             uint32_t* count) {
  FsMount* volume = handle->Volume();
  CallHook(volume);
  Result result = CopyBlocks(request, handle,
                             static_cast<uint8_t*>(const_cast<void*>(buffer)), length, true);
  if (fsrc::Failed(result)) return result;
  *count = length;
  if (handle->position > handle->node->size) {
    handle->node->size = handle->position;
    BlockCacheEntry* entry = nullptr;
    result = GetBlock(request, volume, 0, 0, &entry);
    if (fsrc::Failed(result)) return result;
    bytes::PutLe32(BlockCache::Data(entry) + 4, static_cast<uint32_t>(handle->node->size));
    BlockCache::MarkDirty(entry, nullptr, 0, 0);
    BlockCache::Release(entry);
  }
  return fsrc::kOk;
}

Result SetLabel(FsRequest* request, FsMount* volume, const char* text, uint32_t length) {
  BlockCacheEntry* entry = nullptr;
  Result result = GetBlock(request, volume, 0, 0, &entry);
  if (fsrc::Failed(result)) return result;
  uint8_t* block = BlockCache::Data(entry);
  memset(block + 16, 0, 32);
  memcpy(block + 16, text, length < 31 ? length : 31);
  BlockCache::MarkDirty(entry, nullptr, 0, 0);
  BlockCache::Release(entry);
  StateOf(volume)->label.assign(text, length);
  return fsrc::kOk;
}

Result FlushAll(FsRequest* request, FsHandle* handle) {
  return handle->Volume()->cache->FlushAll(request);
}

Result Sync(FsRequest* request, FsMount* volume) { return volume->cache->FlushAll(request); }

// A read is estimated at 100 ms a byte, so that tests can tell costs apart.
uint64_t ReadCost(FsRequest*, FsHandle*, FsMount*, uint64_t length, uint64_t) {
  return length * kTinyReadCostPerByte;
}

}  // namespace

const FsType kTinyFsType = {
    1,           "TinyFs",      GetRoot,       Lookup,        FsOpenNode,    FsNothingToDo,
    FsUnsupported, FsUnsupported, FsUnsupported, SetLabel,      FsUnsupported, Read,
    Write,       FsUnsupported, ReadDir,       RewindDir,     FsUnsupported, FlushAll,
    Sync,        Mount,         FsNothingToDo, Unmount,       FsUnsupported, FsUnsupported,
    FsUnsupported, FsUnsupported,
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, ReadCost},
    nullptr,  // no replacing rename
};

TestBlockDevice* TinyDisk(std::initializer_list<const char*> labels) {
  TestBlockDevice* disk = TestBlockDevice::InMemory("DISK", 0, 512, 512);
  uint64_t start = 0;
  for (const char* label : labels) {
    FormatTinyFs(disk, start, label);
    start += kTinyVolumeBytes;
  }
  return disk;
}

void FormatTinyFs(TestBlockDevice* device, uint64_t start, const char* label) {
  uint8_t block[kTinyBlockSize] = {};
  memcpy(block, "TINY", 4);
  memcpy(block + 16, label, strlen(label) < 31 ? strlen(label) : 31);
  device->Poke(start, block, sizeof block);
}
