#include "wmdm/device_source.h"

#include <atomic>

#include "devices/win32_usb_hardware.h"

namespace {

DeviceSource* DefaultSource() {
  static DefaultDeviceSource source;
  return &source;
}

std::atomic<DeviceSource*> g_source{nullptr};

}  // namespace

Result DefaultDeviceSource::Enumerate(uint32_t, std::vector<RefPtr<Device>>*) {
  return rc::kOk;
}

Result DefaultDeviceSource::OpenUsbPath(const std::string& path, RefPtr<Device>* device) {
  uint32_t product_id = 0;
  const Result status = ReadUsbProductId(path, &product_id, api_);
  if (rc::Failed(status)) return status;
  // The device library's USB device over Win32UsbHardware(path, product_id) goes here.
  *device = nullptr;
  return rc::kFail;
}

DeviceSource* GetDeviceSource() {
  DeviceSource* source = g_source.load();
  return source ? source : DefaultSource();
}

DeviceSource* SetDeviceSourceForTesting(DeviceSource* source) {
  DeviceSource* previous = g_source.exchange(source);
  return previous ? previous : DefaultSource();
}
