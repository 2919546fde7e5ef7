#include "devices/harddisk/ide_block_device.h"

#include <atomic>
#include <new>

namespace {

std::atomic<uint32_t> g_next_number{0};
constexpr uint32_t kCreationFlags = 0x24;

}  // namespace

IdeBlockDevice::IdeBlockDevice(PlayerDisk* disk, uint32_t number)
    : BlockDevice("IDE", number), disk_(disk) {
  AddStateFlags(kCreationFlags);
}

IdeBlockDevice* IdeBlockDevice::Create(PlayerDisk* disk) {
  return new (std::nothrow) IdeBlockDevice(disk, g_next_number++);
}

std::string IdeBlockDevice::DeviceName() const { return "IDE:" + std::to_string(Number()); }

uint64_t IdeBlockDevice::Capacity() {
  PlayerDiskInfo info;
  return rc::Succeeded(disk_->GetDiskInfo(&info)) ? info.last_block : 0;
}

int IdeBlockDevice::Read(uint64_t start, uint32_t count, void* buffer, uint32_t) {
  if (start > UINT32_MAX || count > INT32_MAX) return device_status::kBadRequest;
  return rc::Succeeded(disk_->ReadSectors(0, static_cast<uint32_t>(start),
                                          static_cast<int32_t>(count), buffer))
             ? device_status::kOk
             : device_status::kIoError;
}

int IdeBlockDevice::Write(uint64_t start, uint32_t count, const void* buffer, uint32_t) {
  if (start > UINT32_MAX || count > INT32_MAX) return device_status::kBadRequest;
  return rc::Succeeded(disk_->WriteSectors(0, static_cast<uint32_t>(start),
                                           static_cast<int32_t>(count), buffer))
             ? device_status::kOk
             : device_status::kIoError;
}
