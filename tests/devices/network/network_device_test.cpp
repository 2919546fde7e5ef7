// The endpoint registry, the network device and the discovery listener, and through the device
// enumerator, a network player found from an announcement and opened.
#include "devices/network/network_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/channel.h"
#include "devices/device_enumerator.h"
#include "devices/device_results.h"
#include "devices/network/net_discovery_listener.h"
#include "devices/network/net_endpoint_registry.h"
#include "devices/time_of_day.h"
#include "media/property_set.h"
#include "sim/network/sim_network_player.h"
#include "testlib/fake_usb_interface_source.h"

#include "network_login_digests.inc"

namespace {

const char kPlayers[] = "urn:velto-com:protocol2";

TimeVal SecondsFromNow(int32_t seconds) {
  TimeVal when = GetTimeOfDay();
  when.seconds += seconds;
  return when;
}

NetAddress Endpoint(uint8_t last, uint16_t port) {
  NetAddress endpoint;
  endpoint.address = NetAddress::FromBytes(10, 0, 0, last);
  endpoint.port = port;
  return endpoint;
}

class CollectingSink : public DeviceSink {
 public:
  Result OnDevice(Device* device) override {
    devices.emplace_back(device);
    return answer;
  }
  std::vector<RefPtr<Device>> devices;
  Result answer = rc::kOk;
};

TEST(NetEndpointRegistryTest, OffersLastUntilTheirExpiry) {
  NetEndpointRegistry registry;
  registry.Offer(kPlayers, "http://10.0.0.5:8300/", SecondsFromNow(60));
  registry.Offer(kPlayers, "http://10.0.0.6:8300/", SecondsFromNow(-1));
  registry.Offer(kPlayers, "http://10.0.0.7:8300/", SecondsFromNow(60));
  registry.Offer("urn:other", "http://10.0.0.8:8300/", SecondsFromNow(60));
  EXPECT_TRUE(registry.IsOffered("http://10.0.0.5:8300/", kPlayers));
  EXPECT_FALSE(registry.IsOffered("http://10.0.0.6:8300/", kPlayers));
  EXPECT_FALSE(registry.IsOffered("http://10.0.0.8:8300/", kPlayers));
  EXPECT_FALSE(registry.IsOffered("http://10.0.0.5:8300/", "urn:unknown"));
  std::vector<std::string> urls = {"stale"};
  registry.ListEndpoints(kPlayers, &urls);
  EXPECT_EQ(urls, (std::vector<std::string>{"http://10.0.0.5:8300/", "http://10.0.0.7:8300/"}));

  // A renewed announcement moves the expiry, in either direction.
  registry.Offer(kPlayers, "http://10.0.0.6:8300/", SecondsFromNow(60));
  registry.Offer(kPlayers, "http://10.0.0.5:8300/", SecondsFromNow(-1));
  registry.ListEndpoints(kPlayers, &urls);
  EXPECT_EQ(urls, (std::vector<std::string>{"http://10.0.0.6:8300/", "http://10.0.0.7:8300/"}));
  registry.ListEndpoints("urn:unknown", &urls);
  EXPECT_TRUE(urls.empty());
}

TEST(NetworkDeviceTest, NamesAndProperties) {
  RefPtr<NetworkDevice> device(new NetworkDevice(Endpoint(5, 8300), kPlayers, nullptr));
  std::string id, name;
  EXPECT_EQ(device->GetUniqueId(&id), rc::kOk);
  EXPECT_EQ(id, "urn:velto-com:protocol2:10.0.0.5:8300");
  EXPECT_EQ(device->GetCanonicalName(&name), rc::kOk);
  EXPECT_EQ(name, id);
  RefPtr<PropertySet> properties;
  ASSERT_EQ(device->GetProperties(&properties), rc::kOk);
  EXPECT_EQ(properties->GetString("connection_type"), "net");
  EXPECT_EQ(properties->GetString("net_protocol"), "ipv4");
  EXPECT_EQ(properties->GetString("ip_address"), "10.0.0.5");
  uint32_t product = 0;
  EXPECT_EQ(device->GetProductId(&product), rc::kOk);
  EXPECT_EQ(product, 0x5210u);
  EXPECT_EQ(device->GetHardware(), nullptr);
}

TEST(NetworkDeviceTest, StateFollowsTheAnnouncement) {
  NetEndpointRegistry registry;
  registry.Offer(kPlayers, "http://10.0.0.5:8300/", SecondsFromNow(60));
  registry.Offer(kPlayers, "http://10.0.0.6:8300/", SecondsFromNow(-1));
  const struct {
    NetAddress endpoint;
    const char* type;
    NetEndpointRegistry* registry;
    int32_t state;
  } cases[] = {
      {Endpoint(5, 8300), kPlayers, &registry, kStateReady},
      {Endpoint(6, 8300), kPlayers, &registry, kStateGone},
      {Endpoint(5, 8301), kPlayers, &registry, kStateGone},
      {Endpoint(6, 8300), kPlayers, nullptr, kStateReady},
      {Endpoint(6, 8300), "urn:other", &registry, kStateReady},
  };
  for (const auto& c : cases) {
    RefPtr<NetworkDevice> device(new NetworkDevice(c.endpoint, c.type, c.registry));
    EXPECT_EQ(device->GetState(), c.state) << FormatEndpointUrl(c.endpoint) << " " << c.type;
  }
}

TEST(NetworkDeviceTest, OnlyThePlayersProtocolOpens) {
  RefPtr<NetworkDevice> device(new NetworkDevice(Endpoint(5, 8300), "urn:other", nullptr));
  Channel* channel = reinterpret_cast<Channel*>(1);
  EXPECT_EQ(device->OpenChannel(&channel), rc::kNotImplemented);
  EXPECT_EQ(channel, nullptr);
}

TEST(NetworkDeviceTest, OpensWithThePasswordLastSet) {
  SimNetworkPlayer::Settings settings;
  std::memcpy(settings.challenge, kLoginChallenge, sizeof kLoginChallenge);
  settings.accepted_response.assign(reinterpret_cast<const char*>(kLoginCases[2].response), 16);
  SimNetworkPlayer player(settings);
  RefPtr<NetworkDevice> device(new NetworkDevice(player.address(), kPlayers, nullptr));
  Channel* channel = nullptr;
  EXPECT_EQ(device->SetDescription(kLoginCases[1].password), rc::kOk);
  EXPECT_EQ(device->OpenChannel(&channel), rc::kAccessDenied);
  EXPECT_EQ(channel, nullptr);
  EXPECT_EQ(device->SetDescription(kLoginCases[2].password), rc::kOk);
  ASSERT_EQ(device->OpenChannel(&channel), rc::kOk);
  std::unique_ptr<Channel> open(channel);
  EXPECT_EQ(open->GetState(), kStateReady);
  EXPECT_TRUE(player.logged_in());
  EXPECT_TRUE(player.violations().empty());
}

TEST(NetDiscoveryListenerTest, RefreshMakesADeviceOfEveryUsableEndpoint) {
  NetEndpointRegistry registry;
  registry.Offer(kPlayers, "http://10.0.0.5:8300/", SecondsFromNow(60));
  registry.Offer(kPlayers, "http://player.local:8300/", SecondsFromNow(60));
  registry.Offer(kPlayers, "http://10.0.0.6:8300/", SecondsFromNow(-1));
  registry.Offer(kPlayers, "http://10.0.0.9:9000/", SecondsFromNow(60));
  registry.Offer("urn:other", "http://10.0.0.7:8300/", SecondsFromNow(60));
  NetDiscoveryListener listener(&registry);
  CollectingSink sink;
  EXPECT_EQ(listener.Refresh(&sink), rc::kOk);
  std::vector<std::string> ids;
  for (const RefPtr<Device>& device : sink.devices) {
    std::string id;
    device->GetUniqueId(&id);
    ids.push_back(id);
    EXPECT_EQ(device->GetState(), kStateReady);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"urn:velto-com:protocol2:10.0.0.5:8300",
                                           "urn:velto-com:protocol2:10.0.0.9:9000"}));

  CollectingSink refusing;
  refusing.answer = rc::kFail;
  EXPECT_EQ(listener.Refresh(&refusing), rc::kFail);
  EXPECT_EQ(refusing.devices.size(), 1u);
}

TEST(NetDiscoveryListenerTest, EnumeratorReportsAnAnnouncedPlayerThatOpens) {
  SimNetworkPlayer player;
  NetEndpointRegistry registry;
  registry.Offer(kPlayers, FormatEndpointUrl(player.address()), SecondsFromNow(60));
  NetDiscoveryListener listener(&registry);
  FakeUsbInterfaceSource usb(std::make_shared<TransportCounts>());
  NoMassStorageSource drives;
  CollectingSink sink;
  DeviceEnumerator::Sources sources;
  sources.usb = &usb;
  sources.mass_storage = &drives;
  sources.network = &listener;
  std::unique_ptr<DeviceEnumerator> enumerator(DeviceEnumerator::Create(&sink, sources));
  ASSERT_EQ(enumerator->EnumerateAll(), rc::kOk);
  ASSERT_EQ(sink.devices.size(), 1u);
  Channel* channel = nullptr;
  ASSERT_EQ(sink.devices[0]->OpenChannel(&channel), rc::kOk);
  std::unique_ptr<Channel> open(channel);
  uint32_t id = 0;
  EXPECT_EQ(open->GetDeviceID(&id), rc::kOk);
  EXPECT_EQ(id, 0x5210u);
  EXPECT_TRUE(player.violations().empty());
}

}  // namespace
