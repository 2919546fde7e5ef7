#include "platform/block_device.h"

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform_codes.h"
#include "support/assertions.h"
#include "support/registered_lock.h"

namespace {

// Keyed by number and name: the players' disks and the virtual disks are numbered apart.
typedef std::pair<uint32_t, std::string> DeviceKey;

struct Registry {
  RegisteredLock lock{"BlockDeviceRegistry"};
  std::map<DeviceKey, BlockDevice*> devices;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

Result DeviceStatusToResult(int status) {
  switch (status) {
    case device_status::kOk: return prc::kOk;
    case device_status::kBadRequest: return prc::kDeviceStatus2;
    case device_status::kNoMemory: return prc::kOutOfMemory;
    case device_status::kBufferTooSmall: return prc::kDeviceBufferTooSmall;
    case device_status::kNotReady: return prc::kDeviceStatus5;
    case device_status::kIoError: return prc::kDeviceIoError;
    default: return prc::kDeviceFailed;
  }
}

BlockDevice::BlockDevice(const char* name, uint32_t number) : name_(name), number_(number) {
  Registry& registry = TheRegistry();
  ScopedEnter<RegisteredLock> hold(registry.lock);
  bool added = registry.devices.emplace(DeviceKey(number, name), this).second;
  TORVEX_ASSERT(added);
}

BlockDevice::~BlockDevice() {
  Registry& registry = TheRegistry();
  ScopedEnter<RegisteredLock> hold(registry.lock);
  registry.devices.erase(DeviceKey(number_, name_));
}

uint32_t BlockDeviceCount() {
  Registry& registry = TheRegistry();
  ScopedEnter<RegisteredLock> hold(registry.lock);
  return static_cast<uint32_t>(registry.devices.size());
}

BlockDevice* BlockDeviceAt(uint32_t index) {
  Registry& registry = TheRegistry();
  ScopedEnter<RegisteredLock> hold(registry.lock);
  if (index >= registry.devices.size()) return nullptr;
  auto it = registry.devices.begin();
  std::advance(it, index);
  return it->second;
}

void DestroyAllBlockDevices() {
  for (;;) {
    BlockDevice* device = BlockDeviceAt(0);
    if (!device) break;
    device->Destroy();
  }
}
