// Device and system power, and waking through the device.
#include "driver/driver_fixture.h"

namespace {

using ::testing::Contains;
using ::testing::Pair;

constexpr int kWatchdogMs = 5000;

class PowerTest : public DriverFixture {
 protected:
  explicit PowerTest(bool remote_wakeup = false)
      : DriverFixture(PlayerEndpoints(), remote_wakeup) {}

  NTSTATUS Power(UCHAR minor, POWER_STATE_TYPE type, ULONG state) {
    auto request = host_->SendPower(minor, type, state);
    return request->Wait(kWatchdogMs) ? request->status() : STATUS_TIMEOUT;
  }
  uint8_t buffer_[64];
};

TEST_F(PowerTest, D0ToD3AndBackHoldsReadsMeanwhile) {
  StartPlayer();
  auto pipe = Open(L"\\PIPE00");
  ASSERT_EQ(Power(IRP_MN_SET_POWER, DevicePowerState, PowerDeviceD3), STATUS_SUCCESS);
  EXPECT_EQ(ksub::LastPowerState(DevicePowerState).DeviceState, PowerDeviceD3);
  EXPECT_THAT(bus_->PowerRequests(), Contains(Pair(DevicePowerState, PowerDeviceD3)));

  auto read = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
  EXPECT_FALSE(read->Wait(100)) << "a sleeping device holds reads";
  EXPECT_TRUE(bus_->Transfers().empty());

  ASSERT_EQ(Power(IRP_MN_SET_POWER, DevicePowerState, PowerDeviceD0), STATUS_SUCCESS);
  EXPECT_EQ(ksub::LastPowerState(DevicePowerState).DeviceState, PowerDeviceD0);
  ASSERT_TRUE(read->Wait(kWatchdogMs));
  EXPECT_EQ(read->status(), STATUS_SUCCESS);
  host_->Close(std::move(pipe));
}

TEST_F(PowerTest, GoingToD3WaitsForTransfersInFlight) {
  StartPlayer();
  auto pipe = Open(L"\\PIPE00");
  FakeUsbBus::Reply hold;
  hold.hold = true;
  bus_->QueueReply(0, hold);
  auto read = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
  ASSERT_TRUE(bus_->WaitForHeld(1, kWatchdogMs));
  auto sleep = host_->SendPower(IRP_MN_SET_POWER, DevicePowerState, PowerDeviceD3);
  EXPECT_FALSE(sleep->Wait(100));
  bus_->ReleaseHeld();
  ASSERT_TRUE(read->Wait(kWatchdogMs));
  ASSERT_TRUE(sleep->Wait(kWatchdogMs));
  EXPECT_EQ(sleep->status(), STATUS_SUCCESS);
  ASSERT_EQ(Power(IRP_MN_SET_POWER, DevicePowerState, PowerDeviceD0), STATUS_SUCCESS);
  host_->Close(std::move(pipe));
}

TEST_F(PowerTest, SystemStatesBecomeTheCapabilitiesDeviceStates) {
  StartPlayer();
  ASSERT_EQ(Power(IRP_MN_SET_POWER, SystemPowerState, PowerSystemSleeping3), STATUS_SUCCESS);
  EXPECT_EQ(ksub::LastPowerState(DevicePowerState).DeviceState, PowerDeviceD3);
  ASSERT_EQ(Power(IRP_MN_SET_POWER, SystemPowerState, PowerSystemWorking), STATUS_SUCCESS);
  EXPECT_EQ(ksub::LastPowerState(DevicePowerState).DeviceState, PowerDeviceD0);
  EXPECT_THAT(bus_->PowerRequests(), Contains(Pair(SystemPowerState, PowerSystemSleeping3)));
  auto pipe = Open(L"\\PIPE00");
  auto read = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
  ASSERT_TRUE(read->Wait(kWatchdogMs));
  EXPECT_EQ(read->status(), STATUS_SUCCESS);
  host_->Close(std::move(pipe));
}

TEST_F(PowerTest, QueriesPassWithoutRemoteWakeup) {
  StartPlayer();
  EXPECT_EQ(Power(IRP_MN_QUERY_POWER, DevicePowerState, PowerDeviceD3), STATUS_SUCCESS);
  EXPECT_EQ(Power(IRP_MN_QUERY_POWER, SystemPowerState, PowerSystemHibernate),
            STATUS_SUCCESS);
}

class WakeTest : public PowerTest {
 protected:
  WakeTest() : PowerTest(true) {}
};

TEST_F(WakeTest, ARemoteWakeupDeviceArmsWaitWakeAndRefusesDeeperStates) {
  StartPlayer();
  EXPECT_TRUE(bus_->WaitWakePending());
  EXPECT_EQ(Power(IRP_MN_SET_POWER, SystemPowerState, PowerSystemHibernate),
            STATUS_INVALID_DEVICE_STATE)
      << "deeper than the state the device can wake the system from";
  EXPECT_EQ(Power(IRP_MN_QUERY_POWER, DevicePowerState, PowerDeviceD3),
            STATUS_INVALID_DEVICE_STATE);
  EXPECT_EQ(Power(IRP_MN_QUERY_POWER, DevicePowerState, PowerDeviceD2), STATUS_SUCCESS);
}

TEST_F(WakeTest, AWakeBringsTheDeviceBackToD0AndArmsAgain) {
  StartPlayer();
  ASSERT_EQ(Power(IRP_MN_SET_POWER, DevicePowerState, PowerDeviceD2), STATUS_SUCCESS);
  bus_->Wake();
  ksub::DrainWorkItems();
  for (int i = 0; i < 100 && ksub::LastPowerState(DevicePowerState).DeviceState !=
                                 PowerDeviceD0;
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ksub::LastPowerState(DevicePowerState).DeviceState, PowerDeviceD0);
  EXPECT_TRUE(bus_->WaitWakePending()) << "armed again";
}

TEST_F(WakeTest, RemovalCancelsTheWaitWake) {
  StartPlayer();
  ASSERT_TRUE(bus_->WaitWakePending());
  ASSERT_EQ(host_->Pnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
  EXPECT_FALSE(bus_->WaitWakePending());
  ASSERT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
}

}  // namespace
