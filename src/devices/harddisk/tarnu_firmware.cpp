// Firmware and system-tree installation of the hard-disk player.
#include "devices/harddisk/tarnu_channel.h"

Result TarnuChannel::UpgradeFirmware(SeekableStream* image, uint32_t flags,
                                     ProgressSink* progress) {
  return UpdateFirmware(image, flags, progress);
}

Result TarnuChannel::UpdateFirmware(SeekableStream*, uint32_t, ProgressSink*) {
  return rc::kNotImplemented;
}

Result TarnuChannel::CheckFirmwareAllowed() { return rc::kNotImplemented; }

Result TarnuChannel::InstallSystemTree(TarFileSystem*, uint32_t, ProgressSink*) {
  return rc::kNotImplemented;
}

Result TarnuChannel::WriteFirmwareImage(SeekableStream*, uint32_t, ProgressSink*) {
  return rc::kNotImplemented;
}
