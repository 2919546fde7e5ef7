#include "devices/device_enumerator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "devices/usb/setup_api_binding.h"
#include "devices/usb/usb_interface_guids.h"
#include "testlib/counting_usb_hardware.h"
#include "testlib/fake_channel.h"
#include "testlib/fake_usb_interface_source.h"
#include "testlib/fake_win32_usb_api.h"

namespace {

// A mass-storage or network player as the sink sees it: only its name matters.
class NamedDevice : public FakeDevice {
 public:
  NamedDevice(std::string name, int* alive)
      : FakeDevice(rc::kNotImplemented, kStateGone), name_(std::move(name)), alive_(alive) {
    ++*alive_;
  }
  ~NamedDevice() override { --*alive_; }
  Result GetUniqueId(std::string* id) override {
    *id = name_;
    return rc::kOk;
  }

 private:
  std::string name_;
  int* alive_;
};

class FakeMassStorage : public MassStorageSource {
 public:
  Result ListDrives(std::vector<MassStorageDrive>* out) override {
    ++listings;
    *out = drives;
    return result;
  }
  std::vector<MassStorageDrive> drives;
  Result result = rc::kOk;
  int listings = 0;
};

class FakeNetwork : public NetworkDiscovery {
 public:
  Result FindPlayers(const std::string& service_type,
                     std::vector<RefPtr<Device>>* out) override {
    asked.push_back(service_type);
    *out = players;
    return result;
  }
  std::vector<RefPtr<Device>> players;
  Result result = rc::kOk;
  std::vector<std::string> asked;
};

class RecordingSink : public DeviceSink {
 public:
  Result OnDevice(Device* device) override {
    EXPECT_GT(device->RefCount(), 0);  // the enumerator holds it for the call
    std::string id;
    EXPECT_EQ(rc::kOk, device->GetUniqueId(&id));
    ids.push_back(id);
    if (keep) kept.push_back(device);
    return ids.size() == fail_at ? answer_on_fail : rc::kOk;
  }
  bool keep = true;
  size_t fail_at = 0;  // 1-based; 0: never
  Result answer_on_fail = rc::kFail;
  std::vector<std::string> ids;
  std::vector<RefPtr<Device>> kept;
};

class DeviceEnumeratorTest : public ::testing::Test {
 protected:
  DeviceEnumeratorTest() {
    usb.paths[0x5210] = {"hd1", "hd2"};
    usb.paths[0x5003] = {"flash1"};
    mass_storage.drives = {{0x5041, new NamedDevice("msc-5041", &fake_alive)},
                           {0x5042, new NamedDevice("msc-5042", &fake_alive)}};
    network.players = {new NamedDevice("net", &fake_alive)};
    sources.usb = &usb;
    sources.mass_storage = &mass_storage;
    sources.network = &network;
  }

  std::unique_ptr<DeviceEnumerator> Make() {
    return std::unique_ptr<DeviceEnumerator>(DeviceEnumerator::Create(&sink, sources));
  }

  std::vector<uint32_t> AllTableIds() const {
    std::vector<uint32_t> ids;
    for (const UsbInterfaceGuidRow& row : UsbInterfaceGuidTable) ids.push_back(row.product_id);
    return ids;
  }

  int fake_alive = 0;
  std::shared_ptr<TransportCounts> counts = std::make_shared<TransportCounts>();
  FakeUsbInterfaceSource usb{counts};
  FakeMassStorage mass_storage;
  FakeNetwork network;
  DeviceEnumerator::Sources sources;
  RecordingSink sink;
  using Ids = std::vector<std::string>;
};

TEST_F(DeviceEnumeratorTest, HardDiskIdListsThroughUsbAndScansNoDrives) {
  EXPECT_EQ(rc::kOk, Make()->Enumerate(0x5210));
  EXPECT_EQ(std::vector<uint32_t>{0x5210}, usb.asked);
  EXPECT_EQ(0, mass_storage.listings);
  EXPECT_EQ((Ids{"QelDeviceUsb:Counting@hd1", "QelDeviceUsb:Counting@hd2", "net"}), sink.ids);
  EXPECT_EQ(std::vector<std::string>{"urn:velto-com:protocol2"}, network.asked);
  EXPECT_EQ(0, counts->opens);  // listing never opens a player
}

TEST_F(DeviceEnumeratorTest, IdWithoutUsbRowScansTheDrivesOfThatId) {
  EXPECT_EQ(rc::kOk, Make()->Enumerate(0x5041));
  EXPECT_TRUE(usb.asked.empty());
  EXPECT_EQ(1, mass_storage.listings);
  EXPECT_EQ((Ids{"msc-5041", "net"}), sink.ids);
}

TEST_F(DeviceEnumeratorTest, AllMassStorageTouchesNoUsbInterfaceAndNoNetwork) {
  EXPECT_EQ(rc::kOk, Make()->Enumerate(0xFFF0));
  EXPECT_TRUE(usb.asked.empty());
  EXPECT_TRUE(network.asked.empty());
  EXPECT_EQ((Ids{"msc-5041", "msc-5042"}), sink.ids);
}

TEST_F(DeviceEnumeratorTest, AllUsbWalksTheTableInOrderThenTheNetwork) {
  EXPECT_EQ(rc::kOk, Make()->Enumerate(0xFFF1));
  EXPECT_EQ(AllTableIds(), usb.asked);
  EXPECT_EQ(0, mass_storage.listings);
  EXPECT_EQ(4u, sink.ids.size());
  EXPECT_EQ("net", sink.ids.back());
}

TEST_F(DeviceEnumeratorTest, EnumerateAllListsEveryTransport) {
  EXPECT_EQ(rc::kOk, Make()->EnumerateAll());
  EXPECT_EQ(AllTableIds(), usb.asked);
  EXPECT_EQ(1, mass_storage.listings);
  EXPECT_EQ(6u, sink.ids.size());
  EXPECT_EQ((Ids{"msc-5041", "msc-5042", "net"}), Ids(sink.ids.end() - 3, sink.ids.end()));
}

// Drives can never carry a USB player's own id, so those ids (and 1) skip the scan.
TEST_F(DeviceEnumeratorTest, MassStorageScanSkipsThePlayersOwnIds) {
  const uint32_t skipped[] = {1,      0x5001, 0x5002, 0x5003, 0x5005, 0x5006, 0x5007, 0x5008,
                              0x5009, 0x500C, 0x500D, 0x500E, 0x500F, 0x5010, 0x501C, 0x501D,
                              0x501E, 0x501F, 0x5202, 0x5210, 0x5220, 0x5221, 0x5801};
  const uint32_t scanned[] = {0,      2,      0x5000, 0x5004, 0x500A, 0x500B, 0x5011,
                              0x501B, 0x5020, 0x5201, 0x5203, 0x5222, 0x5800, 0x5802};
  for (uint32_t id : skipped) {
    mass_storage.listings = 0;
    Make()->Enumerate(id);
    EXPECT_EQ(0, mass_storage.listings) << std::hex << id;
  }
  for (uint32_t id : scanned) {
    mass_storage.listings = 0;
    Make()->Enumerate(id);
    EXPECT_EQ(1, mass_storage.listings) << std::hex << id;
  }
}

TEST_F(DeviceEnumeratorTest, FailingInterfaceWalkEndsOnlyTheUsbStep) {
  const uint32_t second = UsbInterfaceGuidTable[1].product_id;
  usb.failing[second] = rc::FromWin32(ERROR_ACCESS_DENIED);
  std::unique_ptr<DeviceEnumerator> enumerator = Make();
  EXPECT_EQ(rc::FromWin32(ERROR_ACCESS_DENIED), enumerator->EnumerateUsbAll());
  EXPECT_EQ((std::vector<uint32_t>{UsbInterfaceGuidTable[0].product_id, second}), usb.asked);

  usb.asked.clear();
  EXPECT_EQ(rc::kOk, enumerator->EnumerateAll());
  EXPECT_EQ(2u, usb.asked.size());
  EXPECT_EQ(1, mass_storage.listings);
  EXPECT_EQ("net", sink.ids.back());

  usb.failing[0x5210] = rc::kFail;
  EXPECT_EQ(rc::kFail, enumerator->EnumerateUsbByProduct(0x5210));
  EXPECT_EQ(rc::kOk, enumerator->EnumerateUsbByProduct(0x5041));  // no row
}

TEST_F(DeviceEnumeratorTest, NegativeSinkAnswerStopsTheInterfaceWalk) {
  sink.fail_at = 1;
  sink.answer_on_fail = rc::kFail;
  EXPECT_EQ(rc::kFail, Make()->EnumerateUsbByProduct(0x5210));
  EXPECT_EQ(std::vector<Result>{rc::kFail}, usb.callback_results);
  EXPECT_EQ(1u, sink.ids.size());

  // A positive answer is no failure.
  sink = RecordingSink();
  sink.fail_at = 1;
  sink.answer_on_fail = 1;
  usb.callback_results.clear();
  EXPECT_EQ(rc::kOk, Make()->EnumerateUsbByProduct(0x5210));
  EXPECT_EQ((std::vector<Result>{1, rc::kOk}), usb.callback_results);
}

TEST_F(DeviceEnumeratorTest, TransportOutOfMemoryStopsTheWalk) {
  usb.paths.erase(0x5003);
  usb.out_of_memory = true;
  EXPECT_EQ(rc::kOutOfMemory, Make()->EnumerateUsbAll());
  EXPECT_EQ(0x5210u, usb.asked.back());
  EXPECT_TRUE(sink.ids.empty());
}

TEST_F(DeviceEnumeratorTest, DeviceSurvivesOnlyWhenTheSinkTakesAReference) {
  sink.keep = false;
  Make()->EnumerateUsbByProduct(0x5210);
  EXPECT_EQ(2u, sink.ids.size());
  EXPECT_EQ(0, counts->alive);

  sink = RecordingSink();
  Make()->EnumerateUsbByProduct(0x5210);
  ASSERT_EQ(2u, sink.kept.size());
  EXPECT_EQ(2, counts->alive);
  EXPECT_EQ(1, sink.kept[0]->RefCount());
  sink.kept.clear();
  EXPECT_EQ(0, counts->alive);
}

// A new device (count 0) lives through the sink's call and is gone after it unless kept.
TEST_F(DeviceEnumeratorTest, HandOverHoldsTheDeviceOnlyForTheCall) {
  std::unique_ptr<DeviceEnumerator> enumerator = Make();
  const int before = fake_alive;
  sink.keep = false;
  sink.fail_at = 1;
  sink.answer_on_fail = 7;
  EXPECT_EQ(7, enumerator->HandOver(new NamedDevice("loose", &fake_alive)));
  EXPECT_EQ(before, fake_alive);
  sink.keep = true;
  EXPECT_EQ(rc::kOk, enumerator->HandOver(new NamedDevice("kept", &fake_alive)));
  EXPECT_EQ(before + 1, fake_alive);
  ASSERT_EQ(1u, sink.kept.size());
  EXPECT_EQ(1, sink.kept[0]->RefCount());
}

TEST_F(DeviceEnumeratorTest, FailingDriveListingAndNetworkAreNotReported) {
  mass_storage.result = rc::kFail;
  network.result = rc::kFail;
  EXPECT_EQ(rc::kOk, Make()->Enumerate(0x5041));
  EXPECT_TRUE(sink.ids.empty());
}

TEST_F(DeviceEnumeratorTest, WithoutDiscoveryClientTheNetworkStepFindsNothing) {
  sources.network = nullptr;
  EXPECT_EQ(rc::kOk, Make()->Enumerate(0xFFF1));
  EXPECT_TRUE(network.asked.empty());
  EXPECT_EQ(3u, sink.ids.size());
}

TEST(DeviceEnumeratorDefaultsTest, NoDrivesByDefault) {
  NoMassStorageSource none;
  std::vector<MassStorageDrive> drives(1);
  EXPECT_EQ(rc::kOk, none.ListDrives(&drives));
  EXPECT_TRUE(drives.empty());
}

// The system's drives come only from the mass-storage room, handed in by the provider: an
// enumerator given no drive source walks no drive.
TEST(DeviceEnumeratorDefaultsTest, WithoutDriveSourceNoDriveIsWalked) {
  RecordingSink sink;
  std::unique_ptr<DeviceEnumerator> enumerator(
      DeviceEnumerator::Create(&sink, DeviceEnumerator::Sources()));
  ASSERT_TRUE(enumerator);
  EXPECT_EQ(rc::kOk, enumerator->Enumerate(DeviceEnumerator::kAllMassStorage));
  EXPECT_TRUE(sink.ids.empty());
}

// --- the system's source: SetupAPI and the driver's transport ------------------------------

const HDEVINFO kSet = reinterpret_cast<HDEVINFO>(static_cast<uintptr_t>(0x5E70));
struct SetupScript {
  std::vector<std::string> paths;
  DWORD class_devs_error = 0;
  int classes_asked = 0;
} * g_setup = nullptr;

HDEVINFO WINAPI ScriptedClassDevs(const GUID*, PCSTR, HWND, DWORD) {
  ++g_setup->classes_asked;
  if (g_setup->class_devs_error == 0) return kSet;
  SetLastError(g_setup->class_devs_error);
  return INVALID_HANDLE_VALUE;
}
BOOL WINAPI ScriptedEnum(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                         PSP_DEVICE_INTERFACE_DATA data) {
  data->Reserved = index;
  if (index < g_setup->paths.size()) return TRUE;
  SetLastError(ERROR_NO_MORE_ITEMS);
  return FALSE;
}
BOOL WINAPI ScriptedDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                           PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                           PSP_DEVINFO_DATA) {
  const std::string& path = g_setup->paths[data->Reserved];
  const DWORD need = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1;
  if (detail == nullptr || size < need) {
    if (required) *required = need;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
  return TRUE;
}
BOOL WINAPI ScriptedDestroy(HDEVINFO) { return TRUE; }

class Win32SourceTest : public ::testing::Test {
 protected:
  Win32SourceTest() { g_setup = &script; }
  ~Win32SourceTest() override { g_setup = nullptr; }

  SetupScript script;
  SetupApiBinding binding{
      SetupApiEntryPoints{ScriptedClassDevs, ScriptedEnum, ScriptedDetail, ScriptedDestroy}};
  FakeWin32UsbApi api;
  Win32UsbInterfaceSource source{&binding, &api};
  RecordingSink sink;
};

TEST_F(Win32SourceTest, UniqueIdNamesTheDriverTransportAndPath) {
  script.paths = {"\\\\?\\usb#vid_0e21&pid_5210#7&2f#{a}"};
  DeviceEnumerator::Sources sources;
  sources.usb = &source;
  std::unique_ptr<DeviceEnumerator> enumerator(DeviceEnumerator::Create(&sink, sources));
  EXPECT_EQ(rc::kOk, enumerator->EnumerateUsbByProduct(0x5210));
  EXPECT_EQ(std::vector<std::string>{"QelDeviceUsb:Win32@" + script.paths[0]}, sink.ids);
  uint32_t product_id = 0;
  ASSERT_EQ(rc::kOk, sink.kept.at(0)->GetProductId(&product_id));
  EXPECT_EQ(0x5210u, product_id);
  EXPECT_TRUE(api.opened.empty());
}

TEST_F(Win32SourceTest, FailingSetupApiEndsTheUsbStep) {
  script.class_devs_error = ERROR_ACCESS_DENIED;
  DeviceEnumerator::Sources sources;
  sources.usb = &source;
  std::unique_ptr<DeviceEnumerator> enumerator(DeviceEnumerator::Create(&sink, sources));
  EXPECT_EQ(rc::FromWin32(ERROR_ACCESS_DENIED), enumerator->EnumerateUsbAll());
  EXPECT_EQ(1, script.classes_asked);
  EXPECT_EQ(rc::kOk, enumerator->Enumerate(0xFFF1));
  EXPECT_EQ(2, script.classes_asked);
}

}  // namespace
