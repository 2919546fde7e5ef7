// The operations on whole volumes and devices: MountAll, MountPartitions, UnmountAll,
// GetMount, Format, ReadFormat and Resize, and the volume name.
#include <cstdio>
#include <cstring>

#include "fs/fs_manager.h"
#include "fs/sysnode.h"
#include "platform/ir_block_device.h"
#include "platform/win32_sync.h"
#include "support/byte_order.h"

namespace {

void CopyCut(char* buffer, uint32_t size, const char* text) {
  if (!buffer || size == 0) return;
  size_t length = strlen(text);
  if (length >= size) length = size - 1;
  memcpy(buffer, text, length);
  buffer[length] = '\0';
}

}  // namespace

Result FsFormatVolumeName(char* buffer, uint32_t size, const char* device, uint64_t start,
                          uint64_t length) {
  char name[128];
  snprintf(name, sizeof name, "%.32s@%llX,%llX", device ? device : "",
           static_cast<unsigned long long>(start), static_cast<unsigned long long>(length));
  CopyCut(buffer, size, name);
  return strlen(name) < size ? fsrc::kOk : fsrc::kBufferTooSmall;
}

int FsManager::MountPartitions(const char* device) {
  static const uint32_t kParameters[3] = {12, 0, 0};
  int mounted = 0;
  PartEntry entry;
  for (int32_t index = 0; !fsrc::Failed(ReadPart(&entry, device, index)); ++index) {
    if (entry.type == -1) continue;
    if (!fsrc::Failed(Mount(device, entry.start, entry.length, entry.flags & 1, kParameters,
                            sizeof kParameters)))
      ++mounted;
  }
  return mounted;
}

void FsManager::MountAll() {
  char name[32] = "";
  while (!fsrc::Failed(devices_->Enumerate(name, sizeof name))) {
    BlockDevice* device = nullptr;
    if (fsrc::Failed(devices_->Open(&device, name))) continue;
    uint8_t record[152] = {};
    Result described = devices_->Control(device, 4, record, sizeof record);
    devices_->Close(device);
    uint32_t flags = bytes::Le32(record + 4);
    if (!fsrc::Failed(described) && (flags & 5) == 5 && !(flags & 8)) MountPartitions(name);
  }
}

void FsManager::UnmountAll() {
  // The cursor walks on past a volume that stays mounted (open nodes), so a busy volume
  // cannot hold the walk in place.
  void* cursor = nullptr;
  char device[64];
  uint64_t start = 0, length = 0;
  while (!fsrc::Failed(GetMount(&cursor, device, sizeof device, nullptr, 0, &start, &length,
                                nullptr, nullptr, 0, nullptr)))
    Unmount(device[0] ? device : nullptr, start, length);
}

Result FsManager::GetMount(void** cursor, char* device, uint32_t device_size, char* volume_name,
                           uint32_t volume_size, uint64_t* start, uint64_t* length,
                           uint32_t* flags, void* parameters, uint32_t parameter_size,
                           void* further) {
  if (!cursor) return fsrc::kInvalidArgument;
  static char* const kEnd = reinterpret_cast<char*>(1);
  if (*cursor == kEnd) return fsrc::kNoMoreEntries;
  FsRequestScope scope(scheduler_, "GetMount", 2, nullptr, nullptr);
  win32sync::LocalMutexHold hold(lists_mutex_);
  FsMount* volume = nullptr;
  auto it = volumes_.begin();
  if (*cursor) {
    while (it != volumes_.end() && *it != *cursor) ++it;
  }
  if (it == volumes_.end()) return fsrc::kNoMoreEntries;
  volume = *it;
  ++it;
  *cursor = it == volumes_.end() ? static_cast<void*>(kEnd) : static_cast<void*>(*it);
  char name[64] = "";
  if (volume->device) devices_->GetName(volume->device, name, sizeof name);
  CopyCut(device, device_size, name);
  name[0] = '\0';
  SysnodeEntryName(sysnode_, volume, name, sizeof name);
  CopyCut(volume_name, volume_size, name);
  if (start) *start = volume->start;
  if (length) *length = volume->length;
  if (flags) *flags = volume->flags;
  if (parameters && parameter_size > 0) {
    uint32_t copied = static_cast<uint32_t>(volume->parameters.size());
    if (copied > parameter_size) copied = parameter_size;
    if (copied) memcpy(parameters, volume->parameters.data(), copied);
  }
  return fsrc::kOk;
}

Result FsManager::Format(uint32_t word, const char* device_name, const char* type_name,
                         uint64_t start, uint64_t length, const void* parameters,
                         uint32_t parameter_length, const char* label,
                         const void* description) {
  FsRequestScope scope(scheduler_, "Format", 2, nullptr, nullptr);
  BlockDevice* device = nullptr;
  Result result = OpenDevice(device_name, &device);
  if (fsrc::Failed(result)) return result;
  const FsType* type = nullptr;
  {
    win32sync::LocalMutexHold hold(lists_mutex_);
    if (Overlaps(device, start, length)) result = fsrc::kBusy;
  }
  if (!fsrc::Failed(result)) {
    type = FindType(type_name);
    if (!type) result = fsrc::kNoType;
  }
  if (!fsrc::Failed(result))
    result = type->format(scope.request(), word, device, start, length, parameters,
                          parameter_length, label, description);
  CloseDevice(device);
  return result;
}

Result FsManager::ReadFormat(const char* device_name, uint64_t start, uint64_t* length,
                             char* type_name, uint32_t type_name_size, char* label,
                             void* description, uint32_t* size) {
  FsRequestScope scope(scheduler_, "ReadFormat", 2, nullptr, nullptr);
  BlockDevice* device = nullptr;
  Result result = OpenDevice(device_name, &device);
  if (fsrc::Failed(result)) return result;
  std::list<const FsType*> types;
  {
    win32sync::LocalMutexHold hold(lists_mutex_);
    types = types_;
  }
  result = fsrc::kNoType;
  for (const FsType* type : types) {
    Result answer =
        type->read_format(scope.request(), device, start, length, label, description, size);
    if (!fsrc::Failed(answer)) {
      CopyCut(type_name, type_name_size, type->name);
      result = answer;
      break;
    }
  }
  CloseDevice(device);
  return result;
}

Result FsManager::Resize(const char* device_name, uint64_t start, uint64_t length) {
  FsRequestScope scope(scheduler_, "Resize", 2, nullptr, nullptr);
  BlockDevice* device = nullptr;
  Result result = OpenDevice(device_name, &device);
  if (fsrc::Failed(result)) return result;
  {
    win32sync::LocalMutexHold hold(lists_mutex_);
    if (Overlaps(device, start, length)) result = fsrc::kBusy;
  }
  if (!fsrc::Failed(result)) {
    std::list<const FsType*> types;
    {
      win32sync::LocalMutexHold hold(lists_mutex_);
      types = types_;
    }
    Result remembered = fsrc::kNoType;
    result = remembered;
    for (const FsType* type : types) {
      Result answer = type->resize(scope.request(), device, start, length);
      if (answer == fsrc::kOk) {
        result = answer;
        break;
      }
      if (answer != fsrc::kCorrupt && answer != fsrc::kNotSupported) remembered = answer;
      result = remembered;
    }
  }
  CloseDevice(device);
  return result;
}
