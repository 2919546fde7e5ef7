// The enumerator's source of mass-storage players: the removable drives that identify as
// players, each wrapped in an MscDevice.
#pragma once

#include "devices/device_enumerator.h"
#include "devices/msc/msc_environment.h"

class MscDriveSource : public MassStorageSource {
 public:
  explicit MscDriveSource(const MscEnvironment& environment = MscEnvironment())
      : environment_(environment) {}
  Result ListDrives(std::vector<MassStorageDrive>* drives) override;

 private:
  MscEnvironment environment_;
};

// The removable drives of this system that identify as players.
MassStorageSource* SystemMassStorageSource();
