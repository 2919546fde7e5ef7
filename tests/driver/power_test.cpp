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

TEST_F(PowerTest, ASystemStateIsSetEvenWhenTheDeviceCannotFollowIt) {
  StartPlayer();
  bus_->device_power_status = STATUS_UNSUCCESSFUL;
  EXPECT_EQ(Power(IRP_MN_SET_POWER, SystemPowerState, PowerSystemSleeping3), STATUS_SUCCESS);
  EXPECT_THAT(bus_->PowerRequests(), Contains(Pair(DevicePowerState, PowerDeviceD3)));
  auto pipe = Open(L"\\PIPE00");
  auto read = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
  ASSERT_TRUE(read->Wait(kWatchdogMs)) << "still in D0: requests are not held";
  EXPECT_EQ(read->status(), STATUS_SUCCESS);
  host_->Close(std::move(pipe));
  bus_->device_power_status = STATUS_SUCCESS;
  EXPECT_EQ(Power(IRP_MN_SET_POWER, SystemPowerState, PowerSystemWorking), STATUS_SUCCESS);
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

// The system may only be refused a state while it asks; a state it sets is always passed on,
// and the device follows it with the state the capabilities give.
TEST_F(WakeTest, OnlyAQueryForASleepTooDeepToWakeFromIsRefused) {
  struct {
    const char* what;
    SYSTEM_POWER_STATE system_wake;
    DEVICE_POWER_STATE device_wake;
    bool armed;             // a wait-wake goes to the bus at the start
    NTSTATUS query_deeper;  // asking for hibernation, deeper than sleeping state 3
    NTSTATUS query_d3;      // asking for D3, deeper than D2
  } const cases[] = {
      {"wakes from S3 and D2", PowerSystemSleeping3, PowerDeviceD2, true,
       STATUS_INVALID_DEVICE_STATE, STATUS_INVALID_DEVICE_STATE},
      {"no wake states named", PowerSystemUnspecified, PowerDeviceUnspecified, false,
       STATUS_SUCCESS, STATUS_SUCCESS},
      {"wakes only the working system", PowerSystemWorking, PowerDeviceD2, false,
       STATUS_SUCCESS, STATUS_INVALID_DEVICE_STATE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    bus_->capabilities.SystemWake = c.system_wake;
    bus_->capabilities.DeviceWake = c.device_wake;
    StartPlayer();
    EXPECT_EQ(bus_->WaitWakePending(), c.armed);
    EXPECT_EQ(Power(IRP_MN_QUERY_POWER, SystemPowerState, PowerSystemHibernate), c.query_deeper);
    EXPECT_EQ(Power(IRP_MN_QUERY_POWER, SystemPowerState, PowerSystemSleeping3),
              STATUS_SUCCESS);
    EXPECT_EQ(Power(IRP_MN_QUERY_POWER, SystemPowerState, PowerSystemWorking), STATUS_SUCCESS);
    EXPECT_EQ(Power(IRP_MN_QUERY_POWER, DevicePowerState, PowerDeviceD3), c.query_d3);
    EXPECT_EQ(Power(IRP_MN_QUERY_POWER, DevicePowerState, PowerDeviceD2), STATUS_SUCCESS);

    ASSERT_EQ(Power(IRP_MN_SET_POWER, SystemPowerState, PowerSystemHibernate), STATUS_SUCCESS)
        << "a system state that is set is never refused";
    EXPECT_THAT(bus_->PowerRequests(), Contains(Pair(SystemPowerState, PowerSystemHibernate)));
    EXPECT_EQ(ksub::LastPowerState(DevicePowerState).DeviceState, PowerDeviceD3);
    ASSERT_EQ(Power(IRP_MN_SET_POWER, SystemPowerState, PowerSystemWorking), STATUS_SUCCESS);
    EXPECT_EQ(ksub::LastPowerState(DevicePowerState).DeviceState, PowerDeviceD0);
  }
}

TEST_F(WakeTest, AStateTheCapabilitiesLeaveUnspecifiedMeansD3AsleepAndD0Awake) {
  for (int s = PowerSystemWorking; s < PowerSystemMaximum; ++s) {
    bus_->capabilities.DeviceState[s] = PowerDeviceUnspecified;
  }
  StartPlayer();
  ASSERT_EQ(Power(IRP_MN_SET_POWER, SystemPowerState, PowerSystemSleeping1), STATUS_SUCCESS);
  EXPECT_EQ(ksub::LastPowerState(DevicePowerState).DeviceState, PowerDeviceD3);
  ASSERT_EQ(Power(IRP_MN_SET_POWER, SystemPowerState, PowerSystemWorking), STATUS_SUCCESS);
  EXPECT_EQ(ksub::LastPowerState(DevicePowerState).DeviceState, PowerDeviceD0);
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

// The cancelled wait-wake's completion still uses the device: removal must not delete it
// before the bus has completed the cancel.
TEST_F(WakeTest, RemovalWaitsForTheCancelledWaitWakeToComplete) {
  // Windows 98 sends no surprise removal: REMOVE comes alone.
  for (bool surprise_first : {true, false}) {
    SCOPED_TRACE(surprise_first ? "after surprise removal" : "REMOVE alone");
    TearDown();
    SetUp();
    bus_->complete_cancels_later = true;
    StartPlayer();
    ASSERT_TRUE(bus_->WaitWakePending());
    if (surprise_first) {
      ASSERT_EQ(host_->Pnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
    }
    auto remove = host_->SendPnp(IRP_MN_REMOVE_DEVICE);
    for (int i = 0; i < 500 && bus_->CancelledPending() == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(bus_->CancelledPending(), 1u) << "removal cancels the wait-wake";
    EXPECT_FALSE(remove->Wait(100)) << "REMOVE ended before the wait-wake did";
    EXPECT_EQ(ksub::LiveDevices(), 2u);
    bus_->CompleteCancelled();
    ASSERT_TRUE(remove->Wait(kWatchdogMs));
    EXPECT_EQ(remove->status(), STATUS_SUCCESS);
    EXPECT_EQ(ksub::LiveDevices(), 1u);
  }
}

}  // namespace
