// The simulated player behind M:, the removable drive of the test prefix: the drive walk finds
// it there with its unit serial and drive name.
#pragma once

#include <memory>

#include "sim/msc/sim_msc_player.h"

inline void PutPlayerOnDriveM(SimVolumeIo* io, const std::shared_ptr<SimMscPlayer>& player) {
  io->with_system_drives = true;
  io->drives['M'].player = player;
  io->drives['M'].unit_serial = "M-UNIT-0001";
  io->drives['M'].drive_name = "Internal";
}
