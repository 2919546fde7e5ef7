// The NT back end over the system's own volume I/O on M:: the volume opens, but this system
// carries no SCSI pass-through, so the drive is not taken for a player and nothing is listed.
#include <windows.h>

#include <gtest/gtest.h>

#include "devices/msc/nt_scsi_device.h"
#include "devices/msc/volume_io_api.h"

namespace {

TEST(SystemVolumeTest, DriveWithoutPassThroughIsNoPlayer) {
  ASSERT_EQ(GetDriveTypeA("M:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
  NtScsiDevice device(VolumeIoApi::System());
  HANDLE handle = INVALID_HANDLE_VALUE;
  ASSERT_EQ(device.Open('M', &handle), rc::kOk);
  device.NotHotPluggable(handle);  // answered or refused, never a crash
  EXPECT_EQ(device.Close(handle), rc::kOk);
  EXPECT_TRUE(rc::Failed(device.CheckUnitSerial('M')));
  std::vector<MscDriveRecord> records;
  EXPECT_EQ(device.EnumerateDrives(&records), rc::kOk);
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(device.FlushVolumes('M', {MscDriveEntry{'M'}}), rc::kOk);
}

}  // namespace
