#include "devices/network/net_address.h"

#include <cstring>

#include "support/format_string.h"

namespace {

// Reads decimal digits at *cursor up to `maximum`; false when there are none or too many.
bool ReadNumber(const char** cursor, uint32_t maximum, uint32_t* value) {
  const char* p = *cursor;
  uint32_t number = 0;
  while (*p >= '0' && *p <= '9') {
    number = number * 10 + static_cast<uint32_t>(*p - '0');
    if (number > maximum) return false;
    ++p;
  }
  if (p == *cursor) return false;
  *cursor = p;
  *value = number;
  return true;
}

bool Expect(const char** cursor, char c) {
  if (**cursor != c) return false;
  ++*cursor;
  return true;
}

}  // namespace

uint32_t NetAddress::FromBytes(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

uint8_t NetAddress::Byte(int i) const {
  uint8_t bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);
  return bytes[i & 3];
}

std::string FormatIpAddress(uint32_t address) {
  NetAddress endpoint;
  endpoint.address = address;
  return FormatString("%lu.%lu.%lu.%lu", static_cast<unsigned long>(endpoint.Byte(0)),
                      static_cast<unsigned long>(endpoint.Byte(1)),
                      static_cast<unsigned long>(endpoint.Byte(2)),
                      static_cast<unsigned long>(endpoint.Byte(3)));
}

std::string FormatEndpointUrl(const NetAddress& endpoint) {
  return FormatString("http://%s:%u/", FormatIpAddress(endpoint.address).c_str(),
                      static_cast<unsigned>(endpoint.port));
}

bool ParseEndpointUrl(const std::string& url, NetAddress* endpoint) {
  static const char kScheme[] = "http://";
  if (url.compare(0, sizeof kScheme - 1, kScheme) != 0) return false;
  const char* cursor = url.c_str() + sizeof kScheme - 1;
  uint32_t numbers[4];
  for (int i = 0; i < 4; ++i) {
    if (!ReadNumber(&cursor, 255, &numbers[i])) return false;
    if (!Expect(&cursor, i < 3 ? '.' : ':')) return false;
  }
  uint32_t port = 0;
  if (!ReadNumber(&cursor, 65535, &port)) return false;
  endpoint->address =
      NetAddress::FromBytes(static_cast<uint8_t>(numbers[0]), static_cast<uint8_t>(numbers[1]),
                            static_cast<uint8_t>(numbers[2]), static_cast<uint8_t>(numbers[3]));
  endpoint->port = static_cast<uint16_t>(port);
  return true;
}
