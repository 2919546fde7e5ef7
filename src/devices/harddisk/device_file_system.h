// The player's OMFS volumes, mounted by the platform's file-system service on the player disk,
// as a FileSystem; and the routine that writes, checks and repairs the player's partition
// layout and formats its volumes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devices/harddisk/file_system.h"
#include "devices/harddisk/ide_block_device.h"

class IRFileSystem;

namespace player_layout {
constexpr uint64_t kSystemStart = 0x1000400;
constexpr uint64_t kSystemLength = 0x4000000;
constexpr uint64_t kMusicStart = 0x5000400;
constexpr uint64_t kTailLength = 0x4000;
constexpr int32_t kPartitionType = 0x4D;
constexpr uint32_t kFormatBlockSize = 0x2000;
}  // namespace player_layout

enum class LayoutMode {
  kFresh = 0,         // write a new layout, format both volumes
  kFormatSystem = 1,  // check (and repair) the layout, format the system volume
  kFormatMusic = 2,   // check (and repair) the layout, format the music volume
};

class DeviceFileSystem : public FileSystem {
 public:
  // Partition 1 (system), 2 (music) or 3 (both).
  static Result MountPartition(PlayerDisk* disk, int partition, std::unique_ptr<FileSystem>* fs);
  // A failed resize of the music volume is reported as it came, not as a layout mismatch, so
  // that callers never format the music volume after a mere I/O failure.
  static Result CheckPartitionLayout(PlayerDisk* disk, LayoutMode mode);

  ~DeviceFileSystem() override;
  Result Close() override;
  Result GetSpace(FsSpace* space) override;
  Result Rename(const std::string& new_path, const std::string& old_path) override;
  Result Open(const std::string& path, std::unique_ptr<FsNodeHandle>* handle) override;
  Result OpenFile(const std::string& path, uint32_t flags,
                  std::unique_ptr<FsFileHandle>* file) override;
  Result OpenDir(const std::string& path, uint32_t flags,
                 std::unique_ptr<FsDirHandle>* dir) override;
  Result Remove(const std::string& path) override;
  Result Control(OmfsProgress* progress) override;
  IdeBlockDevice* GetBlockDevice() { return device_; }

  const std::string& prefix() const { return prefix_; }

 private:
  DeviceFileSystem(int partition) : partition_(partition) {}
  Result Initialise(PlayerDisk* disk);
  std::string Full(const std::string& path) const;

  IRFileSystem* fs_ = nullptr;
  IdeBlockDevice* device_ = nullptr;
  std::string prefix_;
  int partition_;
  bool mounted_ = false;
};
