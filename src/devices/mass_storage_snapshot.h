// One walk of the drives for a whole listing: the first ListDrives asks the underlying source,
// every later one answers the same players again. Made for one listing and then dropped, so
// that asking for many product ids does not open every removable volume many times.
#pragma once

#include <vector>

#include "devices/device_enumerator.h"

class MassStorageSnapshot : public MassStorageSource {
 public:
  // `source` must outlive the snapshot.
  explicit MassStorageSnapshot(MassStorageSource* source);
  Result ListDrives(std::vector<MassStorageDrive>* drives) override;

 private:
  MassStorageSource* source_;
  bool listed_ = false;
  Result status_ = rc::kOk;
  std::vector<MassStorageDrive> drives_;
};
