// The device-interface GUID under which the driver registers each USB player, one per product
// id. The installation writes the same GUID as the device's "DeviceGUID" value, so the two
// must never disagree.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

struct UsbInterfaceGuidRow {
  GUID interface_class;
  uint32_t product_id;
};

constexpr size_t kUsbInterfaceGuidCount = 21;

// Enumeration walks the rows in this order.
extern const UsbInterfaceGuidRow UsbInterfaceGuidTable[kUsbInterfaceGuidCount];

// The row of a product id; null for an unknown one.
const UsbInterfaceGuidRow* FindUsbInterfaceGuid(uint32_t product_id);
