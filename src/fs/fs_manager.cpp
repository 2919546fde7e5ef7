#include "fs/fs_manager.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "fs/block_cache.h"
#include "fs/omfs/omfs.h"
#include "fs/sysnode.h"
#include "platform/block_device.h"
#include "platform/ir_block_device.h"
#include "platform/ir_time.h"
#include "platform/platform.h"
#include "platform/sys_log.h"
#include "platform/win32_sync.h"

using namespace win32sync;

namespace {
FsManager* the_manager = nullptr;

Result FirstFailure(Result first, Result next) { return fsrc::Failed(first) ? first : next; }

// A type that offers no FlushFile or SyncVolume has nothing to write.
Result Written(Result result) { return result == fsrc::kNotSupported ? fsrc::kOk : result; }
}  // namespace

FsManager* TheFsManager() { return the_manager; }
void SetTheFsManager(FsManager* manager) { the_manager = manager; }

void FsLog(uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  SysLogWrite("fs", 1, 0, 3, code, format, args);
  va_end(args);
}

FsManager::FsManager(IRPlatform* platform, IRTime* time)
    : platform_(platform),
      time_(time),
      devices_(static_cast<IRBlockDevice*>(platform->GetInterface("IRBlockDevice"))),
      scheduler_(time) {}

FsManager* FsManager::Create(IRPlatform* platform) {
  if (!platform) return nullptr;
  auto* time = static_cast<IRTime*>(platform->GetInterface("IRTime"));
  FsManager* manager = new (std::nothrow) FsManager(platform, time);
  if (!manager) return nullptr;
  if (!manager->devices_) {
    delete manager;
    return nullptr;
  }
  SetTheFsManager(manager);
  manager->AddMod(&kSysnodeType);
  FsRequest request;
  manager->scheduler_.Prepare(&request, "Mount", 2, nullptr, nullptr);
  manager->scheduler_.Admit(&request);
  Result mounted = kSysnodeType.mount(&request, nullptr, 0, 0, 0, nullptr, 0);
  if (!fsrc::Failed(mounted) && !manager->volumes_.empty()) {
    // The name space itself is no volume that Unmount or GetMount could reach.
    manager->sysnode_ = manager->volumes_.back();
    manager->volumes_.pop_back();
  }
  manager->scheduler_.Release(&request);
  if (!manager->sysnode_) {
    delete manager;
    return nullptr;
  }
  manager->AddMod(&kOmfsType);
  return manager;
}

FsManager::~FsManager() {
  FsRequest request;
  scheduler_.Prepare(&request, "Unmount", 2, nullptr, nullptr);
  scheduler_.Admit(&request);
  UnmountMatching(&request, nullptr, 0, 0, true);
  // Volumes whose handles were never closed go as well: nothing may outlive the manager.
  while (!volumes_.empty()) DestroyVolume(&request, volumes_.front());
  if (sysnode_) {
    volumes_.push_back(sysnode_);
    DestroyVolume(&request, sysnode_);
    sysnode_ = nullptr;
  }
  scheduler_.Release(&request);
  if (the_manager == this) the_manager = nullptr;
}

Result FsManager::AddMod(const FsType* type) {
  FsRequest request;
  scheduler_.Prepare(&request, "AddMod", 2, nullptr, nullptr);
  scheduler_.Admit(&request);
  {
    LocalMutexHold hold(lists_mutex_);
    types_.push_back(type);
  }
  scheduler_.Release(&request);
  return fsrc::kOk;
}

const FsType* FsManager::FindType(const char* name) {
  if (!name) return nullptr;
  LocalMutexHold hold(lists_mutex_);
  for (const FsType* type : types_)
    if (FsCompareName(type->name, static_cast<uint32_t>(strlen(type->name)), name,
                      static_cast<uint32_t>(strlen(name))) != 2)
      return type;
  return nullptr;
}

bool FsManager::Overlaps(BlockDevice* device, uint64_t start, uint64_t length) const {
  const int64_t asked_start = static_cast<int64_t>(start);
  const int64_t asked_end = static_cast<int64_t>(start + length);
  for (const FsMount* volume : volumes_) {
    if (!device || volume->device != device) continue;
    const int64_t volume_start = static_cast<int64_t>(volume->start);
    const int64_t volume_end = static_cast<int64_t>(volume->start + volume->length);
    if (volume_end > asked_start && asked_end > volume_start) return true;
  }
  return false;
}

Result FsManager::CreateVolume(FsRequest* request, const char* name, const FsType* type,
                               void* state, BlockDevice* device, uint64_t start,
                               uint64_t length, uint32_t attribute3, BlockCache* cache,
                               uint32_t flags, const void* parameters,
                               uint32_t parameter_length, FsMount** out) {
  if (out) *out = nullptr;
  LocalMutexHold hold(lists_mutex_);
  if (Overlaps(device, start, length)) return fsrc::kBusy;
  FsMount* volume = new (std::nothrow) FsMount;
  if (!volume) return fsrc::kOutOfMemory;
  volume->start = start;
  volume->length = length;
  volume->type = type;
  volume->state = state;
  volume->device = device;
  volume->cache = cache;
  volume->attribute3 = attribute3;
  volume->flags = flags;
  if (parameters && parameter_length > 0) {
    const uint8_t* bytes = static_cast<const uint8_t*>(parameters);
    volume->parameters.assign(bytes, bytes + parameter_length);
  }
  if (name && sysnode_) {
    char device_name[33] = "";
    if (device) devices_->GetName(device, device_name, sizeof device_name);
    char volume_name[80];
    FsFormatVolumeName(volume_name, sizeof volume_name, device_name, start, length);
    Result entered = SysnodeAddEntry(sysnode_, "dev", volume_name, volume, &volume->dev_entry);
    if (!fsrc::Failed(entered))
      entered = SysnodeAddEntry(sysnode_, "root", name, volume, &volume->root_entry);
    if (fsrc::Failed(entered)) {
      if (volume->dev_entry) SysnodeRemoveEntry(sysnode_, volume->dev_entry);
      delete volume;
      return entered;
    }
  }
  volumes_.push_back(volume);
  if (out) *out = volume;
  return fsrc::kOk;
}

Result FsManager::DestroyVolume(FsRequest* request, FsMount* volume) {
  Result result = volume->type->unmount(request, volume);
  {
    LocalMutexHold hold(lists_mutex_);
    if (volume->dev_entry) SysnodeRemoveEntry(sysnode_, volume->dev_entry);
    if (volume->root_entry) SysnodeRemoveEntry(sysnode_, volume->root_entry);
    volume->dev_entry = volume->root_entry = nullptr;
  }
  if (volume->cache) {
    // The final write of the volume: its failure is the caller's to know.
    result = FirstFailure(result, volume->cache->FlushAll(request));
    volume->cache->Destroy();
    volume->cache = nullptr;
  }
  {
    LocalMutexHold hold(lists_mutex_);
    volumes_.remove(volume);
  }
  // The device closes only after the volume's last write.
  if (volume->device) CloseDevice(volume->device);
  delete volume;
  return result;
}

Result FsManager::OpenDevice(const char* name, BlockDevice** device) {
  *device = nullptr;
  if (!name) return fsrc::kInvalidArgument;
  return devices_->Open(device, name);
}

void FsManager::CloseDevice(BlockDevice* device) { devices_->Close(device); }

Result FsManager::AttachHandle(FsMount* volume, uint64_t node_id, uint32_t flags,
                               FsHandle** out, bool* new_node) {
  *out = nullptr;
  FsHandle* handle = new (std::nothrow) FsHandle;
  if (!handle) return fsrc::kOutOfMemory;
  LocalMutexHold hold(lists_mutex_);
  FsNode* node = nullptr;
  for (FsNode* open : volume->nodes)
    if (open->id == node_id) node = open;
  if (new_node) *new_node = node == nullptr;
  if (!node) {
    node = new (std::nothrow) FsNode;
    if (!node) {
      delete handle;
      return fsrc::kOutOfMemory;
    }
    node->id = node_id;
    node->volume = volume;
    volume->nodes.push_back(node);
  }
  ++node->open_count;
  handle->node = node;
  handle->flags = flags;
  *out = handle;
  return fsrc::kOk;
}

Result FsManager::CloseHandle(FsRequest* request, FsHandle* handle) {
  FsNode* node = handle->node;
  const FsType* type = node->volume->type;
  Result result = Written(type->flush_file(request, handle));
  result = FirstFailure(result, type->close_node(request, handle));
  bool last = false;
  {
    LocalMutexHold hold(lists_mutex_);
    last = --node->open_count == 0;
    if (last) node->volume->nodes.remove(node);
  }
  delete handle;
  if (last) {
    result = FirstFailure(result, type->release_node(request, node));
    delete node;
  }
  return result;
}

Result FsManager::EnterVolumeRoot(FsRequest* request, FsHandle** out, FsMount* volume,
                                  uint32_t flags) {
  scheduler_.EnterVolume(request, volume);
  return volume->type->get_root(request, out, volume, flags);
}

Result FsManager::Mount(const char* device_name, uint64_t start, uint64_t length,
                        uint32_t read_only, const void* parameters, uint32_t parameter_length) {
  FsRequest request;
  scheduler_.Prepare(&request, "Mount", 2, nullptr, nullptr);
  scheduler_.Admit(&request);
  BlockDevice* device = nullptr;
  Result result = OpenDevice(device_name, &device);
  if (!fsrc::Failed(result)) {
    std::list<const FsType*> types;
    {
      LocalMutexHold hold(lists_mutex_);
      types = types_;
    }
    Result remembered = fsrc::kNoType;
    result = remembered;
    for (const FsType* type : types) {
      Result answer = type->mount(&request, device, start, length, read_only, parameters,
                                  parameter_length);
      if (answer == fsrc::kOk) {
        result = answer;
        break;
      }
      if (answer != fsrc::kCorrupt && answer != fsrc::kNotSupported) remembered = answer;
      result = remembered;
    }
    // No type took the device: nothing keeps it open.
    if (result != fsrc::kOk) CloseDevice(device);
  }
  scheduler_.Release(&request);
  return result;
}

Result FsManager::UnmountMatching(FsRequest* request, BlockDevice* device, uint64_t start,
                                  uint64_t length, bool any_device) {
  Result result = fsrc::kOk;
  bool unmounted = false;
  std::list<FsMount*> busy;
  for (;;) {
    FsMount* match = nullptr;
    {
      LocalMutexHold hold(lists_mutex_);
      for (FsMount* volume : volumes_) {
        if (!any_device && volume->device != device) continue;
        if ((start != 0 || length != 0) && (volume->start != start || volume->length != length))
          continue;
        bool known_busy = false;
        for (FsMount* b : busy) known_busy |= b == volume;
        if (known_busy) continue;
        if (!volume->nodes.empty()) {
          busy.push_back(volume);
          result = FirstFailure(result, fsrc::kBusy);
          continue;
        }
        match = volume;
        break;
      }
    }
    if (!match) break;
    Result synced = Written(match->type->sync_volume(request, match));
    result = FirstFailure(result, synced);
    result = FirstFailure(result, DestroyVolume(request, match));
    unmounted = true;
  }
  if (!unmounted && !fsrc::Failed(result)) return fsrc::kNothingMatched;
  return result;
}

Result FsManager::Unmount(const char* device_name, uint64_t start, uint64_t length) {
  FsRequest request;
  scheduler_.Prepare(&request, "Unmount", 2, nullptr, nullptr);
  scheduler_.Admit(&request);
  Result result;
  if (!device_name) {
    result = UnmountMatching(&request, nullptr, start, length, true);
  } else {
    BlockDevice* device = nullptr;
    if (fsrc::Failed(OpenDevice(device_name, &device))) {
      result = fsrc::kNothingMatched;
    } else {
      result = UnmountMatching(&request, device, start, length, false);
      CloseDevice(device);
    }
  }
  scheduler_.Release(&request);
  return result;
}

// ---- helpers for the types ---------------------------------------------------------------

Result FsCreateVolume(FsRequest* request, const char* name, const FsType* type, void* state,
                      BlockDevice* device, uint64_t start, uint64_t length, uint32_t attribute3,
                      BlockCache* cache, uint32_t flags, const void* parameters,
                      uint32_t parameter_length, FsMount** out) {
  return TheFsManager()->CreateVolume(request, name, type, state, device, start, length,
                                      attribute3, cache, flags, parameters, parameter_length,
                                      out);
}

Result FsAttachHandle(FsMount* volume, uint64_t node_id, uint32_t flags, FsHandle** out,
                      bool* new_node) {
  return TheFsManager()->AttachHandle(volume, node_id, flags, out, new_node);
}

Result FsCloseHandle(FsRequest* request, FsHandle* handle) {
  return TheFsManager()->CloseHandle(request, handle);
}

Result FsOpenNode(FsRequest* request, FsHandle** out, FsHandle* handle, uint32_t flags) {
  return FsAttachHandle(handle->Volume(), handle->node->id, flags, out, nullptr);
}

void FsEnterVolume(FsRequest* request, FsMount* volume) {
  TheFsManager()->scheduler().EnterVolume(request, volume);
}

Result FsEnterVolumeRoot(FsRequest* request, FsHandle** out, FsMount* volume, uint32_t flags) {
  return TheFsManager()->EnterVolumeRoot(request, out, volume, flags);
}

int FsCompareName(const char* a, uint32_t a_length, const char* b, uint32_t b_length) {
  if (a_length != b_length) return 2;
  if (memcmp(a, b, a_length) == 0) return 0;
  for (uint32_t i = 0; i < a_length; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return 2;
  }
  return 1;
}

const FsType* FsFindType(const char* name) {
  FsManager* manager = TheFsManager();
  return manager ? manager->FindType(name) : nullptr;
}

namespace {

Result Transfer(FsRequest* request, BlockDevice* device, uint64_t position, void* buffer,
                uint32_t length, bool write) {
  if (!device) return fsrc::kInvalidArgument;
  FsManager* manager = TheFsManager();
  uint32_t sector_size = device->SectorSize();
  if (sector_size == 0 || position % sector_size != 0 || length % sector_size != 0)
    return fsrc::kInvalidArgument;
  const uint64_t start = position / sector_size;
  const uint32_t count = length / sector_size;
  if (!manager) {
    int status = write ? device->Write(start, count, buffer, 0)
                       : device->Read(start, count, buffer, 0);
    return DeviceStatusToResult(status);
  }
  FsScheduler& scheduler = manager->scheduler();
  int64_t began = scheduler.Now();
  scheduler.BeginIo(request);
  Result result = write ? manager->devices()->Write(device, start, count, buffer, 0)
                        : manager->devices()->Read(device, start, count, buffer, 0);
  scheduler.EndIo(request, scheduler.Now() - began);
  return result;
}

}  // namespace

Result FsBlockRead(FsRequest* request, BlockDevice* device, uint64_t position, void* buffer,
                   uint32_t length, uint32_t flags) {
  return Transfer(request, device, position, buffer, length, false);
}

Result FsBlockWrite(FsRequest* request, BlockDevice* device, uint64_t position,
                    const void* buffer, uint32_t length, uint32_t flags) {
  return Transfer(request, device, position, const_cast<void*>(buffer), length, true);
}

void FsSleep(FsRequest* request, uint32_t channel) {
  FsManager* manager = TheFsManager();
  if (manager && request) manager->scheduler().Sleep(request, channel);
}

void FsWake(uint32_t channel) {
  FsManager* manager = TheFsManager();
  if (manager) manager->scheduler().Wake(channel);
}
