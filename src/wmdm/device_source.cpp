#include "wmdm/device_source.h"

#include <atomic>

#include "wmdm/enumerator_device_source.h"

namespace {

DeviceSource* DefaultSource() {
  static EnumeratorDeviceSource source;
  return &source;
}

std::atomic<DeviceSource*> g_source{nullptr};

}  // namespace

DeviceSource* GetDeviceSource() {
  DeviceSource* source = g_source.load();
  return source ? source : DefaultSource();
}

DeviceSource* SetDeviceSourceForTesting(DeviceSource* source) {
  DeviceSource* previous = g_source.exchange(source);
  return previous ? previous : DefaultSource();
}

Result DeviceSource::EnumerateProducts(const std::vector<uint32_t>& product_ids,
                                       std::vector<RefPtr<Device>>* devices) {
  for (uint32_t product_id : product_ids) Enumerate(product_id, devices);
  return rc::kOk;
}
