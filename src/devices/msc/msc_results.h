// Result codes of the mass-storage players (drives reached through SCSI commands).
#pragma once

#include "devices/device_results.h"

namespace rc {

constexpr Result kDriveAccessDenied = static_cast<Result>(0xC004902E);
constexpr Result kVolumeLockRejected = static_cast<Result>(0xC004902F);

}  // namespace rc
