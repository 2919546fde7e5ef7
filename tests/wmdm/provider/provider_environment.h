// What a test of the whole provider puts around it while it lives: uploads keep their temporary
// copies in a folder of the test's own (TMP points there), and the linked provider lists players
// through the real enumerator over `usb` when one is given. Both are put back at the end.
#pragma once

#include <memory>
#include <string>

#include "devices/device_enumerator.h"
#include "testlib/temp_dir.h"
#include "wmdm/device_source.h"
#include "wmdm/enumerator_device_source.h"

class ProviderEnvironment {
 public:
  // Only the temporary folder: for a provider that gets its players otherwise (through the
  // seams of the registered DLL).
  ProviderEnvironment() : ProviderEnvironment(nullptr) {}
  explicit ProviderEnvironment(UsbInterfaceSource* usb);
  ~ProviderEnvironment();
  ProviderEnvironment(const ProviderEnvironment&) = delete;
  ProviderEnvironment& operator=(const ProviderEnvironment&) = delete;

  // The folder of the temporary copies.
  const TempDir& temp() const { return temp_; }

 private:
  TempDir temp_;
  std::string previous_tmp_;
  bool had_tmp_ = false;
  std::unique_ptr<EnumeratorDeviceSource> source_;
  DeviceSource* previous_source_ = nullptr;
};
