// The select-configuration request the driver builds from the device's configuration
// descriptor, on descriptors a device could send: well formed, odd and broken.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include "driver.h"
}

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Interface(uint8_t number, uint8_t alternate, uint8_t endpoints) {
  return {9, USB_INTERFACE_DESCRIPTOR_TYPE, number, alternate, endpoints, 0xFF, 0, 0, 0};
}
Bytes Endpoint(uint8_t address) { return {7, USB_ENDPOINT_DESCRIPTOR_TYPE, address, 2, 64, 0, 0}; }
Bytes ClassSpecific() { return {5, 0x24, 1, 2, 3}; }

// A configuration descriptor: its header with the total length, then the given descriptors.
Bytes Configuration(uint8_t interfaces, std::vector<Bytes> parts) {
  Bytes out = {9, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, interfaces, 1, 0, 0x80, 50};
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  out[2] = static_cast<uint8_t>(out.size());
  out[3] = static_cast<uint8_t>(out.size() >> 8);
  return out;
}

struct Entry {
  int number;
  int pipes;
};

struct Case {
  const char* what;
  Bytes descriptor;
  std::vector<Entry> entries;  // empty: refused as the device's fault
};

ULONG EntrySize(int pipes) {
  return static_cast<ULONG>(offsetof(USBD_INTERFACE_INFORMATION, Pipes) +
                            (pipes ? pipes : 1) * sizeof(USBD_PIPE_INFORMATION));
}

std::vector<Case> Cases() {
  return {
      {"one interface, two pipes",
       Configuration(1, {Interface(0, 0, 2), Endpoint(0x81), Endpoint(0x02)}),
       {{0, 2}}},
      {"two interfaces among class descriptors",
       Configuration(2, {ClassSpecific(), Interface(0, 0, 1), ClassSpecific(), Endpoint(0x81),
                         Interface(1, 0, 3), Endpoint(0x82), Endpoint(0x03), Endpoint(0x84)}),
       {{0, 1}, {1, 3}}},
      {"alternate settings are passed over",
       Configuration(2, {Interface(0, 0, 0), Interface(0, 1, 2), Endpoint(0x81), Endpoint(0x02),
                         Interface(1, 0, 1), Endpoint(0x83)}),
       {{0, 0}, {1, 1}}},
      {"no more interfaces than the header counts",
       Configuration(1, {Interface(0, 0, 1), Endpoint(0x81), Interface(1, 0, 1), Endpoint(0x82)}),
       {{0, 1}}},
      {"fewer interfaces than the header counts",
       Configuration(3, {Interface(0, 0, 1), Endpoint(0x81)}), {{0, 1}}},
      {"no interface", Configuration(1, {Endpoint(0x81)}), {}},
      {"no interface counted", Configuration(0, {Interface(0, 0, 1), Endpoint(0x81)}), {}},
      {"a descriptor of length 0 before the interface",
       Configuration(1, {Bytes{0, 0x24}, Interface(0, 0, 1), Endpoint(0x81)}), {}},
      {"an interface descriptor shorter than one",
       Configuration(1, {Bytes{5, USB_INTERFACE_DESCRIPTOR_TYPE, 0, 0, 1}, Endpoint(0x81)}), {}},
  };
}

void ExpectEntries(PURB urb, const std::vector<Entry>& entries) {
  ASSERT_NE(urb, nullptr);
  EXPECT_EQ(urb->UrbHeader.Function, URB_FUNCTION_SELECT_CONFIGURATION);
  size_t size = offsetof(struct _URB_SELECT_CONFIGURATION, Interface);
  auto* at = reinterpret_cast<uint8_t*>(&urb->UrbSelectConfiguration.Interface);
  for (const Entry& entry : entries) {
    auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(at);
    EXPECT_EQ(info->InterfaceNumber, entry.number);
    EXPECT_EQ(info->AlternateSetting, 0);
    EXPECT_EQ(info->NumberOfPipes, static_cast<ULONG>(entry.pipes));
    EXPECT_EQ(info->Length, EntrySize(entry.pipes));
    for (int p = 0; p < entry.pipes; ++p) EXPECT_EQ(info->Pipes[p].MaximumTransferSize, 0x1000u);
    size += info->Length;
    at += info->Length;
  }
  EXPECT_GE(urb->UrbHeader.Length, size);
  EXPECT_GE(urb->UrbHeader.Length, sizeof(struct _URB_SELECT_CONFIGURATION));
}

TEST(ConfigurationTest, OneEntryForEachInterfaceOrTheDevicesFault) {
  for (Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(c.descriptor.data());
    NTSTATUS status = STATUS_PENDING;
    PURB urb = MirrinBuildSelectConfiguration(config, static_cast<ULONG>(c.descriptor.size()),
                                              &status);
    if (c.entries.empty()) {
      EXPECT_EQ(urb, nullptr);
      EXPECT_EQ(status, STATUS_DEVICE_DATA_ERROR);
      continue;
    }
    EXPECT_EQ(status, STATUS_SUCCESS);
    ExpectEntries(urb, c.entries);
    EXPECT_EQ(urb->UrbSelectConfiguration.ConfigurationDescriptor, config);
    MirrinFree(urb);
  }
}

TEST(ConfigurationTest, OnlyTheBytesReadAreWalked) {
  // The descriptor claims a second interface that lies beyond what was read of it.
  Bytes whole = Configuration(2, {Interface(0, 0, 1), Endpoint(0x81), Interface(1, 0, 1),
                                  Endpoint(0x82)});
  const ULONG read = 9 + 9 + 7 + 4;  // cut inside the second interface descriptor
  NTSTATUS status;
  PURB urb = MirrinBuildSelectConfiguration(
      reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(whole.data()), read, &status);
  ExpectEntries(urb, {{0, 1}});
  MirrinFree(urb);

  EXPECT_EQ(MirrinBuildSelectConfiguration(
                reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(whole.data()), 8, &status),
            nullptr);
  EXPECT_EQ(status, STATUS_DEVICE_DATA_ERROR);
}

TEST(ConfigurationTest, ARequestTooLongForItsLengthFieldIsRefused) {
  // Sixteen interfaces that each claim 255 endpoints: more than a 16-bit request length holds.
  std::vector<Bytes> parts;
  for (uint8_t i = 0; i < 16; ++i) parts.push_back(Interface(i, 0, 255));
  Bytes descriptor = Configuration(16, parts);
  NTSTATUS status;
  EXPECT_EQ(MirrinBuildSelectConfiguration(
                reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(descriptor.data()),
                static_cast<ULONG>(descriptor.size()), &status),
            nullptr);
  EXPECT_EQ(status, STATUS_DEVICE_DATA_ERROR);
}

}  // namespace
