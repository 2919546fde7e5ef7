// The service provider's USB transport (Win32UsbHardware) with its file and control calls
// going into the driver host, as the I/O manager would turn them into requests; events,
// semaphores and waits are the system's own. Plain C++ to its users (see driver_port.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devices/usb_hardware.h"
#include "driver/driver_port.h"

struct ClientSettings {
  // Answers the current vendor request code as a driver of the first generation does, which
  // does not know it: with ERROR_INVALID_PARAMETER.
  bool first_generation_driver = false;
};

class ClientSide {
 public:
  explicit ClientSide(DriverPort& port, ClientSettings settings = {});
  ~ClientSide();
  ClientSide(const ClientSide&) = delete;
  ClientSide& operator=(const ClientSide&) = delete;

  // The path user mode opens for the enabled device interface whose link names
  // `interface_guid` ("{...}"); a path that opens nothing when there is none.
  std::string InterfacePath(const std::wstring& interface_guid);
  std::unique_ptr<UsbHardware> NewTransport(const std::string& path, uint32_t product_id);
  Result ReadProductId(const std::string& path, uint32_t* product_id);
  // DeviceIoControl on a new handle of the device opened without a pipe name: the Win32
  // error it ends with, 0 on success.
  uint32_t Control(const std::string& path, uint32_t code, const void* input,
                   uint32_t input_length, void* output, uint32_t output_length,
                   uint32_t* returned);

 private:
  class Api;
  std::unique_ptr<Api> api_;
};
