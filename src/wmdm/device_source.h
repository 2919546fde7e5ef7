// Where the service provider gets its players from. The device library's enumerator (USB
// device interfaces, mass-storage drives) plugs in behind this interface; tests put simulated
// players in its place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/device.h"
#include "support/clock.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"


class DeviceSource {
 public:
  virtual ~DeviceSource() = default;
  // Appends the attached players of one USB product id, in the order they were found.
  virtual Result Enumerate(uint32_t product_id, std::vector<RefPtr<Device>>* devices) = 0;
  // One listing: Enumerate for each id in order. A source may look at the drives once for the
  // whole listing. A failing id leaves the others to be found; always 0.
  virtual Result EnumerateProducts(const std::vector<uint32_t>& product_ids,
                                   std::vector<RefPtr<Device>>* devices);
  // The USB player at a device-interface path (ANSI code page). The transport's failure when
  // the path does not open.
  virtual Result OpenUsbPath(const std::string& path, RefPtr<Device>* device) = 0;
  // The clock on which the provider waits for this source's players.
  virtual Clock* GetClock() { return Clock::System(); }
};

// The process-wide source (never null): by default the device library's enumerator
// (EnumeratorDeviceSource).
DeviceSource* GetDeviceSource();
// Puts `source` in place of the process-wide one (null restores the default) and returns the
// previous one. Not while a provider is enumerating on another thread.
DeviceSource* SetDeviceSourceForTesting(DeviceSource* source);
