#include "devices/msc/msc_drive_source.h"

#include "devices/msc/msc_device.h"

Result MscDriveSource::ListDrives(std::vector<MassStorageDrive>* drives) {
  drives->clear();
  std::vector<RefPtr<MscDevice>> devices;
  const Result status = EnumerateMscDevices(environment_, &devices);
  if (rc::Failed(status)) return status;
  for (const RefPtr<MscDevice>& device : devices) {
    drives->push_back({device->record().product_id, RefPtr<Device>(device.Get())});
  }
  return rc::kOk;
}

MassStorageSource* SystemMassStorageSource() {
  static MscDriveSource source;
  return &source;
}
