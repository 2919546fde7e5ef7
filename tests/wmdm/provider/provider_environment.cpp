#include "wmdm/provider/provider_environment.h"

#include <windows.h>

ProviderEnvironment::ProviderEnvironment(UsbInterfaceSource* usb) {
  if (usb) {
    source_.reset(new EnumeratorDeviceSource(usb));
    previous_source_ = SetDeviceSourceForTesting(source_.get());
  }
  char previous[MAX_PATH + 1];
  const DWORD length = GetEnvironmentVariableA("TMP", previous, sizeof previous);
  had_tmp_ = length > 0 && length < sizeof previous;
  if (had_tmp_) previous_tmp_ = previous;
  SetEnvironmentVariableA("TMP", temp_.Path().c_str());
}

ProviderEnvironment::~ProviderEnvironment() {
  if (source_) SetDeviceSourceForTesting(previous_source_);
  SetEnvironmentVariableA("TMP", had_tmp_ ? previous_tmp_.c_str() : nullptr);
}
