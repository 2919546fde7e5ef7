#include "devices/msc/nt_scsi_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "devices/msc/msc_results.h"
#include "devices/msc/scsi_command.h"
#include "media/property_holder.h"
#include "msc_test_player.h"
#include "support/memory_stream.h"

namespace {

using Lines = std::vector<std::string>;

class NtScsiDeviceTest : public ::testing::Test {
 protected:
  MscTestPlayer sim;
  NtScsiDevice device{&sim.io};

  std::vector<MscDriveEntry> Entries() { return sim.Record().drive_entries; }
};

TEST_F(NtScsiDeviceTest, TypedRequestsReachThePlayer) {
  sim.player->replies[140] = {0, 0, 0, 119};
  sim.player->replies[144] = {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3};
  uint32_t minutes = 0;
  EXPECT_EQ(device.Request140Value('E', &minutes), rc::kOk);
  EXPECT_EQ(minutes, 1u);
  PropertyHolder counters;
  EXPECT_EQ(device.GetButtonCounters('E', counters), rc::kOk);
  EXPECT_EQ(counters.GetString("rotary_anticlockwise"), "3");
  EXPECT_EQ(device.Request117('E', 9, 3, 2), rc::kOk);
  EXPECT_EQ(device.Request119('E', 0xBEEF, 7), rc::kOk);
  EXPECT_EQ(device.SetTime('E', 100, 200), rc::kOk);
  ASSERT_EQ(sim.player->requests.size(), 4u);  // 140, 144, 117, 119
  EXPECT_EQ(sim.player->requests[2].number, 117u);
  EXPECT_EQ(sim.player->requests[2].value, 9u);
  EXPECT_EQ(sim.player->requests[2].index, 2u * 16384 + 3);
  EXPECT_EQ(sim.player->requests[3].value, 0xBEEFu);
  EXPECT_EQ(sim.player->requests[3].index, 7u);
  EXPECT_EQ(sim.player->times.back(), std::make_pair(100u, 200u));
  EXPECT_EQ(sim.io.LogLines("E: D0 140"), Lines{"E: D0 140 v=0 i=0 in=4"});
  EXPECT_EQ(sim.io.OpenHandleCount(), 0u);
}

TEST_F(NtScsiDeviceTest, SendTextCapsAtNinetySixBytes) {
  const std::string long_text(200, 'a');
  EXPECT_EQ(device.SendText('E', long_text, 3), rc::kOk);
  EXPECT_EQ(device.SendText('E', "0123456789", 0), rc::kOk);
  ASSERT_EQ(sim.player->requests.size(), 2u);
  EXPECT_EQ(sim.player->requests[0].value, 96u);
  EXPECT_EQ(sim.player->requests[0].index, 3u);
  EXPECT_EQ(sim.player->requests[0].data, std::vector<uint8_t>(96, 'a'));
  EXPECT_EQ(sim.player->requests[1].value, 10u);
  std::vector<uint8_t> expected(96, 0);
  std::memcpy(expected.data(), "0123456789", 10);
  EXPECT_EQ(sim.player->requests[1].data, expected);
}

TEST_F(NtScsiDeviceTest, UnknownRequestIsNotImplementedAndLeavesTheDataAlone) {
  auto command = MakeVendorRequest(150, 0, 0, 96);
  std::memset(command->data(), 0xAB, 96);
  HANDLE handle = INVALID_HANDLE_VALUE;
  ASSERT_EQ(device.Open('E', &handle), rc::kOk);
  EXPECT_EQ(device.Execute(handle, command.get()), rc::kNotImplemented);
  device.Close(handle);
  EXPECT_EQ(command->data()[0], 0xAB);
  EXPECT_EQ(command->data()[95], 0xAB);
  EXPECT_EQ(command->sense()[2], 5);
}

TEST_F(NtScsiDeviceTest, RejectedPassThroughGivesTheSystemError) {
  sim.io.drives['E'].access_denied = true;
  EXPECT_EQ(device.CheckUnitSerial('E'), rc::kDriveAccessDenied);
  sim.io.drives['E'].access_denied = false;
  // A failed call that leaves no error behind is still a failure.
  sim.io.drives['E'].silent_failure = true;
  EXPECT_EQ(device.CheckUnitSerial('E'), rc::kFail);
  EXPECT_EQ(device.Request134('E'), rc::kFail);
  EXPECT_EQ(device.CheckUnitSerial('G'), rc::FromWin32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(sim.io.OpenHandleCount(), 0u);
}

TEST_F(NtScsiDeviceTest, CheckUnitSerialNeedsText) {
  EXPECT_EQ(device.CheckUnitSerial('E'), rc::kOk);
  sim.io.drives['E'].unit_serial.clear();
  EXPECT_EQ(device.CheckUnitSerial('E'), rc::kFail);
}

TEST_F(NtScsiDeviceTest, FlushVolumesFlushesEveryDriveAndIgnoresMissingOnes) {
  std::vector<MscDriveEntry> entries = Entries();
  entries.push_back(MscDriveEntry{'G'});
  EXPECT_EQ(device.FlushVolumes('E', entries), rc::kOk);
  EXPECT_EQ(sim.io.LogLines("flush"), (Lines{"flush E:", "flush F:"}));
}

TEST_F(NtScsiDeviceTest, FirmwareGoesInPaddedBlocksAfterEveryDriveIsLocked) {
  std::vector<uint8_t> image(8193);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 1);
  MemoryStream stream(std::string(image.begin(), image.end()));
  ProgressLog progress;
  const auto entries = Entries();
  sim.io.log.clear();
  EXPECT_EQ(device.UpgradeFirmware('E', entries, 0, &stream, &progress), rc::kOk);
  EXPECT_EQ(sim.player->firmware_blocks, 2u);
  ASSERT_EQ(sim.player->firmware.size(), 16384u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), sim.player->firmware.begin()));
  EXPECT_EQ(std::count(sim.player->firmware.begin() + 8193, sim.player->firmware.end(), 0), 8191);
  EXPECT_EQ(progress.calls, (std::vector<std::pair<uint32_t, uint32_t>>{{8192, 8193}, {8193, 8193}}));
  // Both volumes are flushed, then locked, before the first block; all handles are closed.
  const Lines locks_and_blocks = [&] {
    Lines lines;
    for (const std::string& line : sim.io.log) {
      if (line.rfind("lock", 0) == 0 || line.rfind("flush", 0) == 0 ||
          line.find("WRITE BUFFER") != std::string::npos) {
        lines.push_back(line);
      }
    }
    return lines;
  }();
  EXPECT_EQ(locks_and_blocks, (Lines{"flush E:", "flush F:", "lock E:", "lock F:",
                                     "E: WRITE BUFFER 0 block 0", "E: WRITE BUFFER 0 block 1"}));
  EXPECT_EQ(sim.io.OpenHandleCount(), 0u);
  EXPECT_EQ(sim.io.drives['F'].locks, 0);
}

TEST_F(NtScsiDeviceTest, FirmwareBufferIdFollowsTheFlags) {
  struct Case {
    uint32_t flags;
    uint8_t buffer_id;
  } cases[] = {{0, 0}, {0x10, 0}, {0x08, 1}, {0x28, 1}, {0x20, 2}};
  for (const Case& c : cases) {
    MemoryStream stream(std::string(10, '\1'));
    sim.player->firmware_blocks = 0;
    sim.player->firmware_buffer_ids.clear();
    EXPECT_EQ(device.UpgradeFirmware('E', Entries(), c.flags, &stream, nullptr), rc::kOk);
    EXPECT_EQ(sim.player->firmware_buffer_ids, std::vector<uint8_t>{c.buffer_id}) << c.flags;
  }
}

TEST_F(NtScsiDeviceTest, EmptyImageSendsNothing) {
  MemoryStream stream;
  EXPECT_EQ(device.UpgradeFirmware('E', Entries(), 0, &stream, nullptr), rc::kOk);
  EXPECT_EQ(sim.player->firmware_blocks, 0u);
  EXPECT_EQ(sim.io.OpenHandleCount(), 0u);
}

TEST_F(NtScsiDeviceTest, SiblingThatWillNotLockStopsTheUpgradeBeforeAnyBlock) {
  const auto entries = Entries();
  sim.io.drives['F'].lock_refused = true;
  MemoryStream stream(std::string(100, '\1'));
  EXPECT_EQ(device.UpgradeFirmware('E', entries, 0, &stream, nullptr), rc::kVolumeLockRejected);
  EXPECT_EQ(sim.player->firmware_blocks, 0u);
  EXPECT_EQ(sim.io.OpenHandleCount(), 0u);
  sim.io.drives['F'].lock_refused = false;
  sim.io.drives['E'].lock_refused = true;
  EXPECT_EQ(device.UpgradeFirmware('E', entries, 0, &stream, nullptr), rc::kVolumeLockRejected);
  EXPECT_EQ(sim.io.OpenHandleCount(), 0u);
}

TEST_F(NtScsiDeviceTest, FailingBlockEndsTheUpgrade) {
  const auto entries = Entries();
  sim.io.drives['E'].access_denied = true;
  MemoryStream stream(std::string(20000, '\1'));
  ProgressLog progress;
  EXPECT_EQ(device.UpgradeFirmware('E', entries, 0, &stream, &progress), rc::kDriveAccessDenied);
  EXPECT_TRUE(progress.calls.empty());
  EXPECT_EQ(sim.io.OpenHandleCount(), 0u);
}

}  // namespace
