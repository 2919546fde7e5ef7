// The SCSI device of Windows 95, 98 and Me: commands go through the ASPI library to a host
// adapter and logical unit, players are found by walking the adapters, their drive letters come
// from the registry of the Windows 9x SCSI enumerator, and volumes are locked, unlocked and
// flushed with DOS IOCTL calls through "\\.\vwin32".
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "devices/msc/scsi_device.h"

class AspiLibrary;
class VolumeIoApi;

// The registry key of the Windows 9x SCSI enumerator that holds a player's instances:
// "Enum\SCSI\" + vendor (8 characters) + product (16) + the revision's first character, blanks
// turned into '_' and the fields padded with '_'.
std::string ScsiEnumeratorKey(const MscDriveRecord& record);
// The instance names (each "key\subkey") that carry the player's serial, sorted.
std::vector<std::string> MatchingInstances(const std::string& key,
                                           const std::vector<std::string>& subkeys,
                                           uint64_t serial);
// Gives the entries their letters in order from `letters`; entries left without one are
// removed.
void PairDriveLetters(const std::vector<char>& letters, MscDriveRecord* record);

struct Win9xSettings {
  AspiLibrary* aspi = nullptr;               // null: the process's library
  HKEY registry_root = HKEY_LOCAL_MACHINE;   // where "Enum\SCSI" lies
  DWORD request_wait_ms = 10000;             // how long a pending request is waited for
  DWORD abort_wait_ms = 10000;               // how long an aborted request is waited for
};

class Win9xScsiDevice : public ScsiDevice {
 public:
  // `api` (the vwin32 device) must outlive the device.
  explicit Win9xScsiDevice(VolumeIoApi* api, const Win9xSettings& settings = Win9xSettings());
  ~Win9xScsiDevice() override;

  Result EnumerateDrives(std::vector<MscDriveRecord>* records) override;
  Result UpgradeFirmware(char drive, const std::vector<MscDriveEntry>& entries, uint32_t flags,
                         SeekableStream* image, ProgressSink* progress) override;
  // A DOS reset-drive call for every entry; results ignored.
  Result FlushVolumes(char drive, const std::vector<MscDriveEntry>& entries) override;
  // `handle` is the ASPI host adapter number.
  Result Execute(HANDLE handle, ScsiCommand* command) override;
  Result Initialize() override;
  // The handle is the host adapter that shows `drive` (its logical unit becomes current).
  Result Open(char drive, HANDLE* handle) override;
  Result Close(HANDLE handle) override;

  // rc::kVolumeLockRejected when neither lock category is accepted.
  Result LockVolume(char drive);
  Result UnlockVolume(char drive);

  // Requests given up after their abort could not be confirmed: their blocks, buffers and
  // events stay allocated for ever, since ASPI may still write to them.
  static size_t AbandonedRequests();

 private:
  struct AspiRequest;
  struct Unit {
    uint8_t host_adapter;
    uint8_t lun;
  };

  // Sense and data of a completed request back into the command.
  Result Finish(const AspiRequest* request, ScsiCommand* command);
  // EAX, EBX, ECX, EDX in; carry clear gives success, else the error in EAX.
  Result DosIoctl(uint32_t eax, uint32_t ebx, uint32_t ecx, uint32_t edx);
  Result LockCall(char drive, uint8_t minor_code);
  // Reads one player's pages on an adapter; false when the adapter holds no player.
  bool WalkAdapter(uint8_t host_adapter, std::map<uint64_t, MscDriveRecord>* records,
                   std::map<std::string, Unit>* units);
  void AssignDriveLetters(MscDriveRecord* record, const std::map<std::string, Unit>& units);
  Result SendImage(uint8_t host_adapter, uint32_t flags, SeekableStream* image, uint32_t size,
                   ProgressSink* progress);

  VolumeIoApi* api_;
  Win9xSettings settings_;
  AspiLibrary* aspi_ = nullptr;
  uint8_t current_lun_ = 0;
  HANDLE vwin32_ = INVALID_HANDLE_VALUE;
  std::map<char, Unit> letters_;  // filled by the drive walk
};
