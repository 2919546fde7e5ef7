#include "devices/msc/com_scsi_device.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "devices/msc/msc_results.h"
#include "devices/msc/nt_scsi_device.h"
#include "devices/msc/scsi_command.h"
#include "devices/progress_sink.h"
#include "media/property_holder.h"
#include "msc_com_server.h"
#include "support/memory_stream.h"

namespace {

using Lines = std::vector<std::string>;

std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path[0] == '\\' ? "Z:" + path : path;
}

// The test server registered in the prefix while a test runs.
class ServerRegistration {
 public:
  ServerRegistration() {
    wchar_t text[64];
    StringFromGUID2(kMscComServerClass, text, 64);
    char clsid[64];
    WideCharToMultiByte(CP_ACP, 0, text, -1, clsid, sizeof clsid, nullptr, nullptr);
    key_ = std::string("CLSID\\") + clsid;
    HKEY server = nullptr;
    RegCreateKeyExA(HKEY_CLASSES_ROOT, (key_ + "\\InprocServer32").c_str(), 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &server, nullptr);
    const std::string dll = WindowsPath(MSC_COM_SERVER_DLL);
    RegSetValueExA(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                   static_cast<DWORD>(dll.size() + 1));
    RegSetValueExA(server, "ThreadingModel", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>("Both"), 5);
    RegCloseKey(server);
    module_ = LoadLibraryA(dll.c_str());
    auto get = reinterpret_cast<MscComServerStateFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, "GetMscComServerState")));
    state = get != nullptr ? get() : nullptr;
  }
  ~ServerRegistration() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, key_.c_str());
    if (module_ != nullptr) FreeLibrary(module_);
  }

  MscComServerState* state = nullptr;

 private:
  std::string key_;
  HMODULE module_ = nullptr;
};

ComScsiDriveInfo Drive(char letter, uint64_t serial, const char* unit_serial) {
  ComScsiDriveInfo info = {};
  info.drive_letter = letter;
  std::strcpy(info.vendor, "Qel");
  std::strcpy(info.product, "Qel MS 20");
  std::strcpy(info.revision, "1.0");
  std::strcpy(info.unit_serial, unit_serial);
  info.serial = serial;
  info.product_id = 0x5041;
  return info;
}

struct ProgressCalls : ProgressSink {
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  Result Report(uint32_t done, uint32_t total) override {
    calls.emplace_back(done, total);
    return rc::kOk;
  }
};

class ComScsiDeviceTest : public ::testing::Test {
 protected:
  ServerRegistration registration;
  ComScsiDevice device{kMscComServerClass};

  void SetUp() override {
    ASSERT_NE(registration.state, nullptr);
    *registration.state = MscComServerState();
  }
  MscComServerState& server() { return *registration.state; }
};

TEST_F(ComScsiDeviceTest, InitialiseFindsTheServersPlayerInterface) {
  EXPECT_EQ(device.Initialize(), rc::kOk);
  EXPECT_EQ(server().live_objects, 0);  // created and released again
  server().answer_player_interface = false;
  EXPECT_EQ(device.Initialize(), E_POINTER);
  ComScsiDevice unknown(CLSID{0x01020304, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}});
  EXPECT_EQ(unknown.Initialize(), REGDB_E_CLASSNOTREG);
}

TEST_F(ComScsiDeviceTest, DrivesOfOnePlayerMakeOneRecordInSerialOrder) {
  server().drives = {Drive('G', 9, "UNIT-G"), Drive('E', 5, "UNIT-E"), Drive('F', 5, "UNIT-F")};
  std::vector<MscDriveRecord> records;
  ASSERT_EQ(device.EnumerateDrives(&records), rc::kOk);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].serial, 5u);
  ASSERT_EQ(records[0].drive_entries.size(), 2u);
  EXPECT_EQ(records[0].drive_entries[1].unit_serial, "UNIT-F");
  EXPECT_EQ(records[0].product, "Qel MS 20");
  EXPECT_EQ(records[1].drive_letter, 'G');
  EXPECT_EQ(server().live_objects, 0);
}

TEST_F(ComScsiDeviceTest, UnterminatedTextsAreReadOnlyToTheirEnds) {
  ComScsiDriveInfo info = Drive('E', 1, "");
  std::memset(info.vendor, 'V', sizeof info.vendor);
  std::memset(info.unit_serial, 'U', sizeof info.unit_serial);
  server().drives = {info};
  std::vector<MscDriveRecord> records;
  ASSERT_EQ(device.EnumerateDrives(&records), rc::kOk);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].vendor, std::string(9, 'V'));
  EXPECT_EQ(records[0].drive_entries[0].unit_serial, std::string(64, 'U'));
}

TEST_F(ComScsiDeviceTest, ServerAnswersTheOperationsItTakes) {
  server().drives = {Drive('E', 5, "UNIT-E")};
  EXPECT_EQ(device.CheckUnitSerial('E'), rc::kOk);
  EXPECT_EQ(device.CheckUnitSerial('X'), rc::kFail);
  EXPECT_EQ(device.SetTime('E', 1, 2), rc::kOk);
  std::vector<MscDriveEntry> entries(2);
  entries[0].drive_letter = 'E';
  entries[1].drive_letter = 'F';
  EXPECT_EQ(device.FlushVolumes('E', entries), rc::kOk);
  EXPECT_EQ(server().calls, Lines({"check E:", "check X:", "time E: 1 2", "flush E: EF"}));
}

TEST_F(ComScsiDeviceTest, CommandsAndTheQueriesBuiltOnThemAreNotSupported) {
  uint32_t value = 0;
  EXPECT_EQ(device.Request140Value('E', &value), rc::kNotImplemented);
  PropertyHolder sensors;
  EXPECT_EQ(device.GetSensors('E', sensors), rc::kNotImplemented);
  auto command = MakeInquiry();
  EXPECT_EQ(device.Execute(INVALID_HANDLE_VALUE, command.get()), rc::kNotImplemented);
  EXPECT_EQ(device.QueryPlayer('E', nullptr), rc::kNotImplemented);
}

TEST_F(ComScsiDeviceTest, FirmwareGoesInPaddedBlocksWithProgress) {
  MemoryStream image(std::string(8193, 'x'));
  ProgressCalls progress;
  EXPECT_EQ(device.UpgradeFirmware('E', {}, 8, &image, &progress), rc::kOk);
  EXPECT_EQ(server().calls, Lines({"block E: 0 flags 8", "block E: 1 flags 8"}));
  ASSERT_EQ(server().firmware.size(), 16384u);
  EXPECT_EQ(server().firmware[8192], 'x');
  EXPECT_EQ(server().firmware[8193], 0);
  EXPECT_EQ(progress.calls, (std::vector<std::pair<uint32_t, uint32_t>>{{8192, 8193},
                                                                        {8193, 8193}}));
}

TEST_F(ComScsiDeviceTest, RefusedFirmwareIsALockRejection) {
  server().refuse_firmware = true;
  MemoryStream image(std::string(10, 'x'));
  EXPECT_EQ(device.UpgradeFirmware('E', {}, 0, &image, nullptr), rc::kVolumeLockRejected);
  EXPECT_EQ(server().calls.size(), 1u);
}

TEST(ComScsiFactoryTest, NoServerIsConfiguredSoTheFullEntryKeepsTheNtBackEnd) {
  EXPECT_TRUE(IsEqualGUID(ComScsiServerClass(), CLSID{}));
}

}  // namespace
