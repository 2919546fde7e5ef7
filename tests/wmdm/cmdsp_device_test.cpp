#include "wmdm/cmdsp_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devices/device_results.h"
#include "testlib/import_patch.h"
#include "testlib/recording_wmdm_logger.h"
#include "testlib/scripted_player.h"
#include "wmdm/wmdm_types.h"

namespace {

constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);

// A COM reference released at scope end.
template <typename T>
class ComRef {
 public:
  explicit ComRef(T* object = nullptr) : object_(object) {}
  ~ComRef() {
    if (object_) object_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T* operator->() const { return object_; }
  T* get() const { return object_; }
  T** out() { return &object_; }

 private:
  T* object_;
};

// A device made and initialised the way the enumerator makes it.
ComRef<CMDSPDevice>* NewDevice(const std::shared_ptr<SimPlayer>& player, uint32_t index,
                               Result* init = nullptr) {
  CMDSPDevice* device = CMDSPDevice::New();
  device->AddRef();
  const Result result =
      device->Init(SimPlayerDevice::Make(player), index,
                   static_cast<uint32_t>(player->storages.size()));
  if (init) *init = result;
  return new ComRef<CMDSPDevice>(device);
}

class CMDSPDeviceTest : public ::testing::Test {
 protected:
  CMDSPDeviceTest() : player_(SimPlayer::WithStorages({"Internal", "Card"})) {
    player_->storages[1].files = {{16, "tune"}, {32, "binary"}, {48, "tune"}};
  }

  std::unique_ptr<ComRef<CMDSPDevice>> Make(uint32_t index, Result* init = nullptr) {
    return std::unique_ptr<ComRef<CMDSPDevice>>(NewDevice(player_, index, init));
  }

  std::shared_ptr<SimPlayer> player_;
};

TEST_F(CMDSPDeviceTest, InitReadsTheStorageUnderOneOpenOfTheChannel) {
  Result init = rc::kFail;
  auto device = Make(1, &init);
  ASSERT_EQ(init, rc::kOk);
  EXPECT_EQ(player_->opens, 1);
  EXPECT_EQ(player_->channel_deletions, 1);
  EXPECT_EQ(player_->CountCalls("SetClock"), 0);  // only storage 0 sets the clock
  CMDSPDevice& d = *device->get();
  EXPECT_EQ(d.storage_index(), 1);
  EXPECT_EQ(d.storage_count(), 2u);
  EXPECT_EQ(d.storage_name(), L"Card");
  EXPECT_EQ(d.total_size(), (int64_t{1} << 32) + 1);
  EXPECT_EQ(std::string(d.serial().begin(), d.serial().end()), "STORAGE-1");
  ASSERT_EQ(d.files().size(), 2u);  // tunes only
  EXPECT_EQ(d.files()[1]->GetString("fid"), "48");
  ASSERT_NE(d.device_ptr()->GetPredictor(), nullptr);
}

TEST_F(CMDSPDeviceTest, StorageZeroSetsThePlayersClock) {
  Result init = rc::kFail;
  auto device = Make(0, &init);
  ASSERT_EQ(init, rc::kOk);
  EXPECT_EQ(player_->CountCalls("SetClock"), 1);
  EXPECT_NE(player_->clock, 0u);
}

TEST_F(CMDSPDeviceTest, FirstFailingStepIsTheResultAndTheChannelIsClosed) {
  const struct {
    const char* op;
    Result failure;
    Result expected;
  } cases[] = {
      {"SetClock", rc::kBadData, rc::kBadData},
      {"GetDeviceInfo", rc::kTimeout, rc::kTimeout},
      {"CreatePredictor(0)", rc::kBadData, rc::kBadData},
      {"GetStorageInfo(0)", rc::kPlayerFull, kDiskFull},
      {"EnumFiles(0)", rc::kBadData, rc::kBadData},
      // A player without a clock is still listed.
      {"SetClock", rc::kNotImplemented, rc::kOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.op);
    player_ = SimPlayer::WithStorages({"Internal"});
    player_->failures[c.op] = c.failure;
    Result init = rc::kOk;
    auto device = Make(0, &init);
    EXPECT_EQ(init, c.expected);
    EXPECT_EQ(player_->opens, player_->channel_deletions);
    EXPECT_EQ((*device)->device_ptr()->open_count(), 0u);
  }
}

TEST_F(CMDSPDeviceTest, NameOfThePlayerAndItsStorage) {
  const struct {
    std::vector<std::string> storages;
    uint32_t index;
    bool info_fails;
    const wchar_t* expected;
  } cases[] = {
      {{"Internal"}, 0, false, L"Qel One"},
      {{"Internal", "Card"}, 1, false, L"Qel One Card"},
      {{"Internal", "Card"}, 0, false, L"Qel One Internal"},
      {{"Internal"}, 0, true, L"Qel Player"},
  };
  for (const auto& c : cases) {
    player_ = SimPlayer::WithStorages(c.storages);
    if (c.info_fails) player_->failures["GetDeviceInfo"] = rc::kTimeout;
    auto device = Make(c.index);
    wchar_t name[64] = {};
    EXPECT_EQ((*device)->GetName(name, 64), S_OK);
    EXPECT_STREQ(name, c.expected);
  }
}

using TextGetter = HRESULT (STDMETHODCALLTYPE CMDSPDevice::*)(LPWSTR, UINT);

struct TextCase {
  const char* method;
  TextGetter getter;
  const wchar_t* full;
};

class CMDSPDeviceTextTest : public CMDSPDeviceTest,
                            public ::testing::WithParamInterface<TextCase> {};

TEST_P(CMDSPDeviceTextTest, CutTextIsTerminatedAndReportedTooSmall) {
  auto device = Make(0);
  CMDSPDevice* d = device->get();
  const TextCase& c = GetParam();
  wchar_t buffer[64];
  ASSERT_EQ((d->*c.getter)(buffer, 64), S_OK);
  EXPECT_STREQ(buffer, c.full);

  wmemset(buffer, L'#', 64);
  EXPECT_EQ((d->*c.getter)(buffer, 4), WMDM_E_BUFFERTOOSMALL);
  EXPECT_EQ(std::wstring(buffer), std::wstring(c.full).substr(0, 3));
  EXPECT_EQ(buffer[4], L'#');

  // Exactly the text and its terminator fits.
  const UINT exact = static_cast<UINT>(wcslen(c.full) + 1);
  EXPECT_EQ((d->*c.getter)(buffer, exact), S_OK);
  EXPECT_STREQ(buffer, c.full);
}

TEST_P(CMDSPDeviceTextTest, ZeroLengthAndNullBuffersAreRefusedUntouched) {
  auto device = Make(0);
  CMDSPDevice* d = device->get();
  const TextCase& c = GetParam();
  wchar_t buffer[2] = {L'#', L'#'};
  EXPECT_EQ((d->*c.getter)(buffer, 0), WMDM_E_BUFFERTOOSMALL);
  EXPECT_EQ(buffer[0], L'#');
  EXPECT_EQ((d->*c.getter)(nullptr, 10), E_INVALIDARG);
}

INSTANTIATE_TEST_SUITE_P(
    Getters, CMDSPDeviceTextTest,
    ::testing::Values(TextCase{"GetName", &CMDSPDevice::GetName, L"Qel One Internal"},
                      TextCase{"GetManufacturer", &CMDSPDevice::GetManufacturer, L"Qel Audio"},
                      TextCase{"GetCanonicalName", &CMDSPDevice::GetCanonicalName,
                               L"\\\\?\\usb#vid_0e21&pid_5210#0001"}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return info.param.method; });

TEST_F(CMDSPDeviceTest, FixedAnswers) {
  auto device = Make(0);
  CMDSPDevice* d = device->get();
  DWORD value = 0;
  DWORD percent = 0;
  EXPECT_EQ(d->GetVersion(&value), S_OK);
  EXPECT_EQ(value, 0x0203u);
  EXPECT_EQ(d->GetType(&value), S_OK);
  EXPECT_EQ(value, 0xD3u);
  EXPECT_EQ(d->GetPowerSource(&value, &percent), S_OK);
  EXPECT_EQ(value, 5u);
  EXPECT_EQ(percent, 100u);
  EXPECT_EQ(d->GetCapabilities(&value), S_OK);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(d->GetStatus(&value), S_OK);
  EXPECT_EQ(value, WMDM_STATUS_READY);
  EXPECT_EQ(d->GetDCStatus(&value), S_OK);
  EXPECT_EQ(value, WMDM_STATUS_READY);
  EXPECT_EQ(d->Play(), WMDM_E_NOTSUPPORTED);
  EXPECT_EQ(d->Record(nullptr), WMDM_E_NOTSUPPORTED);
  EXPECT_EQ(d->Pause(), WMDM_E_NOTSUPPORTED);
  EXPECT_EQ(d->Resume(), WMDM_E_NOTSUPPORTED);
  EXPECT_EQ(d->Stop(), WMDM_E_NOTSUPPORTED);
  EXPECT_EQ(d->Seek(MDSP_SEEK_BOF, 0), WMDM_E_NOTSUPPORTED);
  EXPECT_EQ(d->GetSpecifyPropertyPages(nullptr, nullptr, nullptr), WMDM_E_NOTSUPPORTED);
  UINT count = 7;
  WMDM_WAVEFORMATEX* formats = reinterpret_cast<WMDM_WAVEFORMATEX*>(&count);
  EXPECT_EQ(d->GetFormatSupport2(WMDM_GET_FORMAT_SUPPORT_AUDIO, &formats, &count, nullptr,
                                 nullptr, nullptr, nullptr),
            WMDM_E_NOTSUPPORTED);
  EXPECT_EQ(formats, nullptr);
  EXPECT_EQ(count, 0u);
}

TEST_F(CMDSPDeviceTest, SerialNumberComesFromAFreshReadAndIsCappedAt128Bytes) {
  auto device = Make(0);
  player_->serial = std::string(200, 'S');
  player_->serial[127] = 'E';
  WMDMID id;
  std::memset(&id, 0xEE, sizeof id);
  ASSERT_EQ((*device)->GetSerialNumber(&id, nullptr), S_OK);
  EXPECT_EQ(id.cbSize, 140u);
  EXPECT_EQ(id.dwVendorID, kPlayerVendorId);
  EXPECT_EQ(id.SerialNumberLength, 128u);
  EXPECT_EQ(id.pID[127], 'E');

  player_->serial = "ABC";
  ASSERT_EQ((*device)->GetSerialNumber(&id, nullptr), S_OK);
  EXPECT_EQ(id.SerialNumberLength, 3u);
  EXPECT_EQ(std::memcmp(id.pID, "ABC\0", 4), 0);
}

TEST_F(CMDSPDeviceTest, StaleDeviceAndFullPlayerReachWmdmMapped) {
  auto device = Make(0);
  WMDMID id;
  player_->generation = 99;  // someone else changed the player since Init
  EXPECT_EQ((*device)->GetSerialNumber(&id, nullptr), WMDM_E_INTERFACEDEAD);

  player_ = SimPlayer::WithStorages({"Internal"});
  auto other = Make(0);
  player_->failures["FormatStorage"] = rc::kPlayerFull;
  EXPECT_EQ((*other)->FormatStorage(), kDiskFull);
}

TEST_F(CMDSPDeviceTest, NullOutPointersAreRefused) {
  auto device = Make(0);
  CMDSPDevice* d = device->get();
  DWORD value = 0;
  EXPECT_EQ(d->GetVersion(nullptr), E_INVALIDARG);
  EXPECT_EQ(d->GetType(nullptr), E_INVALIDARG);
  EXPECT_EQ(d->GetSerialNumber(nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(d->GetPowerSource(nullptr, &value), E_INVALIDARG);
  EXPECT_EQ(d->GetPowerSource(&value, nullptr), E_INVALIDARG);
  EXPECT_EQ(d->GetStatus(nullptr), E_INVALIDARG);
  EXPECT_EQ(d->GetDCStatus(nullptr), E_INVALIDARG);
  EXPECT_EQ(d->GetCapabilities(nullptr), E_INVALIDARG);
  EXPECT_EQ(d->GetDeviceIcon(nullptr), E_INVALIDARG);
  EXPECT_EQ(d->EnumStorage(nullptr), E_INVALIDARG);
  EXPECT_EQ(d->SendOpaqueCommand(nullptr), E_INVALIDARG);
  EXPECT_EQ(d->GetStorage(L"Internal", nullptr), E_INVALIDARG);
  IMDSPStorage* storage = reinterpret_cast<IMDSPStorage*>(&value);
  EXPECT_EQ(d->GetStorage(nullptr, &storage), E_INVALIDARG);
}

TEST_F(CMDSPDeviceTest, FormatSupportListsMp3AndWma) {
  auto device = Make(0);
  WMDM_WAVEFORMATEX* formats = nullptr;
  LPWSTR* mimes = nullptr;
  UINT format_count = 0;
  UINT mime_count = 0;
  ASSERT_EQ((*device)->GetFormatSupport(&formats, &format_count, &mimes, &mime_count), S_OK);
  ASSERT_EQ(format_count, 2u);
  EXPECT_EQ(formats[0].wFormatTag, 0x55);
  EXPECT_EQ(formats[0].nAvgBytesPerSec, 0u);
  EXPECT_EQ(formats[1].wFormatTag, 0x161);
  EXPECT_EQ(formats[1].nAvgBytesPerSec, 45000u);
  EXPECT_EQ(formats[1].nChannels, 0);
  ASSERT_EQ(mime_count, 3u);
  EXPECT_STREQ(mimes[0], L"audio/mpeg");
  EXPECT_STREQ(mimes[1], L"audio/mp3");
  EXPECT_STREQ(mimes[2], L"audio/x-ms-wma");
  for (UINT i = 0; i < mime_count; ++i) CoTaskMemFree(mimes[i]);
  CoTaskMemFree(mimes);
  CoTaskMemFree(formats);
}

TEST_F(CMDSPDeviceTest, FormatSupportWithANullPointerHandsOutNothing) {
  auto device = Make(0);
  WMDM_WAVEFORMATEX* formats = reinterpret_cast<WMDM_WAVEFORMATEX*>(1);
  LPWSTR* mimes = reinterpret_cast<LPWSTR*>(1);
  UINT format_count = 9;
  UINT mime_count = 9;
  EXPECT_EQ((*device)->GetFormatSupport(&formats, &format_count, &mimes, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(formats, nullptr);
  EXPECT_EQ(mimes, nullptr);
  EXPECT_EQ(format_count, 0u);
  EXPECT_EQ(mime_count, 9u);
}

TEST_F(CMDSPDeviceTest, DeviceIdentityCommandChecksTheCallersData) {
  auto device = Make(0);
  OPAQUECOMMAND command = {};
  command.guidCommand = kOpaqueDeviceIdentity;
  uint8_t data[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};

  command.pData = data;
  command.dwDataLen = 6;
  ASSERT_EQ((*device)->SendOpaqueCommand(&command), S_OK);
  const uint8_t expected[6] = {0x10, 0x52, 0, 0, 0xAA, 0xAA};
  EXPECT_EQ(std::memcmp(data, expected, 6), 0);

  std::memset(data, 0xAA, sizeof data);
  command.dwDataLen = 3;
  EXPECT_EQ((*device)->SendOpaqueCommand(&command), WMDM_E_BUFFERTOOSMALL);
  EXPECT_EQ(data[0], 0xAA);

  command.pData = nullptr;
  command.dwDataLen = 4;
  EXPECT_EQ((*device)->SendOpaqueCommand(&command), E_INVALIDARG);
  command.dwDataLen = 0;
  EXPECT_EQ((*device)->SendOpaqueCommand(&command), E_INVALIDARG);
  EXPECT_EQ(player_->CountCalls("GetDeviceID"), 1);
}

TEST_F(CMDSPDeviceTest, SessionBlockCommandReplacesTheData) {
  auto device = Make(0);
  OPAQUECOMMAND command = {};
  command.guidCommand = kOpaqueSessionBlock;
  command.pData = static_cast<BYTE*>(CoTaskMemAlloc(3));
  command.dwDataLen = 3;
  ASSERT_EQ((*device)->SendOpaqueCommand(&command), S_OK);
  ASSERT_NE(command.pData, nullptr);
  EXPECT_EQ(command.dwDataLen, 16u);
  const BYTE zeros[16] = {};
  EXPECT_EQ(std::memcmp(command.pData, zeros, 16), 0);
  CoTaskMemFree(command.pData);

  command.pData = nullptr;
  command.dwDataLen = 0;  // nothing to free is fine
  ASSERT_EQ((*device)->SendOpaqueCommand(&command), S_OK);
  EXPECT_EQ(command.dwDataLen, 16u);
  CoTaskMemFree(command.pData);

  command.pData = nullptr;
  command.dwDataLen = 8;  // claims data it does not carry
  EXPECT_EQ((*device)->SendOpaqueCommand(&command), E_INVALIDARG);
  EXPECT_EQ(command.pData, nullptr);
  EXPECT_EQ(command.dwDataLen, 8u);
}

TEST_F(CMDSPDeviceTest, UnknownOpaqueCommandIsNotSupported) {
  auto device = Make(0);
  uint8_t data[4] = {1, 2, 3, 4};
  OPAQUECOMMAND command = {};
  command.guidCommand = IID_IUnknown;
  command.pData = data;
  command.dwDataLen = 4;
  EXPECT_EQ((*device)->SendOpaqueCommand(&command), WMDM_E_NOTSUPPORTED);
  EXPECT_EQ(data[0], 1);
}

TEST_F(CMDSPDeviceTest, GetStorageByNameIgnoringCase) {
  auto device = Make(1);
  IMDSPStorage* storage = reinterpret_cast<IMDSPStorage*>(1);
  EXPECT_EQ((*device)->GetStorage(L"Internal", &storage), S_FALSE);
  EXPECT_EQ(storage, nullptr);
  ASSERT_EQ((*device)->GetStorage(L"cARD", &storage), S_OK);
  ASSERT_NE(storage, nullptr);
  EXPECT_NE((*device)->first_storage(), nullptr);
  storage->Release();
  EXPECT_EQ((*device)->first_storage(), nullptr);
}

TEST_F(CMDSPDeviceTest, InterfacesOfTheDevice) {
  auto device = Make(0);
  ComRef<IMDSPDeviceControl> control;
  ASSERT_EQ((*device)->QueryInterface(IID_IMDSPDeviceControl,
                                      reinterpret_cast<void**>(control.out())),
            S_OK);
  ComRef<IMDSPDevice2> device2;
  ASSERT_EQ(control->QueryInterface(IID_IMDSPDevice2, reinterpret_cast<void**>(device2.out())),
            S_OK);
  EXPECT_EQ(device2.get(), static_cast<IMDSPDevice2*>(device->get()));
  void* other = &other;
  EXPECT_EQ((*device)->QueryInterface(IID_IMDSPStorage, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

TEST_F(CMDSPDeviceTest, DeleteFileDropsTheListedTrack) {
  auto device = Make(1);
  PropertyHolder file;
  file.SetInt("fid", 16);
  ASSERT_EQ((*device)->DeleteFile(file), S_OK);
  ASSERT_EQ((*device)->files().size(), 1u);
  EXPECT_EQ((*device)->files()[0]->GetString("fid"), "48");

  player_->failures["DeleteFile"] = rc::kTimeout;
  file.SetInt("fid", 48);
  EXPECT_EQ((*device)->DeleteFile(file), rc::kTimeout);
  EXPECT_EQ((*device)->files().size(), 1u);
}

TEST_F(CMDSPDeviceTest, FormatEmptiesTheListAndResetsThePredictor) {
  auto device = Make(1);
  const int resets = player_->predictor_resets;
  player_->storages[1].name = "Renamed";
  ASSERT_EQ((*device)->FormatStorage(), S_OK);
  EXPECT_TRUE((*device)->files().empty());
  EXPECT_EQ((*device)->storage_name(), L"Renamed");  // read again
  EXPECT_EQ(player_->predictor_resets, resets + 1);
  DWORD status = 0;
  (*device)->GetStatus(&status);
  EXPECT_EQ(status, WMDM_STATUS_READY);
  EXPECT_EQ(CMDSPDevice::BusyCount(), 0);
}

TEST_F(CMDSPDeviceTest, FailedFormatKeepsTheList) {
  auto device = Make(1);
  player_->failures["FormatStorage"] = rc::kTimeout;
  EXPECT_EQ((*device)->FormatStorage(), rc::kTimeout);
  EXPECT_EQ((*device)->files().size(), 2u);
  EXPECT_EQ(CMDSPDevice::BusyCount(), 0);
}

TEST_F(CMDSPDeviceTest, UploadStaysBusyUntilCommitted) {
  auto device = Make(0);
  OutputStream* stream = nullptr;
  ASSERT_EQ((*device)->CreateNewFile(&stream), S_OK);
  DWORD status = 0;
  (*device)->GetStatus(&status);
  EXPECT_EQ(status, WMDM_STATUS_BUSY);
  EXPECT_EQ((*device)->CommitNewFile(stream), S_OK);
  EXPECT_EQ(stream, nullptr);
  (*device)->GetStatus(&status);
  EXPECT_EQ(status, WMDM_STATUS_READY);

  player_->failures["CreateNewFile"] = rc::kPlayerFull;
  EXPECT_EQ((*device)->CreateNewFile(&stream), kDiskFull);
  (*device)->GetStatus(&status);
  EXPECT_EQ(status, WMDM_STATUS_READY);
  EXPECT_EQ(CMDSPDevice::BusyCount(), 0);
}

class BusyAccountingTest : public CMDSPDeviceTest {
 protected:
  DWORD StatusOf(CMDSPDevice* device) {
    DWORD status = 0;
    EXPECT_EQ(device->GetStatus(&status), S_OK);
    return status;
  }
};

TEST_F(BusyAccountingTest, ExtraBitsShowWhileTheOperationRuns) {
  auto device = Make(0);
  (*device)->BeginOperation(WMDM_STATUS_STORAGE_INITIALIZING);
  EXPECT_EQ(StatusOf(device->get()), WMDM_STATUS_BUSY | WMDM_STATUS_STORAGE_INITIALIZING);
  EXPECT_EQ(CMDSPDevice::BusyCount(), 1);
  (*device)->EndOperation(WMDM_STATUS_STORAGE_INITIALIZING);
  EXPECT_EQ(StatusOf(device->get()), WMDM_STATUS_READY);
  EXPECT_EQ(CMDSPDevice::BusyCount(), 0);
}

TEST_F(BusyAccountingTest, FirstDeviceStaysBusyUntilTheSecondEnds) {
  auto first = Make(0);
  auto second = Make(1);
  (*first)->BeginOperation(0);
  (*second)->BeginOperation(0);
  (*first)->EndOperation(0);
  EXPECT_EQ(StatusOf(first->get()), WMDM_STATUS_BUSY);
  EXPECT_EQ(StatusOf(second->get()), WMDM_STATUS_BUSY);
  (*second)->EndOperation(0);
  EXPECT_EQ(StatusOf(second->get()), WMDM_STATUS_READY);
  EXPECT_EQ(StatusOf(first->get()), WMDM_STATUS_READY);
}

TEST_F(BusyAccountingTest, UnmatchedEndNeverDrivesTheCountNegative) {
  auto device = Make(0);
  (*device)->EndOperation(0);
  EXPECT_EQ(CMDSPDevice::BusyCount(), 0);
  (*device)->BeginOperation(0);
  EXPECT_EQ(StatusOf(device->get()), WMDM_STATUS_BUSY);
  (*device)->EndOperation(0);
  EXPECT_EQ(StatusOf(device->get()), WMDM_STATUS_READY);
}

TEST_F(BusyAccountingTest, ThreadsBeginningAndEndingTogetherLeaveItReady) {
  auto first = Make(0);
  auto second = Make(1);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    CMDSPDevice* device = (t % 2 ? second : first)->get();
    const DWORD bit = t < 2 ? WMDM_STATUS_STORAGECONTROL_INSERTING
                            : WMDM_STATUS_STORAGECONTROL_DELETING;
    threads.emplace_back([device, bit] {
      for (int i = 0; i < 20000; ++i) {
        device->BeginOperation(bit);
        device->EndOperation(bit);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(CMDSPDevice::BusyCount(), 0);
  EXPECT_EQ(StatusOf(first->get()), WMDM_STATUS_READY);
  EXPECT_EQ(StatusOf(second->get()), WMDM_STATUS_READY);
}

TEST_F(CMDSPDeviceTest, EveryMethodEndsWithItsResultLine) {
  auto device = Make(0);
  RecordedWmdmLog log;
  DWORD value = 0;
  (*device)->GetVersion(&value);
  (*device)->GetVersion(nullptr);
  wchar_t name[4];
  (*device)->GetName(name, 4);
  ASSERT_EQ(log.lines().size(), 4u);
  EXPECT_EQ(log.lines()[0].format, "CMDSPDevice::GetVersion returned 0x%08lx");
  EXPECT_EQ(log.lines()[0].flags, WMDM_LOG_SEV_INFO);
  EXPECT_EQ(log.lines()[1].Text(), "NULL input pointer");
  EXPECT_EQ(log.lines()[2].Text(), "CMDSPDevice::GetVersion returned 0x80070057");
  EXPECT_EQ(log.lines()[2].flags, WMDM_LOG_SEV_ERROR);
  EXPECT_EQ(log.lines()[3].Text(), "CMDSPDevice::GetName returned 0x80045008");
  EXPECT_EQ(log.lines()[0].source, "TORVEX");
}

TEST_F(CMDSPDeviceTest, FormatSupport2LogsItsFlags) {
  auto device = Make(0);
  RecordedWmdmLog log;
  (*device)->GetFormatSupport2(0x7, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[0].Text(), "dwFlags is 0x00000007");
  EXPECT_EQ(log.lines()[1].Text(), "CMDSPDevice::GetFormatSupport2 returned 0x80045004");
}

}  // namespace

namespace {

// Windows 9x has the wide resource and icon functions only as stubs that fail.
HRSRC WINAPI StubFindResourceW(HMODULE, LPCWSTR, LPCWSTR) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}
HICON WINAPI StubLoadIconW(HINSTANCE, LPCWSTR) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}
// What a module without the icon answers.
HRSRC WINAPI NoIconFindResourceExA(HMODULE, LPCSTR, LPCSTR, WORD) {
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}
HRSRC WINAPI NoIconFindResourceW(HMODULE, LPCWSTR, LPCWSTR) {
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

// The test program carries the DLL's resources, so the icon is found as in Torvex.dll.
TEST(CMDSPDeviceIconTest, TheIconLoadsOnEveryWindowsAndItsAbsenceIsAWin32Result) {
  struct Import {
    const char* dll;
    const char* name;
    const void* replacement;
  };
  const struct {
    const char* what;
    std::vector<Import> imports;
    bool found;
  } cases[] = {
      {"this Windows", {}, true},
      {"Windows 9x",
       {{"KERNEL32.DLL", "FindResourceW", reinterpret_cast<const void*>(&StubFindResourceW)},
        {"USER32.DLL", "LoadIconW", reinterpret_cast<const void*>(&StubLoadIconW)}},
       true},
      {"no icon in the module",
       {{"KERNEL32.DLL", "FindResourceExA", reinterpret_cast<const void*>(&NoIconFindResourceExA)},
        {"KERNEL32.DLL", "FindResourceW", reinterpret_cast<const void*>(&NoIconFindResourceW)}},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::unique_ptr<ImportPatch>> patches;
    for (const auto& import : c.imports) {
      patches.push_back(std::make_unique<ImportPatch>(GetModuleHandleA(nullptr), import.dll,
                                                      import.name, import.replacement));
    }
    auto player = SimPlayer::WithStorages({"Internal"});
    std::unique_ptr<ComRef<CMDSPDevice>> device(NewDevice(player, 0));
    ULONG icon = 0;
    const HRESULT hr = (*device)->GetDeviceIcon(&icon);
    if (c.found) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_NE(icon, 0u);
    } else {
      EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32);
    }
  }
}

}  // namespace
