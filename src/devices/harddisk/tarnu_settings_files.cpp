// The player's settings files under "/var" on the music volume: kept across a format of the
// volume, removed by a settings reset.
#include <iterator>
#include <memory>

#include "devices/harddisk/device_file_system.h"
#include "devices/harddisk/tarnu_channel.h"
#include "fs/fs_codes.h"
#include "support/byte_order.h"

namespace {

// Settings files that survive a format of the music volume, in the order they are written back.
const char* const kKeptSettings[] = {"/var/config.ini", "/var/state", "/var/dynamic1",
                                     "/var/dynamic3"};
// Settings files that a settings reset removes, in this order.
const char* const kResetSettings[] = {"/var/config.ini", "/var/state",    "/var/dynamic0",
                                      "/var/dynamic1",   "/var/dynamic3", "/var/dynamic4"};

}  // namespace

std::string TarnuChannel::ReadDeviceFile(const std::string& path) {
  std::unique_ptr<SeekableStream> stream;
  std::string content;
  if (rc::Failed(OpenFileSystemStream(music_volume_.get(), path, kFsStreamRead, &stream)))
    return content;
  char buffer[4096];
  for (;;) {
    uint32_t got = 0;
    const Result result = stream->Read(buffer, sizeof buffer, &got);
    if (rc::Failed(result)) return std::string();
    content.append(buffer, got);
    if (result != rc::kOk || got == 0) return content;
  }
}

void TarnuChannel::WriteDeviceFile(const std::string& content, const std::string& path) {
  if (content.empty()) return;
  std::unique_ptr<SeekableStream> stream;
  if (rc::Failed(OpenFileSystemStream(music_volume_.get(), path,
                                      kFsStreamWrite | kFsStreamCreate | kFsStreamReplace,
                                      &stream)))
    return;
  WriteAll(stream.get(), reinterpret_cast<const uint8_t*>(content.data()),
           static_cast<uint32_t>(content.size()));
}

Result TarnuChannel::FormatStorage(uint32_t storage, ProgressSink*) {
  if (StorageIndex(storage) > 0) return rc::kFail;
  std::string kept[std::size(kKeptSettings)];
  if (rc::Succeeded(MountOmfs())) {
    for (size_t i = 0; i < std::size(kKeptSettings); ++i) kept[i] = ReadDeviceFile(kKeptSettings[i]);
  }
  Result result = AcquireBus();
  if (rc::Succeeded(result))
    result = DeviceFileSystem::CheckPartitionLayout(disk_.get(), LayoutMode::kFormatMusic);
  if (rc::Failed(result)) return result;
  if (rc::Failed(MountOmfs())) return result;
  std::unique_ptr<FsDirHandle> var;
  music_volume_->OpenDir("var", kFsCreate, &var);
  var.reset();
  for (size_t i = 0; i < std::size(kKeptSettings); ++i) WriteDeviceFile(kept[i], kKeptSettings[i]);
  return result;
}

Result TarnuChannel::ResetSettings() {
  Result result = MountOmfs();
  if (rc::Failed(result)) return result;
  for (const char* path : kResetSettings) {
    const Result removed = music_volume_->Remove(path);
    if (rc::Failed(removed)) result = removed;
  }
  // The volume answers a missing file with its own not-found code.
  if (result == rc::kNotFound || result == fsrc::kNotFound) result = 1;
  uint8_t sector[PlayerDisk::kSectorSize];
  if (rc::Succeeded(MusicInfoSector(sector, false)) && bytes::Le32(sector) != 0) {
    bytes::PutLe32(sector, 0);
    MusicInfoSector(sector, true);
  }
  return result;
}
