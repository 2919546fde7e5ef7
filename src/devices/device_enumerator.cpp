#include "devices/device_enumerator.h"

#include <new>

#include "devices/usb/setup_api_binding.h"
#include "devices/usb/usb_device.h"
#include "devices/usb/usb_interface_guids.h"
#include "devices/usb/win32_usb_hardware.h"

namespace {

// The USB players' own product ids (and 1): no drive can be one of them.
bool SkipsMassStorage(uint32_t id) {
  return id == 1 || (id >= 0x5001 && id <= 0x5003) || (id >= 0x5005 && id <= 0x5009) ||
         (id >= 0x500C && id <= 0x5010) || (id >= 0x501C && id <= 0x501F) || id == 0x5202 ||
         id == 0x5210 || id == 0x5220 || id == 0x5221 || id == 0x5801;
}

UsbInterfaceSource& DefaultUsbSource() {
  static Win32UsbInterfaceSource source;
  return source;
}

}  // namespace

// --- sources ----------------------------------------------------------------------------

Win32UsbInterfaceSource::Win32UsbInterfaceSource(const SetupApiBinding* setup_api,
                                                 Win32UsbApi* api)
    : setup_api_(setup_api), api_(api) {}

Result Win32UsbInterfaceSource::EnumerateInterfaces(const GUID* interface_class,
                                                    DevicePathCallback& callback) {
  const SetupApiBinding& binding = setup_api_ ? *setup_api_ : SetupApiBinding::Process();
  return binding.EnumerateInterfaces(interface_class, callback);
}

UsbHardware* Win32UsbInterfaceSource::CreateTransport(const std::string& path,
                                                      uint32_t product_id) {
  return new (std::nothrow) Win32UsbHardware(path, product_id, api_);
}

Result Win32UsbInterfaceSource::ReadProductId(const std::string& path, uint32_t* product_id) {
  return ReadUsbProductId(path, product_id, api_);
}

Result NoMassStorageSource::ListDrives(std::vector<MassStorageDrive>* drives) {
  drives->clear();
  return rc::kOk;
}

// --- enumerator -------------------------------------------------------------------------

// Turns each path of one interface class into a UsbDevice for the sink.
class DeviceEnumerator::PathCallback : public DevicePathCallback {
 public:
  PathCallback(DeviceEnumerator& owner, uint32_t product_id)
      : owner_(owner), product_id_(product_id) {}

  Result OnDevicePath(const std::string& path) override {
    UsbHardware* transport = owner_.usb_->CreateTransport(path, product_id_);
    if (transport == nullptr) return rc::kOutOfMemory;
    RefPtr<Device> device;
    const Result result = UsbDevice::Create(transport, &device);
    return rc::Failed(result) ? result : owner_.HandOver(device.Get());
  }

 private:
  DeviceEnumerator& owner_;
  uint32_t product_id_;
};

DeviceEnumerator* DeviceEnumerator::Create(DeviceSink* sink, NetworkDiscovery* network) {
  Sources sources;
  sources.network = network;
  return Create(sink, sources);
}

DeviceEnumerator* DeviceEnumerator::Create(DeviceSink* sink, const Sources& sources) {
  return new (std::nothrow) DeviceEnumerator(sink, sources);
}

DeviceEnumerator::DeviceEnumerator(DeviceSink* sink, const Sources& sources)
    : sink_(sink),
      usb_(sources.usb ? sources.usb : &DefaultUsbSource()),
      mass_storage_(sources.mass_storage ? sources.mass_storage : &no_drives_),
      network_(sources.network) {}

Result DeviceEnumerator::Enumerate(uint32_t product_id) {
  if (product_id == kAllMassStorage) {
    ScanMassStorage(kAllMassStorage);
    return rc::kOk;
  }
  if (product_id == kAllUsbAndNetwork) {
    EnumerateUsbAll();
  } else {
    EnumerateUsbByProduct(product_id);
    ScanMassStorage(product_id);
  }
  DiscoverNetwork();
  return rc::kOk;
}

Result DeviceEnumerator::EnumerateAll() {
  EnumerateUsbAll();
  ScanMassStorage(kAllMassStorage);
  DiscoverNetwork();
  return rc::kOk;
}

Result DeviceEnumerator::EnumerateUsbByProduct(uint32_t product_id) {
  for (const UsbInterfaceGuidRow& row : UsbInterfaceGuidTable) {
    if (row.product_id != product_id) continue;
    const Result result = EnumerateUsbRow(row.interface_class, row.product_id);
    if (rc::Failed(result)) return result;
  }
  return rc::kOk;
}

Result DeviceEnumerator::EnumerateUsbAll() {
  for (const UsbInterfaceGuidRow& row : UsbInterfaceGuidTable) {
    const Result result = EnumerateUsbRow(row.interface_class, row.product_id);
    if (rc::Failed(result)) return result;
  }
  return rc::kOk;
}

Result DeviceEnumerator::EnumerateUsbRow(const GUID& interface_class, uint32_t product_id) {
  PathCallback callback(*this, product_id);
  return usb_->EnumerateInterfaces(&interface_class, callback);
}

Result DeviceEnumerator::HandOver(Device* device) {
  RefPtr<Device> held(device);
  return sink_->OnDevice(device);
}

void DeviceEnumerator::ScanMassStorage(uint32_t product_id) {
  if (SkipsMassStorage(product_id)) return;
  std::vector<MassStorageDrive> drives;
  if (rc::Failed(mass_storage_->ListDrives(&drives))) return;
  for (const MassStorageDrive& drive : drives) {
    if (product_id != kAllMassStorage && drive.product_id != product_id) continue;
    if (drive.device) HandOver(drive.device.Get());
  }
}

void DeviceEnumerator::DiscoverNetwork() {
  if (network_ == nullptr) return;
  std::vector<RefPtr<Device>> players;
  if (rc::Failed(network_->FindPlayers(kNetworkServiceType, &players))) return;
  for (const RefPtr<Device>& player : players) {
    if (player) HandOver(player.Get());
  }
}
