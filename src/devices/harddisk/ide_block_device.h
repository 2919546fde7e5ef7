// A player disk lent to the platform as the numbered block device "IDE:<n>" (numbers 0, 1, 2 in
// order of creation for the whole process), so that the platform can mount its volumes.
#pragma once

#include <string>

#include "devices/harddisk/player_disk.h"
#include "platform/block_device.h"

class IdeBlockDevice : public BlockDevice {
 public:
  static constexpr uint32_t kSectorSize = 512;
  // The disk is not owned. Destroy with Destroy().
  static IdeBlockDevice* Create(PlayerDisk* disk);

  // In sectors: the disk information's block figure (the last block's address), 0 on failure.
  uint64_t Capacity() override;
  uint32_t SectorSize() override { return kSectorSize; }
  int Read(uint64_t start, uint32_t count, void* buffer, uint32_t argument) override;
  int Write(uint64_t start, uint32_t count, const void* buffer, uint32_t argument) override;
  uint64_t ReadEstimate(uint64_t, uint64_t, uint32_t) override { return 0; }
  uint64_t WriteEstimate(uint64_t, uint64_t, uint32_t) override { return 0; }

  // "IDE:<n>", the name under which the platform finds the device.
  std::string DeviceName() const;
  PlayerDisk* disk() { return disk_; }

 private:
  IdeBlockDevice(PlayerDisk* disk, uint32_t number);
  PlayerDisk* disk_;
};
