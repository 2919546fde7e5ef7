#include "devices/usb/usb_device.h"

#include <memory>
#include <new>

#include "devices/channel.h"
#include "devices/channel_factory.h"
#include "devices/usb_hardware.h"
#include "media/property_set.h"

namespace {

// Closes before deleting, so no failure path leaves the player held.
struct CloseAndDelete {
  void operator()(UsbHardware* transport) const {
    transport->Close();
    delete transport;
  }
};

}  // namespace

Result UsbDevice::Create(UsbHardware* transport, RefPtr<Device>* out,
                         const ChannelFactory* factory) {
  UsbDevice* device =
      new (std::nothrow) UsbDevice(transport, factory ? *factory : ChannelFactory::Default());
  if (device == nullptr) {
    delete transport;
    *out = nullptr;
    return rc::kOutOfMemory;
  }
  *out = device;
  return rc::kOk;
}

UsbDevice::~UsbDevice() { delete transport_; }

Result UsbDevice::OpenChannel(Channel** channel) {
  *channel = nullptr;
  std::unique_ptr<UsbHardware, CloseAndDelete> clone(transport_->Clone());
  if (!clone) return rc::kOutOfMemory;
  Result result = clone->Open();
  if (rc::Failed(result)) return result;
  uint32_t product_id = 0;
  result = clone->GetProductId(&product_id);
  if (rc::Failed(result)) return result;
  return factory_.Create(product_id, clone.release(), channel);
}

Result UsbDevice::GetUniqueId(std::string* id) {
  std::string name;
  const Result result = transport_->GetName(&name);
  if (rc::Failed(result)) return result;
  *id = "QelDeviceUsb:" + name;
  return rc::kOk;
}

Result UsbDevice::GetCanonicalName(std::string* name) { return transport_->GetPath(name); }

Result UsbDevice::GetProperties(RefPtr<PropertySet>* properties) {
  return ConnectionProperties("usb", properties);
}

Result UsbDevice::GetProductId(uint32_t* product_id) {
  return transport_->GetProductId(product_id);
}
