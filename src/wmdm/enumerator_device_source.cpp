#include "wmdm/enumerator_device_source.h"

#include <memory>
#include <new>

#include "devices/usb/usb_device.h"
#include "devices/usb/win32_usb_hardware.h"

namespace {

// Keeps every player it is handed, in order.
class CollectingSink : public DeviceSink {
 public:
  explicit CollectingSink(std::vector<RefPtr<Device>>* devices) : devices_(devices) {}
  Result OnDevice(Device* device) override {
    try {
      devices_->push_back(device);
    } catch (const std::bad_alloc&) {
      return rc::kOutOfMemory;
    }
    return rc::kOk;
  }

 private:
  std::vector<RefPtr<Device>>* devices_;
};

}  // namespace

EnumeratorDeviceSource::EnumeratorDeviceSource(UsbInterfaceSource* usb,
                                               MassStorageSource* mass_storage, Win32UsbApi* api)
    : api_(api) {
  sources_.usb = usb;
  sources_.mass_storage = mass_storage;
}

Result EnumeratorDeviceSource::Enumerate(uint32_t product_id,
                                         std::vector<RefPtr<Device>>* devices) {
  CollectingSink sink(devices);
  std::unique_ptr<DeviceEnumerator> enumerator(DeviceEnumerator::Create(&sink, sources_));
  if (!enumerator) return rc::kOutOfMemory;
  return enumerator->Enumerate(product_id);
}

Result EnumeratorDeviceSource::OpenUsbPath(const std::string& path, RefPtr<Device>* device) {
  *device = nullptr;
  uint32_t product_id = 0;
  const Result status = ReadUsbProductId(path, &product_id, api_);
  if (rc::Failed(status)) return status;
  UsbHardware* transport = new (std::nothrow) Win32UsbHardware(path, product_id, api_);
  if (transport == nullptr) return rc::kOutOfMemory;
  return UsbDevice::Create(transport, device);
}
