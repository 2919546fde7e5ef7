#include "devices/msc/nt_scsi_device.h"

#include <windows.h>
#include <ntddscsi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "devices/msc/msc_results.h"
#include "devices/msc/player_identification.h"
#include "devices/msc/scsi_command.h"
#include "devices/msc/volume_io_api.h"
#include "devices/progress_sink.h"
#include "support/format_string.h"
#include "support/stream.h"

namespace {

constexpr ULONG kPassThroughTimeoutSeconds = 10;
// 44 bytes on 32-bit Windows; the data offset is pointer-sized on 64-bit Windows.
static_assert(sizeof(SCSI_PASS_THROUGH) == (sizeof(void*) == 8 ? 56 : 44),
              "SCSI_PASS_THROUGH layout");

std::string VolumePath(char drive) { return FormatString("\\\\.\\%c:", drive); }

}  // namespace

Result NtScsiDevice::Open(char drive, HANDLE* handle) {
  *handle = api_->CreateFileA(VolumePath(drive).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (*handle != INVALID_HANDLE_VALUE) return rc::kOk;
  const Result error = rc::FromWin32(api_->GetLastError());
  return rc::Failed(error) ? error : rc::kFail;
}

Result NtScsiDevice::Close(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE) api_->CloseHandle(handle);
  return rc::kOk;
}

Result NtScsiDevice::Execute(HANDLE handle, ScsiCommand* command) {
  if (!command->valid()) return rc::kFail;
  // The system's own structure: its size and the data-offset field's width differ between
  // 32-bit and 64-bit Windows.
  const DWORD header = sizeof(SCSI_PASS_THROUGH);
  const DWORD length = header + ScsiCommand::kSenseLength + command->data_length();
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length]());
  if (!buffer) return rc::kFail;
  auto* request = reinterpret_cast<SCSI_PASS_THROUGH*>(buffer.get());
  request->Length = static_cast<USHORT>(header);
  request->CdbLength = command->cdb_length();
  request->SenseInfoLength = ScsiCommand::kSenseLength;
  request->DataIn = command->data_in() ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  request->DataTransferLength = command->data_length();
  request->TimeOutValue = kPassThroughTimeoutSeconds;
  request->DataBufferOffset = header + ScsiCommand::kSenseLength;
  request->SenseInfoOffset = header;
  std::memcpy(request->Cdb, command->cdb(), command->cdb_length());
  uint8_t* sense = buffer.get() + header;
  uint8_t* data = sense + ScsiCommand::kSenseLength;
  if (!command->data_in()) std::memcpy(data, command->data(), command->data_length());

  DWORD returned = 0;
  if (!api_->DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH, buffer.get(), length,
                             buffer.get(), length, &returned)) {
    const Result error = rc::FromWin32(api_->GetLastError());
    if (error == rc::FromWin32(ERROR_ACCESS_DENIED)) return rc::kDriveAccessDenied;
    // A failed call whose last error says nothing is still a failure.
    return rc::Failed(error) ? error : rc::kFail;
  }
  std::memcpy(command->sense(), sense, ScsiCommand::kSenseLength);
  const Result status = command->EvaluateSense();
  if (rc::Succeeded(status) && command->data_in()) {
    std::memcpy(command->data(), data, command->data_length());
  }
  return status;
}

Result NtScsiDevice::LockVolume(HANDLE handle) {
  DWORD returned = 0;
  return api_->DeviceIoControl(handle, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned)
             ? rc::kOk
             : rc::kVolumeLockRejected;
}

bool NtScsiDevice::NotHotPluggable(HANDLE handle) {
  if (!IsWindowsXpOrLater(api_->GetVersion())) return false;
  STORAGE_HOTPLUG_INFO info = {};
  DWORD returned = 0;
  if (!api_->DeviceIoControl(handle, IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0, &info,
                             sizeof info, &returned)) {
    return false;
  }
  return info.DeviceHotplug == 0;
}

Result NtScsiDevice::FlushVolumes(char, const std::vector<MscDriveEntry>& entries) {
  for (const MscDriveEntry& entry : entries) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (rc::Failed(Open(entry.drive_letter, &handle))) continue;
    api_->FlushFileBuffers(handle);
    Close(handle);
  }
  return rc::kOk;
}

Result NtScsiDevice::LockSiblings(char drive, const std::vector<MscDriveEntry>& entries,
                                  std::vector<HANDLE>* handles) {
  for (const MscDriveEntry& entry : entries) {
    if (entry.drive_letter == drive) continue;
    HANDLE handle = INVALID_HANDLE_VALUE;
    Result status = Open(entry.drive_letter, &handle);
    if (rc::Succeeded(status)) {
      status = LockVolume(handle);
      if (rc::Failed(status)) Close(handle);
    }
    if (rc::Failed(status)) return status;
    handles->push_back(handle);
  }
  return rc::kOk;
}

Result NtScsiDevice::UpgradeFirmware(char drive, const std::vector<MscDriveEntry>& entries,
                                     uint32_t flags, SeekableStream* image,
                                     ProgressSink* progress) {
  FlushVolumes(drive, entries);
  uint32_t size = 0;
  Result status = image->GetSize(&size);
  if (rc::Failed(status)) return status;

  HANDLE handle = INVALID_HANDLE_VALUE;
  status = Open(drive, &handle);
  if (rc::Failed(status)) return status;
  status = LockVolume(handle);
  std::vector<HANDLE> siblings;
  // Every drive of the player is locked before the first block goes out.
  if (rc::Succeeded(status)) status = LockSiblings(drive, entries, &siblings);
  if (rc::Succeeded(status)) status = SendFirmwareImage(handle, flags, image, size, progress);
  for (HANDLE sibling : siblings) Close(sibling);
  Close(handle);
  return rc::Failed(status) ? status : rc::kOk;
}

Result NtScsiDevice::Identify(HANDLE handle, char drive, MscDriveRecord* record) {
  auto command = MakeInquiry();
  if (!command) return rc::kOutOfMemory;
  Result status = Execute(handle, command.get());
  if (rc::Failed(status)) return status;
  if (!inquiry::HasPlayerSignature(command->data())) return rc::kFail;
  MscDriveRecord found;
  ApplyInquiryData(command->data(), &found);

  command = MakeInquiryPage(inquiry::kUnitSerialPage);
  if (!command) return rc::kOutOfMemory;
  status = Execute(handle, command.get());
  if (rc::Failed(status)) return status;
  MscDriveEntry entry;
  entry.drive_letter = drive;
  entry.unit_serial = inquiry::UnitSerial(command->data());
  if (entry.unit_serial.empty()) return rc::kFail;

  command = MakeInquiryPage(inquiry::kPlayerPage);
  if (!command) return rc::kOutOfMemory;
  status = Execute(handle, command.get());
  if (rc::Failed(status)) return status;
  if (!inquiry::HasPageMagic(command->data())) return rc::kFail;
  ApplyPlayerPage(command->data(), &found);

  // A player in recovery mode has no drive page to offer.
  if (!found.recovery_mode()) {
    command = MakeInquiryPage(inquiry::kDrivePage);
    if (!command) return rc::kOutOfMemory;
    status = Execute(handle, command.get());
    if (rc::Failed(status)) return status;
    if (inquiry::HasPageMagic(command->data())) {
      ApplyDrivePage(command->data(), &entry);
      entry.not_hot_pluggable = NotHotPluggable(handle) ? 1 : 0;
    }
  }
  found.drive_letter = drive;
  found.drive_entries.push_back(entry);
  *record = std::move(found);
  return rc::kOk;
}

Result NtScsiDevice::QueryPlayer(char drive, MscDriveRecord* record) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  Result status = Open(drive, &handle);
  if (rc::Failed(status)) return status;
  status = Identify(handle, drive, record);
  Close(handle);
  return status;
}

Result NtScsiDevice::EnumerateDrives(std::vector<MscDriveRecord>* records) {
  records->clear();
  DWORD mask = api_->GetLogicalDrives();
  std::vector<MscDriveRecord> per_drive;
  mask >>= 2;  // from C:
  for (char letter = 'C'; mask != 0 && letter <= 'Z'; ++letter, mask >>= 1) {
    if ((mask & 1) == 0) continue;
    if (api_->GetDriveTypeA(DriveRoot(letter).c_str()) != DRIVE_REMOVABLE) continue;
    MscDriveRecord record;
    // A drive that is not a player, or does not answer, is simply not listed.
    if (rc::Succeeded(QueryPlayer(letter, &record))) per_drive.push_back(std::move(record));
  }
  *records = MergeDriveRecords(per_drive);
  return rc::kOk;
}
