// What a test of the whole provider puts around it while it lives: the provider lists players
// through the real enumerator over `usb`, and uploads keep their temporary copies in a folder
// of the test's own (TMP points there). Both are put back as they were at the end.
#pragma once

#include <string>

#include "devices/device_enumerator.h"
#include "testlib/temp_dir.h"
#include "wmdm/device_source.h"
#include "wmdm/enumerator_device_source.h"

class ProviderEnvironment {
 public:
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
  EnumeratorDeviceSource source_;
  DeviceSource* previous_source_;
};
