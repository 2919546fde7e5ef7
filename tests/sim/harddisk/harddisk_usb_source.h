// Simulated hard-disk players behind the device enumerator: every transport made for a listed
// path is a SimHardDiskUsb in front of its player. A path no longer listed leads to a transport
// that cannot open.
#pragma once

#include <string>

#include "sim/harddisk/harddisk_player.h"
#include "sim/sim_usb_listing.h"

class SimHardDiskUsbSource : public SimUsbListing<SimHardDiskPlayer> {
 public:
  UsbHardware* CreateTransport(const std::string& path, uint32_t product_id) override;
};
