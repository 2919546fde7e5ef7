// A player disk on a simulated hard-disk player, with a clock that moves only when the polling
// loop sleeps.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "devices/harddisk/player_disk.h"
#include "sim/harddisk/harddisk_player.h"

class ManualFx2Clock : public Fx2Clock {
 public:
  int64_t NowMicroseconds() override { return now_us; }
  void SleepMilliseconds(uint32_t ms) override {
    ++sleeps;
    now_us += static_cast<int64_t>(ms) * 1000;
  }
  int64_t now_us = 1700000000LL * 1000000;
  int sleeps = 0;
};

class HardDiskSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    player = std::make_shared<SimHardDiskPlayer>(1000);
    usb = std::make_unique<SimHardDiskUsb>(player);
    ASSERT_EQ(usb->Open(), rc::kOk);
    ASSERT_EQ(PlayerDisk::Create(usb.get(), &disk, &clock), rc::kOk);
    Fx2IoHost::SetSequenceNumberForTest(0x1234);
  }

  ManualFx2Clock clock;
  std::shared_ptr<SimHardDiskPlayer> player;
  std::unique_ptr<SimHardDiskUsb> usb;
  std::unique_ptr<PlayerDisk> disk;
};
