#include "devices/usb/usb_interface_guids.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

#include "usb_interface_guids.inc"

// Rows, order and GUID bytes against the GUID texts as Python's uuid module reads them.
TEST(UsbInterfaceGuidTableTest, MatchesTheGuidTextsInOrder) {
  static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes");
  ASSERT_EQ(sizeof(kGuidOracleRows) / sizeof(kGuidOracleRows[0]), kUsbInterfaceGuidCount);
  for (size_t i = 0; i < kUsbInterfaceGuidCount; ++i) {
    SCOPED_TRACE(kGuidOracleRows[i].text);
    EXPECT_EQ(UsbInterfaceGuidTable[i].product_id, kGuidOracleRows[i].product_id);
    EXPECT_EQ(std::memcmp(&UsbInterfaceGuidTable[i].interface_class, kGuidOracleRows[i].bytes, 16),
              0);
  }
}

TEST(UsbInterfaceGuidTableTest, ProductIdsAndGuidsAreUnique) {
  std::set<uint32_t> product_ids;
  std::set<std::string> guids;
  for (const auto& row : UsbInterfaceGuidTable) {
    product_ids.insert(row.product_id);
    guids.insert(std::string(reinterpret_cast<const char*>(&row.interface_class), 16));
  }
  EXPECT_EQ(product_ids.size(), kUsbInterfaceGuidCount);
  EXPECT_EQ(guids.size(), kUsbInterfaceGuidCount);
}

TEST(UsbInterfaceGuidTableTest, FindsTheRowOfAProductId) {
  const UsbInterfaceGuidRow* first = FindUsbInterfaceGuid(0x5003);
  ASSERT_EQ(first, &UsbInterfaceGuidTable[0]);
  EXPECT_EQ(first->interface_class.Data1, 0x2683A321u);
  const UsbInterfaceGuidRow* network = FindUsbInterfaceGuid(0x5210);
  ASSERT_EQ(network, &UsbInterfaceGuidTable[12]);
  EXPECT_EQ(network->interface_class.Data2, 0x539F);
  EXPECT_EQ(network->interface_class.Data4[7], 0x8F);
  EXPECT_EQ(FindUsbInterfaceGuid(0x5004), nullptr);
  EXPECT_EQ(FindUsbInterfaceGuid(0), nullptr);
}

}  // namespace
