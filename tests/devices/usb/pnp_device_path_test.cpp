#include "devices/usb/pnp_device_path.h"

#include <gtest/gtest.h>

TEST(PnpDevicePathTest, DropsOnlyATrailingDollarNumber) {
  const struct {
    const char* path;
    const char* interface_path;
  } cases[] = {
      {"\\\\?\\usb#vid_0e21&pid_5003#12#{a5dcbf10}$0", "\\\\?\\usb#vid_0e21&pid_5003#12#{a5dcbf10}"},
      {"\\\\?\\usb#x#{g}$123", "\\\\?\\usb#x#{g}"},
      {"\\\\?\\usb#x#{g}", "\\\\?\\usb#x#{g}"},          // an interface path as it is
      {"\\\\?\\usb#x#{g}$", "\\\\?\\usb#x#{g}$"},        // no number
      {"\\\\?\\usb#x#{g}$1a", "\\\\?\\usb#x#{g}$1a"},    // not only digits
      {"\\\\?\\usb#a$1#{g}\\PIPE00", "\\\\?\\usb#a$1#{g}\\PIPE00"},  // a pipe file
      {"\\\\?\\usb#a$1#{g}$2", "\\\\?\\usb#a$1#{g}"},   // only the last one
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.interface_path, InterfacePathOf(c.path)) << c.path;
}
