#include "sim/flash/sim_usb_interface_source.h"

#include "sim/flash/sim_usb_hardware.h"

UsbHardware* SimUsbInterfaceSource::CreateTransport(const std::string& path,
                                                    uint32_t product_id) {
  std::shared_ptr<SimFlashPlayer> player = Listed(path);
  if (!player) {
    player = std::make_shared<SimFlashPlayer>();
    player->unplugged = true;
  }
  return new SimUsbHardware(player, product_id, path);
}
