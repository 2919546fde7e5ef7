// The exports only the test build of Torvex.dll has: the seams of torvex_test_seams.h.
#include <memory>

#include "wmdm/cmdsp_device.h"
#include "wmdm/device_source.h"
#include "wmdm/enumerator_device_source.h"
#include "wmdm/provider/torvex_test_seams.h"

namespace {
std::unique_ptr<EnumeratorDeviceSource> g_seamed_source;
}  // namespace

extern "C" __declspec(dllexport) void TorvexUseTestSeams(const TorvexTestSeams* seams) {
  std::unique_ptr<EnumeratorDeviceSource> next;
  if (seams) {
    next.reset(new EnumeratorDeviceSource(seams->usb, seams->mass_storage, nullptr, seams->clock));
  }
  SetDeviceSourceForTesting(next.get());
  g_seamed_source = std::move(next);
}

extern "C" __declspec(dllexport) int32_t TorvexBusyCount() { return CMDSPDevice::BusyCount(); }
