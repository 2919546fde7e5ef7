// Result codes of the mass-storage players (drives reached through SCSI commands).
#pragma once

#include "devices/device_results.h"

namespace rc {

constexpr Result kDriveAccessDenied = static_cast<Result>(0xC004902E);
constexpr Result kVolumeLockRejected = static_cast<Result>(0xC004902F);
// The root record, a folder, a root or a path outside the player's drives: not the channel's
// to delete or replace (HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)).
constexpr Result kRecordNotDeletable = static_cast<Result>(0x80070005);
// The file at a record's path is not the one the record describes (another application
// replaced it): it is left alone (HRESULT_FROM_WIN32(ERROR_FILE_INVALID)).
constexpr Result kFileChangedOnDrive = static_cast<Result>(0x800703EE);

}  // namespace rc
