#include "devices/mass_storage_snapshot.h"

MassStorageSnapshot::MassStorageSnapshot(MassStorageSource* source) : source_(source) {}

Result MassStorageSnapshot::ListDrives(std::vector<MassStorageDrive>* drives) {
  if (!listed_) {
    status_ = source_->ListDrives(&drives_);
    listed_ = true;
  }
  *drives = drives_;
  return status_;
}
