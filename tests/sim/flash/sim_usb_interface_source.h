// Simulated flash players behind the device enumerator: every transport made for a listed path
// is a SimUsbHardware in front of its player.
#pragma once

#include <string>

#include "sim/flash/flash_player.h"
#include "sim/sim_usb_listing.h"

class SimUsbInterfaceSource : public SimUsbListing<SimFlashPlayer> {
 public:
  // A path no longer listed leads to a player that is gone.
  UsbHardware* CreateTransport(const std::string& path, uint32_t product_id) override;
};
