#include "devices/device.h"

#include <memory>

#include "devices/channel.h"
#include "devices/device_results.h"
#include "media/property_set.h"

Result Device::ConnectionProperties(const char* connection_type,
                                    RefPtr<PropertySet>* properties) {
  RefPtr<PropertySet> set;
  Result result = PropertySet::Create(&set);
  if (rc::Succeeded(result)) result = set->AddNew();
  if (rc::Succeeded(result)) result = set->SetString("connection_type", connection_type);
  if (rc::Failed(result)) return result;
  *properties = set;
  return rc::kOk;
}

int32_t Device::GetState() {
  Channel* opened = nullptr;
  const Result result = OpenChannel(&opened);
  if (rc::Failed(result) || !opened) return result == rc::kWin32Busy ? kStateError : kStateGone;
  std::unique_ptr<Channel> channel(opened);
  return channel->GetState();
}
