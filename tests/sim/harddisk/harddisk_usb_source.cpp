#include "sim/harddisk/harddisk_usb_source.h"

#include <algorithm>

#include "devices/usb/setup_api_binding.h"
#include "devices/usb/usb_interface_guids.h"

void SimHardDiskUsbSource::Attach(uint32_t product_id, const std::string& path,
                                  std::shared_ptr<SimHardDiskPlayer> player) {
  attached_.push_back({product_id, path, std::move(player)});
}

void SimHardDiskUsbSource::Detach(const std::string& path) {
  attached_.erase(std::remove_if(attached_.begin(), attached_.end(),
                                 [&](const Attached& a) { return a.path == path; }),
                  attached_.end());
}

Result SimHardDiskUsbSource::EnumerateInterfaces(const GUID* interface_class,
                                                 DevicePathCallback& callback) {
  uint32_t product_id = 0;
  for (const UsbInterfaceGuidRow& row : UsbInterfaceGuidTable)
    if (IsEqualGUID(row.interface_class, *interface_class)) product_id = row.product_id;
  const std::vector<Attached> listed = attached_;
  for (const Attached& a : listed) {
    if (a.product_id != product_id) continue;
    const Result result = callback.OnDevicePath(a.path);
    if (rc::Failed(result)) return result;
  }
  return rc::kOk;
}

UsbHardware* SimHardDiskUsbSource::CreateTransport(const std::string& path, uint32_t product_id) {
  for (const Attached& a : attached_)
    if (a.path == path) return new SimHardDiskUsb(a.player, product_id);
  // Unplugged: a player that is held by someone else for ever.
  auto gone = std::make_shared<SimHardDiskPlayer>(1);
  gone->holders = 1;
  return new SimHardDiskUsb(gone, product_id);
}

Result SimHardDiskUsbSource::ReadProductId(const std::string& path, uint32_t* product_id) {
  for (const Attached& a : attached_) {
    if (a.path != path) continue;
    *product_id = a.product_id;
    return rc::kOk;
  }
  return rc::FromWin32(ERROR_FILE_NOT_FOUND);
}

std::vector<std::string> SimHardDiskUsbSource::PnpNames() const {
  std::vector<std::string> names;
  for (size_t i = 0; i < attached_.size(); ++i)
    names.push_back(attached_[i].path + "$" + std::to_string(i));
  return names;
}
