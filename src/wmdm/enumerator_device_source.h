// The process's players: the device library's enumerator behind the provider's DeviceSource.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/device_enumerator.h"
#include "wmdm/device_source.h"

class Win32UsbApi;

class EnumeratorDeviceSource : public DeviceSource {
 public:
  // Null arguments stand for the system's own (SetupAPI and the driver, the removable drives
  // that identify as players, the system's Win32 functions, the system's clock); all must
  // outlive the source.
  explicit EnumeratorDeviceSource(UsbInterfaceSource* usb = nullptr,
                                  MassStorageSource* mass_storage = nullptr,
                                  Win32UsbApi* api = nullptr, Clock* clock = nullptr);

  // Lists without the network: the provider has no discovery client.
  Result Enumerate(uint32_t product_id, std::vector<RefPtr<Device>>* devices) override;
  // One enumerator for the whole listing, which walks the drives once.
  Result EnumerateProducts(const std::vector<uint32_t>& product_ids,
                           std::vector<RefPtr<Device>>* devices) override;
  // `path` may be plug and play's name of the player (the interface path, "$" and a number).
  // The product id comes from the driver's device descriptor, so the player's channel class
  // is the one it reports, whatever the path says.
  Result OpenUsbPath(const std::string& path, RefPtr<Device>* device) override;
  Clock* GetClock() override { return clock_; }

 private:
  Win32UsbInterfaceSource system_usb_;
  DeviceEnumerator::Sources sources_;
  Clock* clock_;
};
