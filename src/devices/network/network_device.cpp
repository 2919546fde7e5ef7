#include "devices/network/network_device.h"

#include "devices/device_enumerator.h"
#include "devices/network/net_endpoint_registry.h"
#include "media/property_set.h"
#include "support/format_string.h"

NetworkDevice::NetworkDevice(const NetAddress& peer, const std::string& service_type,
                             NetEndpointRegistry* registry, const NetworkLink& link)
    : peer_(peer), service_type_(service_type), registry_(registry), link_(link) {}

bool NetworkDevice::SpeaksPlayerProtocol() const {
  return service_type_ == DeviceEnumerator::kNetworkServiceType;
}

int32_t NetworkDevice::GetState() {
  if (registry_ == nullptr || !SpeaksPlayerProtocol()) return kStateReady;
  return registry_->IsOffered(FormatEndpointUrl(peer_), service_type_) ? kStateReady : kStateGone;
}

Result NetworkDevice::OpenChannel(Channel** channel) {
  *channel = nullptr;
  if (!SpeaksPlayerProtocol()) return rc::kNotImplemented;
  return NetworkChannel::Create(peer_, password_, channel, link_);
}

Result NetworkDevice::GetUniqueId(std::string* id) {
  *id = FormatString("%s:%s:%u", service_type_.c_str(), FormatIpAddress(peer_.address).c_str(),
                     static_cast<unsigned>(peer_.port));
  return rc::kOk;
}

Result NetworkDevice::GetCanonicalName(std::string* name) { return GetUniqueId(name); }

Result NetworkDevice::GetProperties(RefPtr<PropertySet>* properties) {
  RefPtr<PropertySet> set;
  Result result = ConnectionProperties("net", &set);
  if (rc::Succeeded(result)) result = set->SetString("net_protocol", "ipv4");
  if (rc::Succeeded(result)) result = set->SetString("ip_address", FormatIpAddress(peer_.address));
  if (rc::Failed(result)) return result;
  *properties = set;
  return rc::kOk;
}

Result NetworkDevice::SetDescription(const std::string& text) {
  password_ = text;
  return rc::kOk;
}

Result NetworkDevice::GetProductId(uint32_t* product_id) {
  *product_id = kProductId;
  return rc::kOk;
}
