// The Device of a player announced on the network: its IPv4 endpoint and service type, and the
// registry that tells whether the announcement still stands. Opening it connects a
// NetworkChannel with the password last set.
#pragma once

#include <cstdint>
#include <string>

#include "devices/device.h"
#include "devices/network/net_address.h"
#include "devices/network/network_channel.h"

class NetEndpointRegistry;

class NetworkDevice : public Device {
 public:
  static constexpr uint32_t kProductId = 0x5210;

  // `registry` (may be null) must outlive the device.
  NetworkDevice(const NetAddress& peer, const std::string& service_type,
                NetEndpointRegistry* registry, const NetworkLink& link = NetworkLink());

  UsbHardware* GetHardware() override { return nullptr; }
  // kStateReady unless the registry no longer offers the endpoint of our protocol.
  int32_t GetState() override;
  // rc::kNotImplemented for a service type other than the players' protocol.
  Result OpenChannel(Channel** channel) override;
  // "<service type>:<dotted address>:<port>", also the canonical name.
  Result GetUniqueId(std::string* id) override;
  Result GetCanonicalName(std::string* name) override;
  // "connection_type" "net", "net_protocol" "ipv4", "ip_address".
  Result GetProperties(RefPtr<PropertySet>* properties) override;
  // The password of the next channel open.
  Result SetDescription(const std::string& text) override;
  Result GetProductId(uint32_t* product_id) override;

  const NetAddress& peer() const { return peer_; }

 private:
  bool SpeaksPlayerProtocol() const;

  NetAddress peer_;
  std::string service_type_;
  NetEndpointRegistry* registry_;
  NetworkLink link_;
  std::string password_;
};
