// IRVirtualDisk and its VDISK devices: virtual disks that join extents of other block devices.
// Each member device carries a member header in its first 512 bytes:
//   0 magic 0xD69EF5A0, 4 member index, 8 member count (32-bit each), 16 set identity
//   (16 bytes), 32 where the member begins on the virtual disk, 40 and 48 where its extent
//   begins and ends (exclusive) on the member device; positions in sectors, 64-bit; all
//   little-endian.
#pragma once

#include <cstdint>

#include "platform/block_device.h"
#include "platform/platform_interface.h"

class IRBlockDevice;

constexpr uint32_t kVirtualDiskMagic = 0xD69EF5A0;
constexpr int kMaxVirtualDisks = 2;
constexpr int kMaxVirtualDiskMembers = 4;

class IRVirtualDisk final : public PlatformInterface {
 public:
  static IRVirtualDisk* Create(IRBlockDevice* block_devices) {
    return new IRVirtualDisk(block_devices);
  }
  void Destroy() override;

  // Builds the VDISK devices from the member headers of the registered devices.
  virtual Result Rescan();
  // Prints each VDISK with its members' names to the shell.
  virtual Result Describe();
  virtual Result ReadSectors(const char* device_name, uint64_t start, uint32_t count,
                             void* buffer);
  virtual Result WriteSectors(const char* device_name, uint64_t start, uint32_t count,
                              const void* buffer);

 protected:
  explicit IRVirtualDisk(IRBlockDevice* block_devices) : block_devices_(block_devices) {}
  ~IRVirtualDisk();

 private:
  IRBlockDevice* block_devices_;
};

// The VDISK devices that exist now.
int VirtualDiskCount();
