// Simulated hard-disk players behind the device enumerator: each attached player is listed under
// the interface class of its product id, and every transport made for its path is a
// SimHardDiskUsb in front of it. A path no longer listed leads to a transport that cannot open.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/device_enumerator.h"
#include "sim/harddisk/harddisk_player.h"

class SimHardDiskUsbSource : public UsbInterfaceSource {
 public:
  void Attach(uint32_t product_id, const std::string& path,
              std::shared_ptr<SimHardDiskPlayer> player);
  void Detach(const std::string& path);

  Result EnumerateInterfaces(const GUID* interface_class, DevicePathCallback& callback) override;
  UsbHardware* CreateTransport(const std::string& path, uint32_t product_id) override;
  Result ReadProductId(const std::string& path, uint32_t* product_id) override;

  // The names plug and play gives the attached players: each path with "$" and a number.
  std::vector<std::string> PnpNames() const;

 private:
  struct Attached {
    uint32_t product_id;
    std::string path;
    std::shared_ptr<SimHardDiskPlayer> player;
  };
  std::vector<Attached> attached_;
};
