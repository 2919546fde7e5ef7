// Turns the endpoints that the registry offers for the players' protocol into NetworkDevices,
// as the device enumerator's network source.
#pragma once

#include <string>
#include <vector>

#include "devices/network/network_channel.h"  // first: it brings <winsock2.h>
#include "devices/device_enumerator.h"

class NetEndpointRegistry;

class NetDiscoveryListener : public NetworkDiscovery {
 public:
  // `registry` must outlive the listener and every device it makes.
  explicit NetDiscoveryListener(NetEndpointRegistry* registry,
                                const NetworkLink& link = NetworkLink());

  // A device for every offered endpoint of `service_type` whose URL holds an IPv4 address and
  // a port; other URLs are skipped.
  Result FindPlayers(const std::string& service_type,
                     std::vector<RefPtr<Device>>* players) override;
  // Hands a device for every offered endpoint of the players' protocol to the sink. The first
  // failure of the sink ends the walk and is returned.
  Result Refresh(DeviceSink* sink);

 private:
  NetEndpointRegistry* registry_;
  NetworkLink link_;
};
