// Simulated USB players behind the device enumerator: each attached player is listed under the
// interface class of its product id, in the order attached, and every transport made for its
// path is a SimUsbHardware in front of it. Like SetupAPI's walk, the listing stops at the first
// negative callback result.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/device_enumerator.h"
#include "sim/flash/flash_player.h"

class SimUsbInterfaceSource : public UsbInterfaceSource {
 public:
  // Lists `player` at `path` under `product_id`.
  void Attach(uint32_t product_id, const std::string& path,
              std::shared_ptr<SimFlashPlayer> player);
  // Takes the player at `path` off the listing, as unplugging takes its interface away.
  void Detach(const std::string& path);

  Result EnumerateInterfaces(const GUID* interface_class, DevicePathCallback& callback) override;
  // A path no longer listed leads to a player that is gone.
  UsbHardware* CreateTransport(const std::string& path, uint32_t product_id) override;
  // Only a listed interface path opens; any other name is not found.
  Result ReadProductId(const std::string& path, uint32_t* product_id) override;

  // The names plug and play gives the attached players, in the order attached: each interface
  // path with "$" and a number.
  std::vector<std::string> PnpNames() const;

  std::vector<uint32_t> asked;  // product ids of the interface classes asked, in order

 private:
  struct Attached {
    uint32_t product_id;
    std::string path;
    std::shared_ptr<SimFlashPlayer> player;
  };
  std::vector<Attached> attached_;
};
