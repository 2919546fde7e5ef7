// The SCSI device of the Windows NT family: volumes "\\.\X:" opened through the volume I/O
// table, commands carried by SCSI pass-through, volume locks, flushes, the hot-plug query and
// the firmware upload in 8192-byte WRITE BUFFER blocks. It keeps no state of its own.
#pragma once

#include "devices/msc/scsi_device.h"

class VolumeIoApi;

class NtScsiDevice : public ScsiDevice {
 public:
  // `api` must outlive the device.
  explicit NtScsiDevice(VolumeIoApi* api) : api_(api) {}

  Result EnumerateDrives(std::vector<MscDriveRecord>* records) override;
  Result UpgradeFirmware(char drive, const std::vector<MscDriveEntry>& entries, uint32_t flags,
                         SeekableStream* image, ProgressSink* progress) override;
  // Flushes every entry's volume; failures are ignored.
  Result FlushVolumes(char drive, const std::vector<MscDriveEntry>& entries) override;
  Result Execute(HANDLE handle, ScsiCommand* command) override;
  Result Initialize() override { return rc::kOk; }
  Result Open(char drive, HANDLE* handle) override;
  Result Close(HANDLE handle) override;
  Result QueryPlayer(char drive, MscDriveRecord* record) override;

  // rc::kVolumeLockRejected when the volume cannot be locked.
  Result LockVolume(HANDLE handle);
  // True when the volume says it is not hot-pluggable (asked on 5.1 and later only).
  bool NotHotPluggable(HANDLE handle);

 private:
  Result Identify(HANDLE handle, char drive, MscDriveRecord* record);
  // Opens and locks every entry other than `drive`; on failure closes what it opened.
  Result LockSiblings(char drive, const std::vector<MscDriveEntry>& entries,
                      std::vector<HANDLE>* handles);

  VolumeIoApi* api_;
};
