// Firmware and system-tree installation of the hard-disk player.
#include "devices/harddisk/tarnu_channel.h"

#include "devices/harddisk/firmware_update.h"
#include "devices/harddisk/tar_file_system.h"
#include "media/property_set.h"
#include "support/memory_stream.h"

namespace {
// Flags bit 0: check the music volume once the image is written.
constexpr uint32_t kCheckMusicVolume = 0x1;
}  // namespace

Result TarnuChannel::UpgradeFirmware(SeekableStream* image, uint32_t flags,
                                     ProgressSink* progress) {
  return UpdateFirmware(image, flags, progress);
}

Result TarnuChannel::UpdateFirmware(SeekableStream* package, uint32_t flags,
                                    ProgressSink* progress) {
  Result result = CheckFirmwareAllowed();
  if (rc::Failed(result)) return result;
  MemoryStream plain;
  result = firmware::DecipherPackage(package, &plain);
  if (rc::Failed(result)) return result;
  if (TarFileSystem::IsTarStream(&plain)) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(plain.Bytes().data());
    // A package cut short is refused before anything of it is written.
    result = TarFileSystem::CheckWhole(bytes, plain.Size());
    if (rc::Failed(result)) return result;
    std::unique_ptr<FileSystem> tar;
    result = TarFileSystem::Create(bytes, plain.Size(), &tar);
    if (rc::Failed(result)) return result;
    return InstallSystemTree(tar.get(), flags, progress);
  }
  // Not an archive: the package itself, as it came, is the image.
  result = package->Seek(0);
  if (rc::Failed(result)) return result;
  return WriteFirmwareImage(package, flags, progress);
}

Result TarnuChannel::CheckFirmwareAllowed() {
  Result result = OpenDisk();
  if (rc::Failed(result)) return result;
  std::string text;
  result = disk_->ReadPlayerInfo(&text);
  if (rc::Failed(result)) return result;
  RefPtr<PropertySet> info;
  result = PropertySet::Create(&info);
  if (rc::Failed(result)) return result;
  if (!info) return rc::kOutOfMemory;
  info->AddNew();
  result = ParseSettingsText(text, '=', '\n', *info);
  if (rc::Failed(result)) return result;
  return firmware::FirmwareAccepted(*info);
}

Result TarnuChannel::InstallSystemTree(FileSystem* tar, uint32_t flags, ProgressSink* progress) {
  // An image too large for the firmware area is refused before the system tree is touched; a
  // package without an image installs its tree and then fails.
  std::unique_ptr<SeekableStream> image;
  const Result opened = OpenFileSystemStream(tar, firmware::kImagePath, kFsStreamRead, &image);
  if (rc::Succeeded(opened)) {
    uint32_t size = 0;
    const Result sized = firmware::ImageSize(image.get(), &size);
    if (rc::Failed(sized)) return sized;
  }
  // MountSystem closes the music volume (saving a dirty database) before the layout check.
  std::unique_ptr<FileSystem> system;
  Result result = MountSystem(&system);
  if (rc::Failed(result)) return result;
  result = firmware::CopySystemTree(tar, system.get(), progress);
  // The system volume is closed before raw sectors are written and the bus is given back.
  system.reset();
  if (rc::Failed(result)) return result;
  if (rc::Failed(opened)) return opened;
  return WriteFirmwareImage(image.get(), flags, progress);
}

Result TarnuChannel::WriteFirmwareImage(SeekableStream* image, uint32_t flags,
                                        ProgressSink* progress) {
  uint32_t size = 0;
  Result result = firmware::ImageSize(image, &size);
  if (rc::Failed(result)) return result;
  result = AcquireBus();
  if (rc::Failed(result)) return result;
  result = firmware::WriteImageSectors(disk_.get(), image, size, progress);
  if (rc::Failed(result)) {
    ReleaseBus();
    return result;
  }
  if ((flags & kCheckMusicVolume) && rc::Succeeded(MountOmfs())) {
    // The platform's volume check runs without a progress sink: it reports through an interface
    // of its own, not through the caller's.
    music_volume_->Control(nullptr);
    result = AcquireBus();
    if (rc::Failed(result)) return result;
  }
  result = ReleaseBus();
  if (rc::Failed(result)) return result;
  return disk_->SendCommand3();
}
