// A simulated player of two drives (E: internal memory, F: a card) behind the volume I/O, and
// the environment that points the mass-storage code at it.
#pragma once

#include <memory>

#include "devices/msc/msc_device.h"
#include "devices/progress_sink.h"
#include "devices/msc/scsi_device.h"
#include "sim/msc/sim_msc_player.h"

// Records each report; answers `answer`.
struct ProgressLog : ProgressSink {
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  Result answer = rc::kOk;
  Result Report(uint32_t done, uint32_t total) override {
    calls.emplace_back(done, total);
    return answer;
  }
};

struct MscTestPlayer {
  SimVolumeIo io;
  std::shared_ptr<SimMscPlayer> player = std::make_shared<SimMscPlayer>();

  MscTestPlayer() {
    io.drives['E'].player = player;
    io.drives['E'].unit_serial = "UNIT-E";
    io.drives['F'].player = player;
    io.drives['F'].unit_serial = "UNIT-F";
    io.drives['F'].drive_id = 2;
    io.drives['F'].drive_name = "Card";
  }

  MscEnvironment Environment() {
    MscEnvironment environment;
    environment.volume_io = &io;
    return environment;
  }

  std::unique_ptr<ScsiDevice> Scsi() {
    std::unique_ptr<ScsiDevice> scsi;
    EXPECT_EQ(ScsiDevice::Create(ScsiDevice::Entry::kFull, &io, &scsi), rc::kOk);
    return scsi;
  }

  // The player's record as the drive walk finds it.
  MscDriveRecord Record() {
    std::vector<MscDriveRecord> records;
    EXPECT_EQ(Scsi()->EnumerateDrives(&records), rc::kOk);
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? MscDriveRecord() : records[0];
  }
};
