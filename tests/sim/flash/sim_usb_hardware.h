// A UsbHardware in front of a simulated player. Clones share the player, so a second open
// transport is refused the way the driver's lock refuses it.
#pragma once

#include <memory>
#include <string>

#include "devices/usb_hardware.h"
#include "sim/flash/flash_player.h"

class SimUsbHardware : public UsbHardware {
 public:
  SimUsbHardware(std::shared_ptr<SimFlashPlayer> player, uint32_t product_id,
                 std::string path = "\\\\?\\usb#sim");
  ~SimUsbHardware() override { Close(); }

  Result Open() override;
  Result Close() override;
  Result ControlRequest(uint8_t request, uint16_t value, uint16_t index,
                        uint8_t reply[kReplySize]) override;
  Result Read(void* buffer, uint32_t length, uint32_t* done, uint32_t timeout_ms) override;
  Result Write(const void* buffer, uint32_t length, uint32_t* done,
               uint32_t timeout_ms) override;
  UsbHardware* Clone() override;
  Result GetProductId(uint32_t* product_id) override;
  Result GetName(std::string* name) override;
  Result GetPath(std::string* path) override;

  bool is_open() const { return open_; }
  SimFlashPlayer& player() { return *player_; }

 private:
  std::shared_ptr<SimFlashPlayer> player_;
  uint32_t product_id_;
  std::string path_;
  bool open_ = false;
};
