// The SCSI device that hands player operations to a configured COM server instead of sending
// SCSI commands itself. Each operation creates the server, asks for its player interface, calls
// it and releases it again. The server's class is not configured in this system, so the
// factory keeps the NT back end.
#pragma once

#include <windows.h>

#include "devices/msc/scsi_device.h"

// The system-wide class of the player server: all zeros (none).
const CLSID& ComScsiServerClass();

class ComScsiDevice : public ScsiDevice {
 public:
  explicit ComScsiDevice(const CLSID& server_class) : server_class_(server_class) {}

  Result EnumerateDrives(std::vector<MscDriveRecord>* records) override;
  // 8192-byte blocks with progress; the server's E_ACCESSDENIED is a refused volume lock.
  Result UpgradeFirmware(char drive, const std::vector<MscDriveEntry>& entries, uint32_t flags,
                         SeekableStream* image, ProgressSink* progress) override;
  Result FlushVolumes(char drive, const std::vector<MscDriveEntry>& entries) override;
  // Creates the server once to see that it answers with the player interface.
  Result Initialize() override;
  // The server takes no SCSI commands: the typed queries built on these answer E_NOTIMPL.
  Result Execute(HANDLE handle, ScsiCommand* command) override;
  Result Open(char drive, HANDLE* handle) override;
  Result Close(HANDLE handle) override;

  // Answered by the server itself rather than through a command.
  Result CheckUnitSerial(char drive) override;
  Result SetTime(char drive, uint32_t first, uint32_t second) override;

 private:
  CLSID server_class_;
};
