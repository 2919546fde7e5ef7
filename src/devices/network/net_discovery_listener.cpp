#include "devices/network/net_discovery_listener.h"

#include <new>

#include "devices/network/net_endpoint_registry.h"
#include "devices/network/network_device.h"

NetDiscoveryListener::NetDiscoveryListener(NetEndpointRegistry* registry,
                                           const NetworkLink& link)
    : registry_(registry), link_(link) {}

Result NetDiscoveryListener::FindPlayers(const std::string& service_type,
                                         std::vector<RefPtr<Device>>* players) {
  std::vector<std::string> urls;
  registry_->ListEndpoints(service_type, &urls);
  for (const std::string& url : urls) {
    NetAddress peer;
    if (!ParseEndpointUrl(url, &peer)) continue;
    RefPtr<Device> device(new (std::nothrow) NetworkDevice(peer, service_type, registry_, link_));
    if (!device) return rc::kOutOfMemory;
    players->push_back(device);
  }
  return rc::kOk;
}

Result NetDiscoveryListener::Refresh(DeviceSink* sink) {
  std::vector<RefPtr<Device>> players;
  Result result = FindPlayers(DeviceEnumerator::kNetworkServiceType, &players);
  for (const RefPtr<Device>& player : players) {
    if (rc::Failed(result)) break;
    result = sink->OnDevice(player.Get());
  }
  return result;
}
