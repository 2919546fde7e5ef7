// Simulated USB players behind the device enumerator: each attached player is listed under the
// interface class of its product id, in the order attached. Like SetupAPI's walk, the listing
// stops at the first negative callback result. A derived source makes the transports.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_enumerator.h"
#include "devices/usb/setup_api_binding.h"
#include "devices/usb/usb_interface_guids.h"

template <typename Player>
class SimUsbListing : public UsbInterfaceSource {
 public:
  // Lists `player` at `path` under `product_id`.
  void Attach(uint32_t product_id, const std::string& path, std::shared_ptr<Player> player) {
    attached_.push_back({product_id, path, std::move(player)});
  }
  // Takes the player at `path` off the listing, as unplugging takes its interface away.
  void Detach(const std::string& path) {
    attached_.erase(std::remove_if(attached_.begin(), attached_.end(),
                                   [&](const Attached& a) { return a.path == path; }),
                    attached_.end());
  }

  Result EnumerateInterfaces(const GUID* interface_class, DevicePathCallback& callback) override {
    uint32_t product_id = 0;
    for (const UsbInterfaceGuidRow& row : UsbInterfaceGuidTable)
      if (IsEqualGUID(row.interface_class, *interface_class)) product_id = row.product_id;
    asked.push_back(product_id);
    // A copy: a callback may attach or detach.
    const std::vector<Attached> listed = attached_;
    for (const Attached& a : listed) {
      if (a.product_id != product_id) continue;
      const Result result = callback.OnDevicePath(a.path);
      if (rc::Failed(result)) return result;
    }
    return rc::kOk;
  }

  // Only a listed interface path opens; any other name is not found.
  Result ReadProductId(const std::string& path, uint32_t* product_id) override {
    for (const Attached& a : attached_) {
      if (a.path != path) continue;
      *product_id = a.product_id;
      return rc::kOk;
    }
    return rc::FromWin32(ERROR_FILE_NOT_FOUND);
  }

  // The names plug and play gives the attached players, in the order attached: each interface
  // path with "$" and a number.
  std::vector<std::string> PnpNames() const {
    std::vector<std::string> names;
    for (size_t i = 0; i < attached_.size(); ++i)
      names.push_back(attached_[i].path + "$" + std::to_string(i));
    return names;
  }

  std::vector<uint32_t> asked;  // product ids of the interface classes asked, in order

 protected:
  // The player listed at `path`; null when none is (it was never there or is unplugged).
  std::shared_ptr<Player> Listed(const std::string& path) const {
    for (const Attached& a : attached_)
      if (a.path == path) return a.player;
    return nullptr;
  }

 private:
  struct Attached {
    uint32_t product_id;
    std::string path;
    std::shared_ptr<Player> player;
  };
  std::vector<Attached> attached_;
};
