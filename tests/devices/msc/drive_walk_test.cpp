#include <gtest/gtest.h>

#include "devices/msc/nt_scsi_device.h"
#include "msc_test_player.h"

namespace {

using Lines = std::vector<std::string>;

TEST(DriveWalkTest, ReadsThePlayersIdentification) {
  MscTestPlayer sim;
  sim.player->vendor = "Qel";
  sim.player->product = "Qel MS 20";
  sim.player->revision = "2.1";
  sim.player->firmware_version = 0x0215;
  sim.player->capability_flags = 0x00028800;
  sim.player->codec_flags = 0x183;
  const MscDriveRecord record = sim.Record();
  EXPECT_EQ(record.drive_letter, 'E');
  EXPECT_EQ(record.vendor, "Qel");
  EXPECT_EQ(record.product, "Qel MS 20");
  EXPECT_EQ(record.revision, "2.1");
  EXPECT_EQ(record.serial, 0x0123456789ABCDEFull);
  EXPECT_EQ(record.product_id, 0x5041u);
  EXPECT_EQ(record.firmware_version, 0x0215u);
  EXPECT_EQ(record.boot_version, 0x0110u);
  EXPECT_EQ(record.capability_flags, 0x00028800u);
  EXPECT_EQ(record.codec_flags, 0x183u);
  EXPECT_EQ(record.vendor_id, kHomeVendorId);
  ASSERT_EQ(record.drive_entries.size(), 2u);  // one player with two drives
  EXPECT_EQ(record.drive_entries[0].drive_letter, 'E');
  EXPECT_EQ(record.drive_entries[0].unit_serial, "UNIT-E");
  EXPECT_EQ(record.drive_entries[0].drive_id, 1u);
  EXPECT_EQ(record.drive_entries[0].drive_name, "Internal");
  EXPECT_EQ(record.drive_entries[1].drive_letter, 'F');
  EXPECT_EQ(record.drive_entries[1].drive_id, 2u);
  EXPECT_EQ(record.drive_entries[1].drive_name, "Card");
  EXPECT_EQ(sim.io.OpenHandleCount(), 0u);
}

TEST(DriveWalkTest, ExtendedFieldsCountOnlyWithTheirPresenceBits) {
  MscTestPlayer sim;
  sim.player->extended_flags = 0x3F;
  sim.player->vendor_id = 0x1234;
  sim.player->hardware_revision = 3;
  sim.player->pavo_prefix = "ABC";
  sim.player->pavo_number = 9;
  sim.player->image_format_flags = 0x5;
  sim.player->image_width = 176;
  sim.player->image_height = 220;
  MscDriveRecord record = sim.Record();  // no 0x40 bit: all defaults
  EXPECT_EQ(record.vendor_id, kHomeVendorId);
  EXPECT_EQ(record.hardware_revision, 0u);
  EXPECT_EQ(record.pavo_prefix, "");
  EXPECT_EQ(record.pavo_number, 0u);
  EXPECT_EQ(record.image_format_flags, 0u);
  EXPECT_EQ(record.preferred_image_width, 0u);

  sim.player->capability_flags = kCapabilityExtended;
  record = sim.Record();
  EXPECT_EQ(record.vendor_id, 0x1234u);
  EXPECT_EQ(record.hardware_revision, 3u);
  EXPECT_EQ(record.pavo_prefix, "ABC");
  EXPECT_EQ(record.pavo_number, 9u);
  EXPECT_EQ(record.image_format_flags, 5u);
  EXPECT_EQ(record.preferred_image_width, 176u);
  EXPECT_EQ(record.preferred_image_height, 220u);

  sim.player->extended_flags = 0x2A;  // hardware revision, number, image size only
  record = sim.Record();
  EXPECT_EQ(record.vendor_id, kHomeVendorId);
  EXPECT_EQ(record.hardware_revision, 3u);
  EXPECT_EQ(record.pavo_prefix, "");
  EXPECT_EQ(record.pavo_number, 9u);
  EXPECT_EQ(record.image_format_flags, 0u);
  EXPECT_EQ(record.preferred_image_height, 220u);
}

TEST(DriveWalkTest, RecoveryModeSkipsTheDrivePage) {
  MscTestPlayer sim;
  sim.player->recovery = true;
  const MscDriveRecord record = sim.Record();
  EXPECT_TRUE(record.recovery_mode());
  ASSERT_EQ(record.drive_entries.size(), 2u);
  EXPECT_EQ(record.drive_entries[0].drive_id, 0u);
  EXPECT_EQ(record.drive_entries[0].drive_name, "");
  EXPECT_EQ(record.drive_entries[0].not_hot_pluggable, 1);
  EXPECT_TRUE(sim.io.LogLines("E: INQUIRY C1").empty());
}

TEST(DriveWalkTest, HotPlugQueryOnlyFromWindowsXp) {
  struct Case {
    WindowsVersion version;
    bool hot_pluggable;
    uint8_t expected;
  } cases[] = {
      {{VER_PLATFORM_WIN32_NT, 5, 1}, true, 0},  {{VER_PLATFORM_WIN32_NT, 5, 1}, false, 1},
      {{VER_PLATFORM_WIN32_NT, 6, 0}, false, 1}, {{VER_PLATFORM_WIN32_NT, 5, 0}, false, 0},
  };
  for (const Case& c : cases) {
    MscTestPlayer sim;
    sim.io.version = c.version;
    sim.io.drives['E'].hot_pluggable = c.hot_pluggable;
    EXPECT_EQ(sim.Record().drive_entries[0].not_hot_pluggable, c.expected)
        << c.version.major << "." << c.version.minor;
  }
}

TEST(DriveWalkTest, DrivePageWithoutMagicLeavesTheEntryAsItWas) {
  MscTestPlayer sim;
  sim.io.drives['E'].drive_page_magic = false;
  const MscDriveRecord record = sim.Record();
  EXPECT_EQ(record.drive_entries[0].drive_id, 0u);
  EXPECT_EQ(record.drive_entries[0].drive_name, "");
  EXPECT_EQ(record.drive_entries[0].not_hot_pluggable, 1);
  EXPECT_EQ(record.drive_entries[1].drive_name, "Card");
}

TEST(DriveWalkTest, DrivesThatAreNotPlayersAreSkipped) {
  MscTestPlayer sim;
  sim.io.drives['D'].player = nullptr;                       // a card reader
  sim.io.drives['G'] = sim.io.drives['E'];                   // a fixed disk claiming the same
  sim.io.drives['G'].drive_type = DRIVE_FIXED;
  sim.io.drives['H'] = sim.io.drives['E'];
  sim.io.drives['H'].unit_serial.clear();                    // no unit serial
  sim.io.drives['I'] = sim.io.drives['E'];
  sim.io.drives['I'].gone = true;                            // does not open
  sim.io.drives['J'] = sim.io.drives['E'];
  sim.io.drives['J'].access_denied = true;
  sim.io.drives['B'] = sim.io.drives['E'];                   // below C: never asked
  const MscDriveRecord record = sim.Record();
  ASSERT_EQ(record.drive_entries.size(), 2u);
  EXPECT_TRUE(sim.io.LogLines("open B:").empty());
  EXPECT_TRUE(sim.io.LogLines("open G:").empty());
  EXPECT_EQ(sim.io.LogLines("D: INQUIRY").size(), 1u);  // the signature test ends it
}

TEST(DriveWalkTest, PlayersAreOrderedBySerialAndKeepTheirLowestDrive) {
  MscTestPlayer sim;
  auto second = std::make_shared<SimMscPlayer>();
  second->serial = 0x1000;
  second->product = "Second";
  sim.io.drives['D'].player = second;
  sim.io.drives['D'].unit_serial = "UNIT-D";
  sim.io.drives['Z'].player = second;
  sim.io.drives['Z'].unit_serial = "UNIT-Z";
  std::vector<MscDriveRecord> records;
  ASSERT_EQ(sim.Scsi()->EnumerateDrives(&records), rc::kOk);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].product, "Second");
  EXPECT_EQ(records[0].drive_letter, 'D');
  ASSERT_EQ(records[0].drive_entries.size(), 2u);
  EXPECT_EQ(records[0].drive_entries[1].drive_letter, 'Z');
  EXPECT_EQ(records[1].drive_letter, 'E');
}

TEST(DriveWalkTest, MergedRecordKeepsTheFirstDrivesIdentification) {
  MscDriveRecord first;
  first.serial = 7;
  first.firmware_version = 0x100;
  first.drive_entries.push_back(MscDriveEntry{'E', "A"});
  MscDriveRecord second = first;
  second.firmware_version = 0x200;
  second.drive_entries[0] = MscDriveEntry{'F', "B"};
  second.drive_entries.push_back(MscDriveEntry{'G', "C"});
  const auto merged = MergeDriveRecords({first, second});
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_EQ(merged[0].firmware_version, 0x100u);
  ASSERT_EQ(merged[0].drive_entries.size(), 2u);  // only the first entry of a later record
  EXPECT_EQ(merged[0].drive_entries[1].drive_letter, 'F');
}

TEST(DriveWalkTest, OverlongUnitSerialIsCutToThePage) {
  MscTestPlayer sim;
  sim.io.drives['E'].unit_serial_length = 0xF0;
  const MscDriveRecord record = sim.Record();
  EXPECT_EQ(record.drive_entries[0].unit_serial.size(), 92u);
  EXPECT_EQ(record.drive_entries[0].unit_serial.substr(0, 6), "UNIT-E");
}

TEST(DriveWalkTest, WalkWithoutDrivesFindsNothing) {
  SimVolumeIo io;
  NtScsiDevice device(&io);
  std::vector<MscDriveRecord> records(3);
  EXPECT_EQ(device.EnumerateDrives(&records), rc::kOk);
  EXPECT_TRUE(records.empty());
}

// Windows 9x has its own back end (tested with it).
TEST(ScsiDeviceFactoryTest, NtFamilyGetsTheNtBackEnd) {
  SimVolumeIo io;
  std::unique_ptr<ScsiDevice> device;
  EXPECT_EQ(ScsiDevice::Create(ScsiDevice::Entry::kShort, &io, &device), rc::kOk);
  EXPECT_NE(dynamic_cast<NtScsiDevice*>(device.get()), nullptr);
}

TEST(WindowsVersionTest, XpOrLater) {
  EXPECT_FALSE(IsWindowsXpOrLater({VER_PLATFORM_WIN32_NT, 5, 0}));
  EXPECT_TRUE(IsWindowsXpOrLater({VER_PLATFORM_WIN32_NT, 5, 1}));
  EXPECT_TRUE(IsWindowsXpOrLater({VER_PLATFORM_WIN32_NT, 6, 0}));
  EXPECT_FALSE(IsWindowsXpOrLater({VER_PLATFORM_WIN32_WINDOWS, 5, 1}));
  EXPECT_TRUE(IsWindowsXpOrLater({VER_PLATFORM_WIN32_NT, 10, 0}));
}

}  // namespace
