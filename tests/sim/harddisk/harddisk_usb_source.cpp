#include "sim/harddisk/harddisk_usb_source.h"

UsbHardware* SimHardDiskUsbSource::CreateTransport(const std::string& path, uint32_t product_id) {
  std::shared_ptr<SimHardDiskPlayer> player = Listed(path);
  if (!player) {
    // Unplugged: a player that is held by someone else for ever.
    player = std::make_shared<SimHardDiskPlayer>(1);
    player->holders = 1;
  }
  return new SimHardDiskUsb(player, product_id);
}
