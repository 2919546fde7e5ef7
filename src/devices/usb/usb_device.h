// A USB player as a Device: it owns the transport found for it but never opens it; every
// channel works on a fresh clone, so the player can be listed while another holder has it.
#pragma once

#include <cstdint>
#include <string>

#include "devices/device.h"

class ChannelFactory;

class UsbDevice : public Device {
 public:
  // A new device owning `transport` (closed), its reference in *out. When memory runs out
  // the transport is deleted and the result is E_OUTOFMEMORY. factory: null for the players'
  // table; must outlive the device.
  static Result Create(UsbHardware* transport, RefPtr<Device>* out,
                       const ChannelFactory* factory = nullptr);

  UsbHardware* GetHardware() override { return transport_; }
  // Clones the transport, opens the clone and builds the channel for the clone's product id.
  // A failed open (or product id) closes and deletes the clone and is returned.
  Result OpenChannel(Channel** channel) override;
  // "QelDeviceUsb:" and the transport's name.
  Result GetUniqueId(std::string* id) override;
  // The device-interface path.
  Result GetCanonicalName(std::string* name) override;
  // "connection_type" = "usb".
  Result GetProperties(RefPtr<PropertySet>* properties) override;
  Result GetProductId(uint32_t* product_id) override;

 private:
  UsbDevice(UsbHardware* transport, const ChannelFactory& factory)
      : transport_(transport), factory_(factory) {}
  ~UsbDevice() override;

  UsbHardware* transport_;
  const ChannelFactory& factory_;
};
