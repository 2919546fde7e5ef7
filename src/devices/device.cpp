#include "devices/device.h"

#include <memory>

#include "devices/channel.h"
#include "devices/device_results.h"

int32_t Device::GetState() {
  Channel* opened = nullptr;
  const Result result = OpenChannel(&opened);
  if (rc::Failed(result) || !opened) return result == rc::kWin32Busy ? kStateError : kStateGone;
  std::unique_ptr<Channel> channel(opened);
  return channel->GetState();
}
