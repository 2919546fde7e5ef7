#include "devices/network/net_address.h"

#include <gtest/gtest.h>

namespace {

TEST(NetAddressTest, EndpointUrls) {
  const struct {
    const char* url;
    bool parses;
    uint8_t bytes[4];
    uint16_t port;
  } cases[] = {
      {"http://10.0.0.5:8300/", true, {10, 0, 0, 5}, 8300},
      {"http://255.255.255.255:65535/", true, {255, 255, 255, 255}, 65535},
      {"http://192.168.1.20:80", true, {192, 168, 1, 20}, 80},
      {"http://player.local:8300/", false, {}, 0},
      {"http://10.0.0:8300/", false, {}, 0},
      {"http://10.0.0.5/", false, {}, 0},
      {"http://10.0.0.256:8300/", false, {}, 0},
      {"http://10.0.0.5:65536/", false, {}, 0},
      {"http://10.0.0.-5:8300/", false, {}, 0},
      {"https://10.0.0.5:8300/", false, {}, 0},
      {"", false, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    NetAddress endpoint;
    ASSERT_EQ(ParseEndpointUrl(c.url, &endpoint), c.parses);
    if (!c.parses) continue;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(endpoint.Byte(i), c.bytes[i]);
    EXPECT_EQ(endpoint.port, c.port);
  }
}

TEST(NetAddressTest, TextsOfAnEndpoint) {
  NetAddress endpoint;
  endpoint.address = NetAddress::FromBytes(10, 0, 0, 5);
  endpoint.port = 8300;
  EXPECT_EQ(FormatIpAddress(endpoint.address), "10.0.0.5");
  EXPECT_EQ(FormatEndpointUrl(endpoint), "http://10.0.0.5:8300/");
  // The first number is the first byte in memory, as the socket address takes it.
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&endpoint.address);
  EXPECT_EQ(bytes[0], 10);
  EXPECT_EQ(bytes[3], 5);
}

}  // namespace
