// What a WMDM application sees of the attached players before it changes anything: one device
// per storage in the provider's order, each answering from its own player and storage.
#include <algorithm>
#include <string>
#include <vector>

#include "devices/flash/end_to_end/end_to_end_fixture.h"
#include "devices/usb/usb_interface_guids.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/cmdsp_enum_device.h"

namespace {

struct Expected {
  const wchar_t* name;
  uint32_t product_id;
  const char* device_serial;
  const char* storage_serial;
  uint64_t size;
  uint64_t free;
};

// Storage 1 of a player comes before its storage 0; players follow the provider's list of
// product ids, whatever the order they were found in; family E's id is not on that list.
const Expected kDevices[] = {
    {L"Pavo Sim Card", kFamilyD, "PAVO-SERIAL-0001", "CARD-SERIAL-0001", 32u << 20, 32u << 20},
    {L"Pavo Sim Internal", kFamilyD, "PAVO-SERIAL-0001", "INTERNAL-SERIAL1", 64u << 20,
     63u << 20},
    {L"Pavo Two", kSecondFamilyD, "PAVO-SERIAL-0002", "TWO-SERIAL-00001", 16u << 20, 16u << 20},
    {L"Qel Sorn Pellor", kFamilyC, "SORN-SERIAL-0001", "SORN-CARD-000001", 16u << 20, 16u << 20},
    {L"Qel Sorn Internal Memory", kFamilyC, "SORN-SERIAL-0001", "SORN-INTERNAL-01", 32u << 20,
     31u << 20},
    {L"Qel Pirn", kFamilyA, "PIRN-SERIAL-0001", "PIRN-STORAGE-001", 8u << 20, 8u << 20},
};

std::string SerialOf(IMDSPStorageGlobals* globals) {
  WMDMID serial = {};
  EXPECT_EQ(S_OK, globals->GetSerialNumber(&serial, nullptr));
  EXPECT_EQ(kPlayerVendorId, serial.dwVendorID);
  return std::string(reinterpret_cast<const char*>(serial.pID), serial.SerialNumberLength);
}

uint64_t Space(HRESULT (STDMETHODCALLTYPE IMDSPStorageGlobals::*get)(DWORD*, DWORD*),
               IMDSPStorageGlobals* globals) {
  DWORD low = 0, high = 0;
  EXPECT_EQ(S_OK, (globals->*get)(&low, &high));
  return uint64_t{high} << 32 | low;
}

TEST_F(EndToEndTest, EveryStorageOfEveryPlayerIsADeviceInTheProvidersOrder) {
  const std::vector<IMDSPDevice*> devices = Enumerate();
  ASSERT_EQ(std::size(kDevices), devices.size());
  DWORD count = 0;
  EXPECT_EQ(S_OK, provider()->GetDeviceCount(&count));
  EXPECT_EQ(std::size(kDevices), count);
  for (size_t i = 0; i < devices.size(); ++i) {
    const Expected& e = kDevices[i];
    SCOPED_TRACE(std::string(e.name, e.name + wcslen(e.name)));
    const DeviceReport report = WmdmHost::Describe(devices[i]);
    for (const auto& [question, result] : report.results) {
      if (question != "GetDeviceIcon") {
        EXPECT_EQ(S_OK, result) << question;
      }
    }
    EXPECT_EQ(e.name, report.name);
    EXPECT_EQ(L"Sim Works", report.manufacturer);
    EXPECT_EQ(0x0123u, report.version);  // firmware 1.23
    // The device-identity opaque command answers the player's product id.
    EXPECT_EQ(e.product_id, report.product_id);
    EXPECT_EQ(e.device_serial, report.serial.substr(0, 16));
    EXPECT_EQ(static_cast<DWORD>(WMDM_STATUS_READY), report.status);
    EXPECT_TRUE(report.storage_enumerator);

    ComRef<IMDSPStorageGlobals> globals = Globals(devices[i]);
    ASSERT_NE(nullptr, globals.Get());
    EXPECT_EQ(e.storage_serial, SerialOf(globals.Get()).substr(0, 16));
    EXPECT_EQ(e.size, Space(&IMDSPStorageGlobals::GetTotalSize, globals.Get()));
    EXPECT_EQ(e.free, Space(&IMDSPStorageGlobals::GetTotalFree, globals.Get()));
    DWORD low = 0, high = 0;
    EXPECT_EQ(S_OK, Root(devices[i])->GetSize(&low, &high));
    EXPECT_EQ(e.size, uint64_t{high} << 32 | low);
  }
  // The provider asked for the product ids of its list that have an interface class, in the
  // list's order, each once.
  std::vector<uint32_t> listed;
  for (uint32_t id : kListedProductIds) {
    if (FindUsbInterfaceGuid(id)) listed.push_back(id);
  }
  EXPECT_EQ(listed, usb_.asked);
  EXPECT_EQ(0, std::count(usb_.asked.begin(), usb_.asked.end(), kFamilyE));
  // Listing left every player closed and unlocked.
  for (const SimFlashPlayer* player :
       {static_cast<SimFlashPlayer*>(family_d_.get()), static_cast<SimFlashPlayer*>(second_d_.get()),
        static_cast<SimFlashPlayer*>(family_c_.get()), static_cast<SimFlashPlayer*>(family_a_.get())}) {
    EXPECT_EQ(0, player->holders);
    EXPECT_EQ(0, player->lock_depth);
  }
  EXPECT_TRUE(family_e_->log.empty());
}

// WMDM hands a PnP-aware provider each player's plug and play name: the interface path, "$"
// and a number. Each storage becomes a device, storage 0 first; the device answers as on the
// enumeration road and names the player by its interface path, so both roads share one lock.
TEST_F(EndToEndTest, PlugAndPlayNameGivesEveryStorageOfThePlayer) {
  const std::string pavo = UsbPath(kFamilyD, 1);
  const std::vector<IMDSPDevice*> devices = DevicesOf(pavo);
  ASSERT_EQ(2u, devices.size());
  const std::vector<IMDSPDevice*> enumerated = Enumerate();
  const wchar_t* expected[] = {L"Pavo Sim Internal", L"Pavo Sim Card"};
  for (size_t i = 0; i < devices.size(); ++i) {
    IMDSPDevice* const device = devices[i];
    SCOPED_TRACE(i);
    const DeviceReport report = WmdmHost::Describe(device);
    EXPECT_EQ(expected[i], report.name);
    EXPECT_EQ(std::wstring(pavo.begin(), pavo.end()), report.canonical_name);
    EXPECT_EQ(kFamilyD, report.product_id);
    const DeviceReport same = WmdmHost::Describe(DeviceNamed(enumerated, expected[i]));
    EXPECT_EQ(same.canonical_name, report.canonical_name);
    EXPECT_EQ(same.serial, report.serial);
  }
  EXPECT_EQ(0, family_d_->holders);
  EXPECT_EQ(0, family_d_->lock_depth);
}

TEST_F(EndToEndTest, PlugAndPlayNameOfNoPlayerFails) {
  DWORD count = 7;
  IMDSPDevice** array = nullptr;
  EXPECT_EQ(rc::FromWin32(ERROR_FILE_NOT_FOUND),
            provider()->CreateDevice(L"\\\\?\\usb#vid_0e21&pid_5005#9$0", &count, &array));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(nullptr, array);
}

TEST_F(EndToEndTest, TracksAreListedPerStorage) {
  const std::vector<IMDSPDevice*> devices = List();
  EXPECT_EQ(std::vector<std::wstring>{L"Old_Song.mp3"},
            TrackNames(DeviceNamed(devices, L"Pavo Sim Internal")));
  EXPECT_TRUE(TrackNames(DeviceNamed(devices, L"Pavo Sim Card")).empty());
  EXPECT_EQ(std::vector<std::wstring>{L"Old_Song.mp3"},
            TrackNames(DeviceNamed(devices, L"Qel Sorn Internal Memory")));
  EXPECT_EQ(std::vector<std::wstring>{L"Old Song.mp3"}, TrackNames(DeviceNamed(devices, L"Qel Pirn")));
}

TEST_F(EndToEndTest, AnUnpluggedPlayerFailsItsDevicesAndIsNoLongerListed) {
  std::vector<IMDSPDevice*> devices = List();
  IMDSPDevice* card = DeviceNamed(devices, L"Pavo Sim Card");
  ASSERT_NE(nullptr, card);
  family_d_->unplugged = true;
  usb_.Detach(UsbPath(kFamilyD, 1));

  // What was read at listing is still known; what needs the player fails, and leaves the
  // device ready for nothing rather than busy for ever.
  EXPECT_EQ(L"Pavo Sim Card", WmdmHost::NameOf(card));
  WMDMID serial = {};
  EXPECT_TRUE(FAILED(card->GetSerialNumber(&serial, nullptr)));
  uint8_t identity[4] = {};
  OPAQUECOMMAND command = {};
  command.guidCommand = kOpaqueDeviceIdentity;
  command.pData = identity;
  command.dwDataLen = sizeof identity;
  EXPECT_TRUE(FAILED(card->SendOpaqueCommand(&command)));
  EXPECT_TRUE(FAILED(Upload(card, L"Road_Song.mp3", "bytes")));
  DWORD status = 0;
  EXPECT_EQ(S_OK, card->GetStatus(&status));
  EXPECT_EQ(static_cast<DWORD>(WMDM_STATUS_READY), status);
  EXPECT_EQ(0, BusyCount());

  devices = Enumerate();
  ASSERT_EQ(std::size(kDevices) - 2, devices.size());
  EXPECT_EQ(L"Pavo Two", WmdmHost::NameOf(devices[0]));
}

}  // namespace
