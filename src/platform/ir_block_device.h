// IRBlockDevice: the platform's access to the registered block devices, found by their names
// "NAME:number" (compared without regard to the case of A to Z).
#pragma once

#include <cstdint>

#include "platform/block_device.h"
#include "platform/platform_interface.h"

class IRBlockDevice final : public PlatformInterface {
 public:
  static IRBlockDevice* Create() { return new IRBlockDevice; }
  void Destroy() override { delete this; }

  // 0x806E0003 (and null) when no device has the name.
  virtual Result Open(BlockDevice** device, const char* name);
  virtual Result Close(BlockDevice* device);
  virtual Result Read(BlockDevice* device, uint64_t start, uint32_t count, void* buffer,
                      uint32_t argument);
  virtual Result Write(BlockDevice* device, uint64_t start, uint32_t count, const void* buffer,
                       uint32_t argument);
  virtual Result Control(BlockDevice* device, uint32_t code, void* buffer, uint32_t size);
  virtual uint64_t ReadEstimate(BlockDevice* device, uint64_t position, uint64_t length,
                                uint32_t flags);
  virtual uint64_t WriteEstimate(BlockDevice* device, uint64_t position, uint64_t length,
                                 uint32_t flags);
  virtual Result GetName(BlockDevice* device, char* buffer, uint32_t size);
  // An empty buffer yields the first device's name, otherwise the name of the device after
  // the named one; 0x806E0005 after the last.
  virtual Result Enumerate(char* buffer, uint32_t size);
  virtual uint32_t SectorSize(BlockDevice* device);
  virtual uint64_t Capacity(BlockDevice* device);
  virtual bool Ready(BlockDevice* device);

 protected:
  IRBlockDevice() = default;
  ~IRBlockDevice() = default;
};
