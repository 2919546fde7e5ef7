#include "sim/flash/sim_usb_hardware.h"

#include "devices/device_results.h"

namespace {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;

}  // namespace

SimUsbHardware::SimUsbHardware(std::shared_ptr<SimFlashPlayer> player, uint32_t product_id,
                               std::string path)
    : player_(std::move(player)), product_id_(product_id), path_(std::move(path)) {}

Result SimUsbHardware::Open() {
  if (open_) return rc::kOk;
  if (player_->unplugged) return rc::FromWin32(kErrorFileNotFound);
  if (player_->holders > 0) return rc::kPlayerBusy;
  ++player_->holders;
  open_ = true;
  player_->Log(SimLogEntry(SimLogEntry::kOpen));
  return rc::kOk;
}

Result SimUsbHardware::Close() {
  if (!open_) return rc::kOk;
  --player_->holders;
  open_ = false;
  player_->Log(SimLogEntry(SimLogEntry::kClose));
  return rc::kOk;
}

Result SimUsbHardware::ControlRequest(uint8_t request, uint16_t value, uint16_t index,
                                      uint8_t reply[kReplySize]) {
  if (!open_) return rc::FromWin32(kErrorInvalidHandle);
  return player_->Control(request, value, index, reply);
}

Result SimUsbHardware::Read(void* buffer, uint32_t length, uint32_t* done, uint32_t timeout_ms) {
  *done = 0;
  if (!open_) return rc::FromWin32(kErrorInvalidHandle);
  return player_->Read(buffer, length, done, timeout_ms);
}

Result SimUsbHardware::Write(const void* buffer, uint32_t length, uint32_t* done,
                             uint32_t timeout_ms) {
  *done = 0;
  if (!open_) return rc::FromWin32(kErrorInvalidHandle);
  return player_->Write(buffer, length, done, timeout_ms);
}

UsbHardware* SimUsbHardware::Clone() { return new SimUsbHardware(player_, product_id_, path_); }

Result SimUsbHardware::GetProductId(uint32_t* product_id) {
  *product_id = product_id_;
  return rc::kOk;
}

Result SimUsbHardware::GetName(std::string* name) {
  *name = "Sim@" + path_;
  return rc::kOk;
}

Result SimUsbHardware::GetPath(std::string* path) {
  *path = path_;
  return rc::kOk;
}
