// The service provider as WMDM drives it: created through the class object, devices listed
// and questioned, with simulated players behind the device source.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "testlib/fake_win32_usb_api.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/cmdsp_enum_device.h"
#include "wmdm/class_factory.h"
#include "wmdm/module_lock.h"
#include "wmdm/enumerator_device_source.h"
#include "wmdm/service_provider.h"
#include "wmdm_host.h"

namespace {

constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);

std::shared_ptr<SimPlayer> Player(const std::string& name, uint32_t product_id,
                                  const std::vector<std::string>& storages) {
  auto player = SimPlayer::WithStorages(storages);
  player->name = name;
  player->product_id = product_id;
  return player;
}

class ProviderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(host_.Load(), S_OK); }

  std::vector<std::wstring> ListedNames() {
    std::vector<IMDSPDevice*> devices;
    EXPECT_EQ(host_.ListDevices(&devices), S_OK);
    std::vector<std::wstring> names;
    for (IMDSPDevice* device : devices) names.push_back(WmdmHost::NameOf(device));
    return names;
  }

  DWORD DeviceCount() {
    DWORD count = 0;
    EXPECT_EQ(host_.provider()->GetDeviceCount(&count), S_OK);
    return count;
  }

  // The two lines a method ends with when it refused a null pointer.
  void ExpectNullPointerTrace(const std::string& method) {
    const auto& lines = host_.log().lines();
    ASSERT_GE(lines.size(), 2u) << method;
    const WmdmTraceLine& check = lines[lines.size() - 2];
    const WmdmTraceLine& result = lines.back();
    EXPECT_EQ(check.Text(), "NULL input pointer") << method;
    EXPECT_EQ(result.format, method + " returned 0x%08lx");
    EXPECT_EQ(result.value, static_cast<DWORD>(E_INVALIDARG)) << method;
    EXPECT_EQ(result.flags, WMDM_LOG_SEV_ERROR) << method;
  }

  ScriptedDeviceSource source_;
  WmdmHost host_;
};

TEST_F(ProviderTest, ProviderAnswersBothOfItsInterfaces) {
  IMDServiceProvider* first = nullptr;
  ASSERT_EQ(host_.provider()->QueryInterface(IID_IMDServiceProvider,
                                             reinterpret_cast<void**>(&first)),
            S_OK);
  EXPECT_EQ(static_cast<IMDServiceProvider*>(host_.provider()), first);
  first->Release();
  void* other = &other;
  EXPECT_EQ(host_.provider()->QueryInterface(IID_IMDSPDevice, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

TEST_F(ProviderTest, EveryStorageIsADeviceHighestStorageFirst) {
  source_.Attach(Player("Beta", 0x5210, {"Internal", "Card"}));
  source_.Attach(Player("Alpha", 0x5005, {"Internal"}));
  EXPECT_EQ(DeviceCount(), 0xFFFFFFFFu);
  // Alpha's product id is asked first.
  EXPECT_EQ(ListedNames(),
            (std::vector<std::wstring>{L"Alpha", L"Beta Card", L"Beta Internal"}));
  EXPECT_EQ(DeviceCount(), 3u);
}

TEST_F(ProviderTest, ProductIdsAreAskedInTheirFixedOrderThenTheDrivesAnd501CNever) {
  source_.Attach(Player("Hidden", 0x501C, {"Internal"}));
  source_.Attach(Player("Second", 0x5010, {"Internal"}));
  source_.Attach(Player("Also second", 0x5010, {"Internal"}));
  EXPECT_EQ(ListedNames(), (std::vector<std::wstring>{L"Second", L"Also second"}));
  const std::vector<uint32_t> expected = {
      0x5005, 0x5010, 0x5009, 0x5007, 0x5006, 0x500C, 0x500D, 0x500E, 0x500F, 0x501D, 0x501E,
      0x501F, 0x5001, 0x5002, 0x5008, 0x5003, 0x5202, 0x5801, 0x5220, 0x5221, 0x5210,
      0xFFF0};  // every mass-storage player, once
  EXPECT_EQ(source_.asked, expected);
}

TEST_F(ProviderTest, NoPlayerGivesAnEmptyEnumerator) {
  IMDSPEnumDevice* enumerator = nullptr;
  ASSERT_EQ(host_.provider()->EnumDevices(&enumerator), S_OK);
  IMDSPDevice* device = reinterpret_cast<IMDSPDevice*>(1);
  ULONG fetched = 7;
  EXPECT_EQ(enumerator->Next(1, &device, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  enumerator->Release();
  EXPECT_EQ(DeviceCount(), 0u);
}

TEST_F(ProviderTest, BrokenPlayersAreLeftOutAndTheOthersListed) {
  const struct {
    const char* failing;  // operation of the middle or last player that fails
    bool last;
    std::vector<std::wstring> expected;
  } cases[] = {
      // The last player in the order cannot be initialised.
      {"GetStorageInfo", true, {L"Alpha", L"Beta Card", L"Beta Internal"}},
      {"GetDeviceInfo", true, {L"Alpha", L"Beta Card", L"Beta Internal"}},
      // A player that cannot even be counted.
      {"EnumStorages", false, {L"Alpha", L"Gamma"}},
      // One storage of a two-storage player.
      {"EnumFiles(1)", false, {L"Alpha", L"Beta Internal", L"Gamma"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    ScriptedDeviceSource source;
    source.Attach(Player("Alpha", 0x5005, {"Internal"}));
    auto beta = Player("Beta", 0x5010, {"Internal", "Card"});
    auto gamma = Player("Gamma", 0x5210, {"Internal"});
    (c.last ? gamma : beta)->failures[c.failing] = rc::kTimeout;
    source.Attach(beta);
    source.Attach(gamma);
    EXPECT_EQ(ListedNames(), c.expected);
    EXPECT_EQ(DeviceCount(), c.expected.size());
  }
}

TEST_F(ProviderTest, NextSkipResetAndClone) {
  for (const char* name : {"A", "B", "C"}) source_.Attach(Player(name, 0x5005, {"Internal"}));
  IMDSPEnumDevice* enumerator = nullptr;
  ASSERT_EQ(host_.provider()->EnumDevices(&enumerator), S_OK);

  IMDSPDevice* devices[4] = {};
  ULONG count = 0;
  ASSERT_EQ(enumerator->Next(1, devices, &count), S_OK);
  EXPECT_EQ(WmdmHost::NameOf(devices[0]), L"A");
  devices[0]->Release();

  IMDSPEnumDevice* clone = nullptr;
  ASSERT_EQ(enumerator->Clone(&clone), S_OK);

  EXPECT_EQ(enumerator->Skip(5, &count), S_FALSE);  // 2 of 5 left at cursor 1
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(enumerator->Next(1, devices, &count), S_FALSE);
  EXPECT_EQ(count, 0u);

  // The clone kept the cursor where it was.
  ASSERT_EQ(clone->Next(4, devices, &count), S_FALSE);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(WmdmHost::NameOf(devices[0]), L"B");
  EXPECT_EQ(WmdmHost::NameOf(devices[1]), L"C");
  devices[0]->Release();
  devices[1]->Release();

  EXPECT_EQ(enumerator->Reset(), S_OK);
  EXPECT_EQ(enumerator->Skip(3, &count), S_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(enumerator->Reset(), S_OK);
  ASSERT_EQ(enumerator->Next(2, devices, &count), S_OK);
  EXPECT_EQ(count, 2u);
  devices[0]->Release();
  devices[1]->Release();

  EXPECT_EQ(enumerator->Next(1, nullptr, &count), E_INVALIDARG);
  ExpectNullPointerTrace("CMDSPEnumDevice::Next");
  EXPECT_EQ(enumerator->Next(1, devices, nullptr), E_INVALIDARG);
  EXPECT_EQ(enumerator->Skip(1, nullptr), E_INVALIDARG);
  ExpectNullPointerTrace("CMDSPEnumDevice::Skip");
  EXPECT_EQ(enumerator->Clone(nullptr), E_INVALIDARG);
  ExpectNullPointerTrace("CMDSPEnumDevice::Clone");
  clone->Release();
  enumerator->Release();
}

TEST_F(ProviderTest, ProviderRefusesNullPointers) {
  EXPECT_EQ(host_.provider()->GetDeviceCount(nullptr), E_INVALIDARG);
  ExpectNullPointerTrace("CMDTorvexServiceProvider::GetDeviceCount");
  EXPECT_EQ(host_.provider()->EnumDevices(nullptr), E_INVALIDARG);
  ExpectNullPointerTrace("CMDTorvexServiceProvider::EnumDevices");
  DWORD count = 5;
  IMDSPDevice** devices = nullptr;
  EXPECT_EQ(host_.provider()->CreateDevice(L"\\\\?\\usb#x", nullptr, &devices), E_INVALIDARG);
  ExpectNullPointerTrace("CMDTorvexServiceProvider::CreateDevice");
  EXPECT_EQ(host_.provider()->CreateDevice(L"\\\\?\\usb#x", &count, nullptr), E_INVALIDARG);
  EXPECT_EQ(host_.provider()->CreateDevice(nullptr, &count, &devices), E_INVALIDARG);
  EXPECT_EQ(count, 0u);
}

TEST_F(ProviderTest, EveryDeviceQuestionAnswered) {
  auto player = Player("Beta", 0x5210, {"Internal", "Card"});
  player->serial = "SN-42";
  source_.Attach(player);
  std::vector<IMDSPDevice*> devices;
  ASSERT_EQ(host_.ListDevices(&devices), S_OK);
  ASSERT_EQ(devices.size(), 2u);
  const DeviceReport report = WmdmHost::Describe(devices[0]);
  for (const char* method : {"GetName", "GetManufacturer", "GetVersion", "GetType", "GetStatus",
                             "GetPowerSource", "GetSerialNumber", "GetFormatSupport",
                             "SendOpaqueCommand", "EnumStorage", "GetCanonicalName"}) {
    EXPECT_EQ(report.results.at(method), S_OK) << method;
  }
  EXPECT_EQ(report.name, L"Beta Card");
  EXPECT_EQ(report.manufacturer, L"Qel Audio");
  EXPECT_EQ(report.canonical_name, L"\\\\?\\usb#vid_0e21&pid_5210#0001");
  EXPECT_EQ(report.version, 0x0203u);
  EXPECT_EQ(report.type, 0xD3u);
  EXPECT_EQ(report.status, WMDM_STATUS_READY);
  EXPECT_EQ(report.power_source, 5u);
  EXPECT_EQ(report.power_percent, 100u);
  EXPECT_EQ(report.vendor_id, kPlayerVendorId);
  EXPECT_EQ(report.serial, "SN-42");
  EXPECT_EQ(report.format_tags, (std::vector<WORD>{0x55, 0x161}));
  EXPECT_EQ(report.mime_types,
            (std::vector<std::wstring>{L"audio/mpeg", L"audio/mp3", L"audio/x-ms-wma"}));
  EXPECT_EQ(report.product_id, 0x5210u);
  EXPECT_TRUE(report.storage_enumerator);
  // The test program carries no icon resource: the loader's error comes back as an HRESULT.
  EXPECT_EQ(HRESULT_FACILITY(report.results.at("GetDeviceIcon")), FACILITY_WIN32);
}

TEST_F(ProviderTest, EveryDeviceMethodRefusesANullPointer) {
  source_.Attach(Player("Beta", 0x5210, {"Internal"}));
  std::vector<IMDSPDevice*> devices;
  ASSERT_EQ(host_.ListDevices(&devices), S_OK);
  ASSERT_EQ(devices.size(), 1u);
  IMDSPDevice* d = devices[0];
  IMDSPDevice2* d2 = nullptr;
  ASSERT_EQ(d->QueryInterface(IID_IMDSPDevice2, reinterpret_cast<void**>(&d2)), S_OK);
  IMDSPDeviceControl* control = nullptr;
  ASSERT_EQ(d->QueryInterface(IID_IMDSPDeviceControl, reinterpret_cast<void**>(&control)),
            S_OK);
  DWORD value = 0;
  UINT count = 0;
  WMDM_WAVEFORMATEX* formats = nullptr;
  LPWSTR* mimes = nullptr;
  IMDSPStorage* storage = nullptr;
  const struct {
    const char* method;
    std::function<HRESULT()> call;
  } cases[] = {
      {"GetName", [&] { return d->GetName(nullptr, 10); }},
      {"GetManufacturer", [&] { return d->GetManufacturer(nullptr, 10); }},
      {"GetVersion", [&] { return d->GetVersion(nullptr); }},
      {"GetType", [&] { return d->GetType(nullptr); }},
      {"GetSerialNumber", [&] { return d->GetSerialNumber(nullptr, nullptr); }},
      {"GetPowerSource", [&] { return d->GetPowerSource(&value, nullptr); }},
      {"GetStatus", [&] { return d->GetStatus(nullptr); }},
      {"GetDeviceIcon", [&] { return d->GetDeviceIcon(nullptr); }},
      {"EnumStorage", [&] { return d->EnumStorage(nullptr); }},
      {"GetFormatSupport", [&] { return d->GetFormatSupport(&formats, &count, &mimes, nullptr); }},
      {"SendOpaqueCommand", [&] { return d->SendOpaqueCommand(nullptr); }},
      {"GetStorage", [&] { return d2->GetStorage(L"Internal", nullptr); }},
      {"GetStorage", [&] { return d2->GetStorage(nullptr, &storage); }},
      {"GetCanonicalName", [&] { return d2->GetCanonicalName(nullptr, 10); }},
      {"GetDCStatus", [&] { return control->GetDCStatus(nullptr); }},
      {"GetCapabilities", [&] { return control->GetCapabilities(nullptr); }},
  };
  for (const auto& c : cases) {
    host_.log().Clear();
    EXPECT_EQ(c.call(), E_INVALIDARG) << c.method;
    ExpectNullPointerTrace(std::string("CMDSPDevice::") + c.method);
  }
  control->Release();
  d2->Release();
}

TEST_F(ProviderTest, ResultLinesAreInformationalForSuccess) {
  source_.Attach(Player("Beta", 0x5210, {"Internal"}));
  std::vector<IMDSPDevice*> devices;
  ASSERT_EQ(host_.ListDevices(&devices), S_OK);
  host_.log().Clear();
  DWORD type = 0;
  wchar_t name[3];
  devices[0]->GetType(&type);
  devices[0]->GetName(name, 3);
  ASSERT_EQ(host_.log().lines().size(), 2u);
  EXPECT_EQ(host_.log().lines()[0].Text(), "CMDSPDevice::GetType returned 0x00000000");
  EXPECT_EQ(host_.log().lines()[0].flags, WMDM_LOG_SEV_INFO);
  EXPECT_EQ(host_.log().lines()[1].Text(), "CMDSPDevice::GetName returned 0x80045008");
  EXPECT_EQ(host_.log().lines()[1].flags, WMDM_LOG_SEV_ERROR);
}

TEST_F(ProviderTest, EnumerationTracesItsSteps) {
  source_.Attach(Player("Beta", 0x5210, {"Internal"}));
  std::vector<IMDSPDevice*> devices;
  ASSERT_EQ(host_.ListDevices(&devices), S_OK);
  std::vector<std::string> ours;
  for (const std::string& text : host_.log().Texts()) {
    if (text.rfind("CMDSPEnumDevice::", 0) == 0 || text.rfind("CMDTorvex", 0) == 0) {
      ours.push_back(text);
    }
  }
  ASSERT_GE(ours.size(), 3u);
  EXPECT_EQ(ours[0], "CMDSPEnumDevice::GetQeldevices returned 0x00000000");
  EXPECT_EQ(ours[1], "CMDSPEnumDevice::Init returned 0x00000000");
  EXPECT_EQ(ours[2], "CMDTorvexServiceProvider::EnumDevices returned 0x00000000");
}

TEST_F(ProviderTest, PlayerStatusesReachWmdmMapped) {
  auto player = Player("Beta", 0x5210, {"Internal"});
  source_.Attach(player);
  std::vector<IMDSPDevice*> devices;
  ASSERT_EQ(host_.ListDevices(&devices), S_OK);
  player->failures["GetDeviceID"] = rc::kPlayerFull;
  EXPECT_EQ(WmdmHost::Describe(devices[0]).results.at("SendOpaqueCommand"), kDiskFull);
  player->failures.clear();
  player->generation = 2;  // changed behind the provider's back
  const DeviceReport report = WmdmHost::Describe(devices[0]);
  EXPECT_EQ(report.results.at("GetSerialNumber"), WMDM_E_INTERFACEDEAD);
  EXPECT_EQ(report.results.at("SendOpaqueCommand"), WMDM_E_INTERFACEDEAD);
  // What needs no player still answers.
  EXPECT_EQ(report.results.at("GetName"), S_OK);
}

TEST_F(ProviderTest, OpaqueCommandsThroughCom) {
  source_.Attach(Player("Beta", 0x5210, {"Internal"}));
  std::vector<IMDSPDevice*> devices;
  ASSERT_EQ(host_.ListDevices(&devices), S_OK);
  uint8_t data[4] = {9, 9, 9, 9};
  OPAQUECOMMAND command = {};
  command.guidCommand = kOpaqueDeviceIdentity;
  command.pData = data;
  command.dwDataLen = 4;
  EXPECT_EQ(devices[0]->SendOpaqueCommand(&command), S_OK);
  EXPECT_EQ(data[0] | data[1] << 8, 0x5210);
  command.dwDataLen = 2;  // short
  EXPECT_EQ(devices[0]->SendOpaqueCommand(&command), WMDM_E_BUFFERTOOSMALL);
  command.pData = nullptr;  // null
  command.dwDataLen = 4;
  EXPECT_EQ(devices[0]->SendOpaqueCommand(&command), E_INVALIDARG);
  EXPECT_EQ(host_.log().lines().back().Text(),
            "CMDSPDevice::SendOpaqueCommand returned 0x80070057");
}

class CreateDeviceTest : public ProviderTest {
 protected:
  static constexpr char kPath[] = "\\\\?\\usb#vid_0e21&pid_5210#0001";
  static constexpr wchar_t kWidePath[] = L"\\\\?\\usb#vid_0e21&pid_5210#0001";
};

TEST_F(CreateDeviceTest, OneDevicePerStorageInAscendingOrder) {
  auto player = Player("Beta", 0x5210, {"Internal", "Card", "Extra", "More", "Five", "Six"});
  source_.AttachPath(kPath, player);
  DWORD count = 0;
  IMDSPDevice** devices = nullptr;
  ASSERT_EQ(host_.provider()->CreateDevice(kWidePath, &count, &devices), S_OK);
  // More storages than the five an older array held.
  ASSERT_EQ(count, 6u);
  EXPECT_EQ(WmdmHost::NameOf(devices[0]), L"Beta Internal");
  EXPECT_EQ(WmdmHost::NameOf(devices[5]), L"Beta Six");
  for (DWORD i = 0; i < count; ++i) devices[i]->Release();
  CoTaskMemFree(devices);
  EXPECT_EQ(player->opens, player->channel_deletions);
}

TEST_F(CreateDeviceTest, PartlyFailedCreationReleasesWhatWasBuilt) {
  auto player = Player("Beta", 0x5210, {"Internal", "Card", "Extra"});
  player->failures["EnumFiles(2)"] = rc::kPlayerFull;
  source_.AttachPath(kPath, player);
  const LONG objects = ModuleRefCount();
  DWORD count = 9;
  IMDSPDevice** devices = reinterpret_cast<IMDSPDevice**>(1);
  EXPECT_EQ(host_.provider()->CreateDevice(kWidePath, &count, &devices), kDiskFull);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(devices, nullptr);
  EXPECT_EQ(ModuleRefCount(), objects);  // no device object left alive
  EXPECT_EQ(player->opens, player->channel_deletions);
  EXPECT_EQ(host_.log().lines().back().Text(),
            "CMDTorvexServiceProvider::CreateDevice returned 0x80070070");
}

TEST_F(CreateDeviceTest, UncountablePlayerHandsOutNothing) {
  auto player = Player("Beta", 0x5210, {"Internal"});
  player->failures["EnumStorages"] = rc::kTimeout;
  source_.AttachPath(kPath, player);
  DWORD count = 9;
  IMDSPDevice** devices = nullptr;
  EXPECT_EQ(host_.provider()->CreateDevice(kWidePath, &count, &devices), rc::kTimeout);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(devices, nullptr);
}

TEST_F(CreateDeviceTest, PathThatDoesNotOpenGivesTheTransportsFailure) {
  FakeWin32UsbApi api;
  api.open_errors[kPath] = ERROR_FILE_NOT_FOUND;
  EnumeratorDeviceSource system_source(nullptr, nullptr, &api);
  DeviceSource* previous = SetDeviceSourceForTesting(&system_source);
  DWORD count = 9;
  IMDSPDevice** devices = nullptr;
  EXPECT_EQ(host_.provider()->CreateDevice(kWidePath, &count, &devices),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(devices, nullptr);
  ASSERT_FALSE(api.opened.empty());
  EXPECT_EQ(api.opened[0], kPath);  // the wide path reached the transport in ANSI
  SetDeviceSourceForTesting(previous);
}

TEST(DeviceSourceTest, DefaultSourceListsNothingAndSettingNullRestoresIt) {
  DeviceSource* system = GetDeviceSource();
  std::vector<RefPtr<Device>> found;
  EXPECT_EQ(system->Enumerate(0x5210, &found), rc::kOk);
  EXPECT_TRUE(found.empty());
  ScriptedDeviceSource scripted;
  EXPECT_EQ(GetDeviceSource(), &scripted);
  EXPECT_EQ(SetDeviceSourceForTesting(nullptr), &scripted);
  EXPECT_EQ(GetDeviceSource(), system);
  SetDeviceSourceForTesting(&scripted);  // for the destructor to take back
}

}  // namespace

namespace {

TEST(ProviderLifetimeTest, SocketsStartForTheNetworkCode) {
  CMDTorvexServiceProvider* provider = CMDTorvexServiceProvider::New();
  ASSERT_NE(provider, nullptr);
  provider->AddRef();
  EXPECT_TRUE(provider->sockets_started());
  provider->Release();
}

TEST(ProviderLifetimeTest, EverythingReleasedLetsTheDllUnload) {
  {
    ScriptedDeviceSource source;
    source.Attach(Player("Beta", 0x5210, {"Internal", "Card"}));
    WmdmHost host;
    ASSERT_EQ(host.Load(), S_OK);
    std::vector<IMDSPDevice*> devices;
    ASSERT_EQ(host.ListDevices(&devices), S_OK);
    for (IMDSPDevice* device : devices) WmdmHost::Describe(device);
    EXPECT_EQ(CanUnloadTorvex(), S_FALSE);
  }
  EXPECT_EQ(CanUnloadTorvex(), S_OK);
}

}  // namespace
