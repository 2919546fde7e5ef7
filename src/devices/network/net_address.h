// An IPv4 endpoint of a network player and its texts: the dotted address and the endpoint URL
// that players announce ("http://a.b.c.d:port/").
#pragma once

#include <cstdint>
#include <string>

struct NetAddress {
  // Network byte order, as it goes into a socket address: the first byte in memory is the
  // first number of the dotted form.
  uint32_t address = 0;
  uint16_t port = 0;  // host order

  // The address of the four numbers a.b.c.d.
  static uint32_t FromBytes(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
  // Byte i (0 to 3) of the dotted form.
  uint8_t Byte(int i) const;
};

// "%lu.%lu.%lu.%lu" of the four address bytes.
std::string FormatIpAddress(uint32_t address);
// "http://%s:%u/" of the dotted address and the port.
std::string FormatEndpointUrl(const NetAddress& endpoint);
// Reads "http://a.b.c.d:port/": four numbers of 0 to 255 and a port of 0 to 65535, each of
// decimal digits only (a host name, a missing number or one out of range fails). What follows
// the port is not looked at.
bool ParseEndpointUrl(const std::string& url, NetAddress* endpoint);
