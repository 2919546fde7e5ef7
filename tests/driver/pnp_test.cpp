// Adding, starting, stopping and removing the device, with requests held and in flight.
#include "driver/driver_fixture.h"

extern "C" {
#include "driver.h"
}

namespace {

using ::testing::IsEmpty;

constexpr int kWatchdogMs = 5000;

// The WDM versions of the two families: Windows 98 and 98 SE, ME; Windows 2000, XP, 2003.
struct WdmVersion {
  const char* system;
  UCHAR major, minor;
};
constexpr WdmVersion kWindows9x[] = {{"98", 1, 0x00}, {"ME", 1, 0x05}};
constexpr WdmVersion kWindowsNt[] = {{"2000", 1, 0x10}, {"XP", 1, 0x20}, {"2003", 1, 0x30}};

class PnpTest : public DriverFixture {
 protected:
  DriverHost::RequestPtr HeldRead(File* file) {
    FakeUsbBus::Reply hold;
    hold.hold = true;
    bus_->QueueReply(0, hold);
    const size_t before = bus_->Held();
    auto read = host_->Read(file, buffer_, sizeof(buffer_));
    EXPECT_TRUE(bus_->WaitForHeld(before + 1, kWatchdogMs));
    return read;
  }
  // A fresh driver over a fresh bus on the system of `version`, with the player started and
  // its first pipe open.
  std::unique_ptr<File> StartedOn(const WdmVersion& version) {
    TearDown();
    SetUp();
    ksub::SetWdmVersion(version.major, version.minor);
    StartPlayer();
    return Open(L"\\PIPE00");
  }
  // A new read and an I/O control code on `pipe` fail at once, and nothing reaches the bus.
  void ExpectNewRequestsFail(File* pipe) {
    auto late = host_->Read(pipe, buffer_, sizeof(buffer_));
    ASSERT_TRUE(late->Wait(kWatchdogMs));
    EXPECT_EQ(late->status(), STATUS_DELETE_PENDING);
    std::vector<uint8_t> descriptor(18);
    auto control = host_->Control(pipe, 0x220018, nullptr, 0, descriptor.data(), 18);
    ASSERT_TRUE(control->Wait(kWatchdogMs));
    EXPECT_EQ(control->status(), STATUS_DELETE_PENDING);
    EXPECT_TRUE(bus_->Transfers().empty());
  }
  uint8_t buffer_[64];
};

TEST_F(PnpTest, AddDeviceNeedsTheProductGuid) {
  struct {
    const char* what;
    ULONG type;
    std::wstring text;
    NTSTATUS status;
  } const cases[] = {
      {"a GUID", REG_SZ, ksub::GuidText(kProductInterface), STATUS_SUCCESS},
      {"lower case", REG_SZ, L"{60641432-cebf-11d3-a27b-0080c8fd7f34}", STATUS_SUCCESS},
      {"no braces", REG_SZ, L"60641432-CEBF-11D3-A27B-0080C8FD7F34", STATUS_INVALID_PARAMETER},
      {"not a GUID", REG_SZ, L"player", STATUS_INVALID_PARAMETER},
      {"empty", REG_SZ, L"", STATUS_INVALID_PARAMETER},
      {"not a string", 4, L"{60641432-CEBF-11D3-A27B-0080C8FD7F34}", STATUS_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.text.c_str());
    ksub::SetRegistryValue(bus_->pdo(), L"DeviceGUID", c.type,
                           std::vector<uint8_t>(bytes, bytes + (c.text.size() + 1) * 2));
    EXPECT_EQ(host_->AddDevice(), c.status);
    EXPECT_EQ(bus_->pdo()->AttachedDevice != nullptr, c.status == STATUS_SUCCESS);
  }
}

TEST_F(PnpTest, AddDeviceWithoutTheProductGuidFails) {
  ksub::RemoveRegistryValue(bus_->pdo(), L"DeviceGUID");
  EXPECT_EQ(host_->AddDevice(), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(bus_->pdo()->AttachedDevice, nullptr);
  EXPECT_EQ(ksub::LiveDevices(), 1u) << "only the bus's own device is left";
}

TEST_F(PnpTest, OnlyRunningOutOfMemoryWhileProbingForSinglePipeModeFailsAddDevice) {
  ksub::FailRegistryQuery(L"VeltoStylePipes", STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(host_->AddDevice(), STATUS_INSUFFICIENT_RESOURCES);
  TearDown();
  SetUp();
  ksub::FailRegistryQuery(L"VeltoStylePipes", STATUS_ACCESS_VIOLATION);
  EXPECT_EQ(host_->AddDevice(), STATUS_SUCCESS);
}

TEST_F(PnpTest, AddDeviceKnowsTheWdmVersion) {
  const struct {
    UCHAR major, minor;
    ULONG version_class;
  } cases[] = {{1, 0x30, MIRRIN_WDM_132}, {1, 0x20, MIRRIN_WDM_132}, {1, 0x10, MIRRIN_WDM_116},
               {1, 0x05, MIRRIN_WDM_105}, {1, 0x00, MIRRIN_WDM_100}};
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    ksub::SetWdmVersion(c.major, c.minor);
    ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
    EXPECT_EQ(MIRRIN_EXT(host_->fdo())->WdmVersion, c.version_class) << int(c.minor);
  }
}

TEST_F(PnpTest, StartEnablesBothInterfacesAndRemovalDisablesThem) {
  ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
  EXPECT_EQ(ksub::Interfaces().size(), 2u);
  EXPECT_FALSE(ksub::InterfaceEnabled(kDriverInterface));
  ASSERT_EQ(host_->Start(), STATUS_SUCCESS);
  EXPECT_TRUE(ksub::InterfaceEnabled(kDriverInterface));
  EXPECT_TRUE(ksub::InterfaceEnabled(kProductInterface));
  EXPECT_TRUE(bus_->configured);
  ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
  ASSERT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
  EXPECT_FALSE(ksub::InterfaceEnabled(kDriverInterface));
  EXPECT_FALSE(ksub::InterfaceEnabled(kProductInterface));
  EXPECT_EQ(ksub::LiveDevices(), 1u);
}

TEST_F(PnpTest, AStartWithoutDescriptorsFailsAndLeavesTheInterfacesDisabled) {
  const struct {
    const char* what;
    void (*damage)(FakeUsbBus&);
  } cases[] = {
      {"descriptors unreadable", [](FakeUsbBus& bus) { bus.fail_descriptor_reads = true; }},
      {"configuration longer than sent",
       [](FakeUsbBus& bus) { bus.config_descriptor[2] = 200; }},
      {"configuration shorter than its header",
       [](FakeUsbBus& bus) { bus.config_descriptor[2] = 4; }},
      {"device descriptor of another type", [](FakeUsbBus& bus) { bus.device_descriptor[1] = 2; }},
      {"endpoint runs past the end", [](FakeUsbBus& bus) { bus.config_descriptor[18] = 40; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    c.damage(*bus_);
    ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
    EXPECT_FALSE(NT_SUCCESS(host_->Start()));
    EXPECT_FALSE(ksub::InterfaceEnabled(kDriverInterface));
    EXPECT_FALSE(ksub::InterfaceEnabled(kProductInterface));
  }
}

TEST_F(PnpTest, QueryStopWaitsForReadsInFlightAndHoldsNewOnesUntilCancelStop) {
  StartPlayer();
  auto pipe = Open(L"\\PIPE00");
  auto in_flight = HeldRead(pipe.get());
  auto query = host_->SendPnp(IRP_MN_QUERY_STOP_DEVICE);
  EXPECT_FALSE(query->Wait(100)) << "QUERY_STOP must wait for the read in flight";
  bus_->ReleaseHeld();
  ASSERT_TRUE(in_flight->Wait(kWatchdogMs));
  ASSERT_TRUE(query->Wait(kWatchdogMs));
  EXPECT_EQ(query->status(), STATUS_SUCCESS);

  auto held = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
  EXPECT_FALSE(held->Wait(100)) << "a read while a stop is pending is held";
  EXPECT_EQ(bus_->Transfers().size(), 1u);
  ASSERT_EQ(host_->Pnp(IRP_MN_CANCEL_STOP_DEVICE), STATUS_SUCCESS);
  ASSERT_TRUE(held->Wait(kWatchdogMs));
  EXPECT_EQ(held->status(), STATUS_SUCCESS);
  EXPECT_EQ(held->information(), sizeof(buffer_));
  host_->Close(std::move(pipe));
}

// The NT family stops a device only to rebalance its resources: what comes meanwhile waits
// for the next start. Windows 98 and ME also stop a device to disable it: the player must
// vanish from the interface lists and every request fail at once, held or new, until a start
// brings it back. A handle kept over the stop works again after the start.
TEST_F(PnpTest, AStopHoldsRequestsOnTheNtFamilyAndDisablesThePlayerOnWindows9x) {
  std::vector<std::pair<WdmVersion, bool>> systems;  // the version, and whether a stop disables
  for (const auto& version : kWindowsNt) systems.emplace_back(version, false);
  for (const auto& version : kWindows9x) systems.emplace_back(version, true);
  for (const auto& [version, disables] : systems) {
    SCOPED_TRACE(version.system);
    auto pipe = StartedOn(version);
    ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    auto held = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
    EXPECT_FALSE(held->Wait(50));
    ASSERT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_FALSE(bus_->configured) << "a stopped device is deconfigured";
    EXPECT_EQ(ksub::InterfaceEnabled(kDriverInterface), !disables);
    EXPECT_EQ(ksub::InterfaceEnabled(kProductInterface), !disables);
    if (disables) {
      ASSERT_TRUE(held->Wait(kWatchdogMs)) << "a held read still waits on a disabled player";
      EXPECT_EQ(held->status(), STATUS_DELETE_PENDING);
      ExpectNewRequestsFail(pipe.get());
      std::unique_ptr<File> other;
      EXPECT_EQ(host_->Open(L"\\PIPE01", &other), STATUS_INVALID_DEVICE_STATE);
    } else {
      EXPECT_FALSE(held->Wait(100)) << "a read while stopped is held";
    }

    ASSERT_EQ(host_->Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    EXPECT_TRUE(ksub::InterfaceEnabled(kDriverInterface));
    EXPECT_TRUE(ksub::InterfaceEnabled(kProductInterface));
    if (!disables) {
      ASSERT_TRUE(held->Wait(kWatchdogMs));
      EXPECT_EQ(held->status(), STATUS_SUCCESS);
    }
    std::unique_ptr<File> second;
    EXPECT_EQ(host_->Open(L"\\PIPE00", &second), STATUS_DEVICE_BUSY)
        << "the handle kept over the stop still holds its pipe";
    auto again = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
    ASSERT_TRUE(again->Wait(kWatchdogMs));
    EXPECT_EQ(again->status(), STATUS_SUCCESS);
    host_->Close(std::move(pipe));
  }
}

// Without a query first, a transfer may still be at the bus when the stop comes: it ends
// before the configuration goes.
TEST_F(PnpTest, OnWindows9xAStopWithoutAQueryEndsTransfersInFlight) {
  for (const auto& version : kWindows9x) {
    SCOPED_TRACE(version.system);
    auto pipe = StartedOn(version);
    auto in_flight = HeldRead(pipe.get());
    auto stop = host_->SendPnp(IRP_MN_STOP_DEVICE);
    ASSERT_TRUE(stop->Wait(kWatchdogMs)) << "STOP did not end";
    EXPECT_EQ(stop->status(), STATUS_SUCCESS);
    ASSERT_TRUE(in_flight->Wait(kWatchdogMs));
    EXPECT_EQ(in_flight->status(), STATUS_CANCELLED);
    EXPECT_FALSE(bus_->configured);
    EXPECT_FALSE(ksub::InterfaceEnabled(kProductInterface));
    host_->Close(std::move(pipe));
  }
}

// After a failed start Windows 98 and ME send a stop; the player stays disabled until a start
// that works.
TEST_F(PnpTest, OnWindows9xAStopAfterAFailedStartKeepsThePlayerDisabled) {
  for (const auto& version : kWindows9x) {
    SCOPED_TRACE(version.system);
    TearDown();
    SetUp();
    ksub::SetWdmVersion(version.major, version.minor);
    bus_->fail_descriptor_reads = true;
    ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
    EXPECT_FALSE(NT_SUCCESS(host_->Start()));
    ASSERT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_FALSE(ksub::InterfaceEnabled(kDriverInterface));
    EXPECT_FALSE(ksub::InterfaceEnabled(kProductInterface));
    bus_->fail_descriptor_reads = false;
    ASSERT_EQ(host_->Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    EXPECT_TRUE(ksub::InterfaceEnabled(kProductInterface));
    EXPECT_EQ(OneByteOn(L"\\PIPE00", false), STATUS_SUCCESS);
  }
}

TEST_F(PnpTest, CleanupCancelsTheHeldRequestsOfItsFileOnly) {
  StartPlayer();
  auto read_pipe = Open(L"\\PIPE00");
  auto write_pipe = Open(L"\\PIPE01");
  ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
  auto read = host_->Read(read_pipe.get(), buffer_, sizeof(buffer_));
  auto write = host_->Write(write_pipe.get(), buffer_, sizeof(buffer_));
  host_->Close(std::move(read_pipe));
  ASSERT_TRUE(read->Wait(kWatchdogMs));
  EXPECT_EQ(read->status(), STATUS_CANCELLED);
  EXPECT_FALSE(write->Wait(50));
  ASSERT_EQ(host_->Pnp(IRP_MN_CANCEL_STOP_DEVICE), STATUS_SUCCESS);
  ASSERT_TRUE(write->Wait(kWatchdogMs));
  EXPECT_EQ(write->status(), STATUS_SUCCESS);
  host_->Close(std::move(write_pipe));
}

TEST_F(PnpTest, AHeldRequestCanBeCancelled) {
  StartPlayer();
  auto pipe = Open(L"\\PIPE00");
  ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
  auto read = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
  read->Cancel();
  ASSERT_TRUE(read->Wait(kWatchdogMs));
  EXPECT_EQ(read->status(), STATUS_CANCELLED);
  ASSERT_EQ(host_->Pnp(IRP_MN_CANCEL_STOP_DEVICE), STATUS_SUCCESS);
  host_->Close(std::move(pipe));
}

TEST_F(PnpTest, SurpriseRemovalFailsHeldAndNewRequests) {
  StartPlayer();
  auto pipe = Open(L"\\PIPE00");
  ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
  auto held = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
  EXPECT_FALSE(held->Wait(50));
  ASSERT_EQ(host_->Pnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
  ASSERT_TRUE(held->Wait(kWatchdogMs));
  EXPECT_EQ(held->status(), STATUS_DELETE_PENDING);
  EXPECT_FALSE(ksub::InterfaceEnabled(kDriverInterface));
  EXPECT_FALSE(ksub::InterfaceEnabled(kProductInterface));
  ExpectNewRequestsFail(pipe.get());
  host_->Close(std::move(pipe));
  EXPECT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
}

TEST_F(PnpTest, RemoveAfterSurpriseRemovalWaitsForTransfersInFlight) {
  bus_->abort_ends_held = false;  // the transfer ends only when the test says so
  StartPlayer();
  auto pipe = Open(L"\\PIPE00");
  auto in_flight = HeldRead(pipe.get());
  ASSERT_EQ(host_->Pnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
  EXPECT_FALSE(in_flight->Wait(50));
  auto remove = host_->SendPnp(IRP_MN_REMOVE_DEVICE);
  EXPECT_FALSE(remove->Wait(100)) << "REMOVE must wait for the transfer in flight";
  bus_->ReleaseHeld(STATUS_DEVICE_NOT_CONNECTED);
  ASSERT_TRUE(in_flight->Wait(kWatchdogMs));
  EXPECT_EQ(in_flight->status(), STATUS_DEVICE_NOT_CONNECTED);
  ASSERT_TRUE(remove->Wait(kWatchdogMs)) << "REMOVE did not end";
  EXPECT_EQ(remove->status(), STATUS_SUCCESS);
  EXPECT_EQ(ksub::LiveDevices(), 1u);
  EXPECT_EQ(ksub::LivePoolBlocks(), pool_before_add_);
}

// A request held after the surprise removal's own draining (the queue set back to hold by a
// path that read the state before the removal) still fails when REMOVE comes.
TEST_F(PnpTest, RemoveAfterSurpriseRemovalFailsRequestsHeldMeanwhile) {
  StartPlayer();
  auto pipe = Open(L"\\PIPE00");
  ASSERT_EQ(host_->Pnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
  MirrinSetQueueState(MIRRIN_EXT(host_->fdo()), MIRRIN_QUEUE_HOLD);
  auto held = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
  EXPECT_FALSE(held->Wait(50));
  ASSERT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
  ASSERT_TRUE(held->Wait(kWatchdogMs)) << "REMOVE left a request held";
  EXPECT_EQ(held->status(), STATUS_DELETE_PENDING);
  host_->Close(std::move(pipe));
}

// Power changes after a surprise removal do not reopen or hold its failing queue.
TEST_F(PnpTest, PowerChangesAfterSurpriseRemovalKeepTheQueueFailing) {
  StartPlayer();
  auto pipe = Open(L"\\PIPE00");
  auto power = [this](ULONG state) {
    auto request = host_->SendPower(IRP_MN_SET_POWER, DevicePowerState, state);
    return request->Wait(kWatchdogMs) ? request->status() : STATUS_TIMEOUT;
  };
  ASSERT_EQ(power(PowerDeviceD3), STATUS_SUCCESS);
  ASSERT_EQ(host_->Pnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
  for (ULONG state : {PowerDeviceD0, PowerDeviceD3}) {
    ASSERT_EQ(power(state), STATUS_SUCCESS);
    ksub::DrainWorkItems();
    auto read = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
    ASSERT_TRUE(read->Wait(kWatchdogMs)) << "a read was held in D" << state - 1;
    EXPECT_EQ(read->status(), STATUS_DELETE_PENDING);
  }
  host_->Close(std::move(pipe));
}

TEST_F(PnpTest, RemoveAbortsTheOpenPipes) {
  StartPlayer();
  auto pipe = Open(L"\\PIPE00");
  auto in_flight = HeldRead(pipe.get());
  ASSERT_EQ(host_->Pnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
  ASSERT_TRUE(in_flight->Wait(kWatchdogMs));
  EXPECT_EQ(in_flight->status(), STATUS_CANCELLED);
  EXPECT_THAT(bus_->PipeRequests(),
              ::testing::Contains(std::make_pair(USHORT{URB_FUNCTION_ABORT_PIPE}, 0)));
  EXPECT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
}

TEST_F(PnpTest, RemoveOfAnIdleDeviceEnds) {
  for (bool query_first : {false, true}) {
    TearDown();
    SetUp();
    StartPlayer();
    if (query_first) { ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS); }
    auto remove = host_->SendPnp(IRP_MN_REMOVE_DEVICE);
    ASSERT_TRUE(remove->Wait(kWatchdogMs)) << "REMOVE waited for itself";
    EXPECT_EQ(remove->status(), STATUS_SUCCESS);
    EXPECT_EQ(ksub::LivePoolBlocks(), pool_before_add_);
  }
}

TEST_F(PnpTest, CancelRemoveWithoutQueryRemoveChangesNothing) {
  StartPlayer();
  auto pipe = Open(L"\\PIPE00");
  ASSERT_EQ(host_->Pnp(IRP_MN_CANCEL_REMOVE_DEVICE), STATUS_SUCCESS);
  auto read = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
  ASSERT_TRUE(read->Wait(kWatchdogMs));
  EXPECT_EQ(read->status(), STATUS_SUCCESS);
  ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
  ASSERT_EQ(host_->Pnp(IRP_MN_CANCEL_REMOVE_DEVICE), STATUS_SUCCESS);
  read = host_->Read(pipe.get(), buffer_, sizeof(buffer_));
  ASSERT_TRUE(read->Wait(kWatchdogMs));
  EXPECT_EQ(read->status(), STATUS_SUCCESS);
  host_->Close(std::move(pipe));
}

TEST_F(PnpTest, CapabilitiesAreCheckedAndAllowSurpriseRemoval) {
  ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
  ASSERT_EQ(host_->Start(), STATUS_SUCCESS);
  // The fake bus keeps what the driver set before passing the request down.
  DEVICE_CAPABILITIES small = {};
  small.Size = 60;
  small.Version = 1;
  PIRP irp = IoAllocateIrp(host_->fdo()->StackSize, FALSE);
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_PNP;
  next->MinorFunction = IRP_MN_QUERY_CAPABILITIES;
  next->Parameters.DeviceCapabilities.Capabilities = &small;
  NTSTATUS final_status = STATUS_PENDING;
  ksub::SetRequestOwner(irp, [&final_status](PIRP done) {
    final_status = done->IoStatus.Status;
    IoFreeIrp(done);
  });
  IoCallDriver(host_->fdo(), irp);
  EXPECT_EQ(final_status, STATUS_UNSUCCESSFUL);
  EXPECT_EQ(small.SurpriseRemovalOK, 0u);
}

}  // namespace
