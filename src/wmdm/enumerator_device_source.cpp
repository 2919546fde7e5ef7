#include "wmdm/enumerator_device_source.h"

#include <memory>
#include <new>

#include "devices/mass_storage_snapshot.h"
#include "devices/msc/msc_drive_source.h"
#include "devices/usb/pnp_device_path.h"
#include "devices/usb/usb_device.h"

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
                                               MassStorageSource* mass_storage, Win32UsbApi* api,
                                               Clock* clock)
    : system_usb_(nullptr, api), clock_(clock ? clock : Clock::System()) {
  sources_.usb = usb ? usb : &system_usb_;
  sources_.mass_storage = mass_storage ? mass_storage : SystemMassStorageSource();
}

Result EnumeratorDeviceSource::Enumerate(uint32_t product_id,
                                         std::vector<RefPtr<Device>>* devices) {
  CollectingSink sink(devices);
  std::unique_ptr<DeviceEnumerator> enumerator(DeviceEnumerator::Create(&sink, sources_));
  if (!enumerator) return rc::kOutOfMemory;
  return enumerator->Enumerate(product_id);
}

Result EnumeratorDeviceSource::EnumerateProducts(const std::vector<uint32_t>& product_ids,
                                                 std::vector<RefPtr<Device>>* devices) {
  CollectingSink sink(devices);
  MassStorageSnapshot drives(sources_.mass_storage);
  DeviceEnumerator::Sources sources = sources_;
  sources.mass_storage = &drives;
  std::unique_ptr<DeviceEnumerator> enumerator(DeviceEnumerator::Create(&sink, sources));
  if (!enumerator) return rc::kOutOfMemory;
  for (uint32_t product_id : product_ids) enumerator->Enumerate(product_id);
  return rc::kOk;
}

Result EnumeratorDeviceSource::OpenUsbPath(const std::string& path, RefPtr<Device>* device) {
  *device = nullptr;
  // The enumerator's road names the player by its interface path: so must this one, or the
  // two would hold the player under different cross-process locks.
  const std::string interface_path = InterfacePathOf(path);
  uint32_t product_id = 0;
  const Result status = sources_.usb->ReadProductId(interface_path, &product_id);
  if (rc::Failed(status)) return status;
  UsbHardware* transport = sources_.usb->CreateTransport(interface_path, product_id);
  if (transport == nullptr) return rc::kOutOfMemory;
  return UsbDevice::Create(transport, device);
}
