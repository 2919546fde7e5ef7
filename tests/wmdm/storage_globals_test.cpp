#include "wmdm/cmdsp_storage_globals.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "devices/device_results.h"
#include "testlib/com_apartment.h"
#include "testlib/recording_progress.h"
#include "testlib/recording_wmdm_logger.h"
#include "testlib/scripted_player.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/cmdsp_storage.h"
#include "wmdm/wmdm_types.h"

namespace {

constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);
constexpr HRESULT kInterfaceDead = static_cast<HRESULT>(0x80045001);
constexpr int64_t kFree = 0x100000010LL;

// A device bound to storage 0 of a player, and storage globals reached through its root
// storage the way WMDM reaches them.
class GlobalsOf {
 public:
  explicit GlobalsOf(const std::shared_ptr<SimPlayer>& player) : device_(CMDSPDevice::New()) {
    device_->AddRef();
    init_ = device_->Init(SimPlayerDevice::Make(player), 0,
                          static_cast<uint32_t>(player->storages.size()));
    IMDSPStorage* root = nullptr;
    root_result_ = CreateRootStorage(device_, &root);
    if (root) {
      globals_result_ = root->GetStorageGlobals(&globals_);
      root->Release();
    }
  }
  ~GlobalsOf() {
    if (globals_) globals_->Release();
    device_->Release();
  }
  GlobalsOf(const GlobalsOf&) = delete;
  GlobalsOf& operator=(const GlobalsOf&) = delete;

  IMDSPStorageGlobals* operator->() const { return globals_; }
  IMDSPStorageGlobals* get() const { return globals_; }
  CMDSPDevice* device() const { return device_; }
  Result init() const { return init_; }
  HRESULT made() const { return FAILED(root_result_) ? root_result_ : globals_result_; }

 private:
  CMDSPDevice* device_;
  IMDSPStorageGlobals* globals_ = nullptr;
  Result init_ = rc::kFail;
  HRESULT root_result_ = E_FAIL;
  HRESULT globals_result_ = E_FAIL;
};

std::shared_ptr<SimPlayer> Player() {
  auto player = SimPlayer::WithStorages({"Internal"});
  player->storages[0].size = 0x200000004LL;
  player->storages[0].free = kFree;
  player->storages[0].bad = 0x3000;
  player->storages[0].files = {{16, "tune"}, {32, "tune"}};
  return player;
}

class StorageGlobalsTest : public ::testing::Test {
 protected:
  StorageGlobalsTest() : player_(Player()) {}
  void SetUp() override {
    globals_.reset(new GlobalsOf(player_));
    ASSERT_EQ(globals_->init(), rc::kOk);
    ASSERT_EQ(globals_->made(), S_OK);
    log_.Clear();
  }
  IMDSPStorageGlobals* globals() const { return globals_->get(); }
  CMDSPDevice* device() const { return globals_->device(); }

  RecordedWmdmLog log_;
  std::shared_ptr<SimPlayer> player_;
  std::unique_ptr<GlobalsOf> globals_;
};

TEST_F(StorageGlobalsTest, LeadsBackToItsDeviceAndANewRootStorage) {
  IMDSPDevice* answered = nullptr;
  ASSERT_EQ(globals()->GetDevice(&answered), S_OK);
  EXPECT_EQ(answered, static_cast<IMDSPDevice*>(device()));
  answered->Release();

  IMDSPStorage* root = nullptr;
  ASSERT_EQ(globals()->GetRootStorage(&root), S_OK);
  wchar_t name[32] = {};
  EXPECT_EQ(root->GetName(name, 32), S_OK);
  EXPECT_STREQ(name, L"Internal");
  root->Release();

  DWORD status = 0;
  ASSERT_EQ(globals()->GetStatus(&status), S_OK);
  EXPECT_EQ(status, WMDM_STATUS_READY);
}

TEST(StorageGlobalsCapabilities, NotInitializableOnlyForDeviceId5202) {
  const struct {
    int32_t device_id;
    DWORD expected;
  } cases[] = {{0, 0x9}, {0x5202, 0x49}, {0x5203, 0x9}, {0x5201, 0x9}};
  for (const auto& c : cases) {
    auto player = Player();
    player->device_id = c.device_id;
    GlobalsOf globals(player);
    ASSERT_EQ(globals.made(), S_OK);
    DWORD capabilities = 0;
    EXPECT_EQ(globals->GetCapabilities(&capabilities), S_OK);
    EXPECT_EQ(capabilities, c.expected) << std::hex << c.device_id;
  }
}

using SpaceGetter = HRESULT (STDMETHODCALLTYPE IMDSPStorageGlobals::*)(DWORD*, DWORD*);
struct SpaceCase {
  const char* name;
  SpaceGetter getter;
  DWORD low;
  DWORD high;
};
const SpaceCase kSpaceCases[] = {
    {"GetTotalSize", &IMDSPStorageGlobals::GetTotalSize, 4, 2},
    {"GetTotalFree", &IMDSPStorageGlobals::GetTotalFree, 0x10, 1},
    {"GetTotalBad", &IMDSPStorageGlobals::GetTotalBad, 0x3000, 0},
};

TEST_F(StorageGlobalsTest, SpaceComesFromThePredictorAs64Bits) {
  for (const SpaceCase& c : kSpaceCases) {
    DWORD low = 0xDEAD, high = 0xBEEF;
    EXPECT_EQ((globals()->*c.getter)(&low, &high), S_OK) << c.name;
    EXPECT_EQ(low, c.low) << c.name;
    EXPECT_EQ(high, c.high) << c.name;
  }
  // Asked anew each time: the predictor keeps it current as files come and go.
  player_->storages[0].free = 0x2000;
  DWORD low = 0, high = 0;
  EXPECT_EQ(globals()->GetTotalFree(&low, &high), S_OK);
  EXPECT_EQ(low, 0x2000u);
  EXPECT_EQ(high, 0u);
}

TEST_F(StorageGlobalsTest, FreeSpaceIsTraced) {
  DWORD low = 0, high = 0;
  ASSERT_EQ(globals()->GetTotalFree(&low, &high), S_OK);
  const std::vector<std::string> texts = log_.Texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].rfind("CMDSPStorageGlobals::GetTotalFree predictor is 0x", 0), 0u);
  EXPECT_EQ(texts[1], "CMDSPStorageGlobals::GetTotalFree reported 0x00000010");
  EXPECT_EQ(texts[2], "CMDSPStorageGlobals::GetTotalFree returned 0x00000000");
}

TEST_F(StorageGlobalsTest, FailingPredictorIsMappedAndLeavesZeros) {
  const struct {
    Result failure;
    HRESULT expected;
  } cases[] = {{rc::kPlayerFull, kDiskFull},
               {rc::kGenerationChanged, kInterfaceDead},
               {E_ACCESSDENIED, E_ACCESSDENIED}};
  for (const auto& c : cases) {
    player_->failures["Predictor.GetStorageInfo"] = c.failure;
    for (const SpaceCase& space : kSpaceCases) {
      DWORD low = 0xDEAD, high = 0xBEEF;
      EXPECT_EQ((globals()->*space.getter)(&low, &high), c.expected) << space.name;
      EXPECT_EQ(low, 0u) << space.name;
      EXPECT_EQ(high, 0u) << space.name;
    }
  }
}

TEST(StorageGlobalsWithoutPredictor, SpaceIsZeroAndTheCallSucceeds) {
  auto player = Player();
  player->failures["CreatePredictor"] = E_FAIL;
  GlobalsOf globals(player);
  ASSERT_NE(globals.init(), rc::kOk);
  ASSERT_EQ(globals.made(), S_OK);
  for (const SpaceCase& c : kSpaceCases) {
    DWORD low = 0xDEAD, high = 0xBEEF;
    EXPECT_EQ((globals.get()->*c.getter)(&low, &high), S_OK) << c.name;
    EXPECT_EQ(low, 0u) << c.name;
    EXPECT_EQ(high, 0u) << c.name;
  }
}

TEST_F(StorageGlobalsTest, SerialIsTheStoragesWithTheVendorId) {
  WMDMID serial;
  ASSERT_EQ(globals()->GetSerialNumber(&serial, nullptr), S_OK);
  EXPECT_EQ(serial.cbSize, 140u);
  EXPECT_EQ(serial.dwVendorID, kPlayerVendorId);
  ASSERT_EQ(serial.SerialNumberLength, 9u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(serial.pID), 9), "STORAGE-0");
  EXPECT_EQ(serial.pID[9], 0);
}

TEST(StorageGlobalsSerial, ALongSerialIsCutTo128Bytes) {
  auto player = Player();
  player->storages[0].serial = std::string(200, 'S');
  GlobalsOf globals(player);
  WMDMID serial;
  ASSERT_EQ(globals->GetSerialNumber(&serial, nullptr), S_OK);
  EXPECT_EQ(serial.SerialNumberLength, 128u);
  EXPECT_EQ(serial.pID[127], 'S');
}

TEST_F(StorageGlobalsTest, NullOutPointersAreRefused) {
  DWORD value = 0;
  EXPECT_EQ(globals()->GetCapabilities(nullptr), E_INVALIDARG);
  EXPECT_EQ(globals()->GetSerialNumber(nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(globals()->GetStatus(nullptr), E_INVALIDARG);
  EXPECT_EQ(globals()->GetDevice(nullptr), E_INVALIDARG);
  EXPECT_EQ(globals()->GetRootStorage(nullptr), E_INVALIDARG);
  for (const SpaceCase& c : kSpaceCases) {
    EXPECT_EQ((globals()->*c.getter)(nullptr, &value), E_INVALIDARG) << c.name;
    EXPECT_EQ((globals()->*c.getter)(&value, nullptr), E_INVALIDARG) << c.name;
  }
  EXPECT_EQ(log_.Texts().back(), "CMDSPStorageGlobals::GetTotalBad returned 0x80070057");
}

TEST(StorageGlobalsWithoutDevice, EverythingFailsAndNothingIsFormatted) {
  RecordedWmdmLog log;
  IMDSPStorageGlobals* globals = nullptr;
  ASSERT_EQ(CMDSPStorageGlobals::Create(nullptr, &globals), S_OK);
  DWORD a = 0, b = 0;
  WMDMID serial;
  IMDSPDevice* device = nullptr;
  IMDSPStorage* root = nullptr;
  EXPECT_EQ(globals->GetCapabilities(&a), E_FAIL);
  EXPECT_EQ(globals->GetSerialNumber(&serial, nullptr), E_FAIL);
  EXPECT_EQ(globals->GetTotalFree(&a, &b), E_FAIL);
  EXPECT_EQ(globals->GetStatus(&a), E_FAIL);
  EXPECT_EQ(globals->GetDevice(&device), E_FAIL);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(globals->GetRootStorage(&root), E_FAIL);
  EXPECT_EQ(root, nullptr);
  log.Clear();
  EXPECT_EQ(globals->Initialize(WMDM_MODE_BLOCK, nullptr), E_FAIL);
  EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                             "m_pSpDevice was NULL",
                             "CMDSPStorageGlobals::Initialize returned 0x80004005"}));
  globals->Release();
  EXPECT_EQ(CMDSPStorageGlobals::Create(nullptr, nullptr), E_INVALIDARG);
}

// ---- Formatting ---------------------------------------------------------------------------

struct BlockingCase {
  const char* name;
  ProgressOptions options;
  Result format_result;
  HRESULT expected;
  std::vector<std::string> calls;
};

TEST_F(StorageGlobalsTest, BlockingFormatReportsInTheCallersThread) {
  ProgressOptions plain;
  plain.free_threaded = false;
  ProgressOptions progress2 = plain;
  progress2.progress2 = true;
  ProgressOptions refusing_begin = plain;
  refusing_begin.begin_result = E_ABORT;
  const BlockingCase cases[] = {
      // Failures first: the device's track list survives them.
      {"failed", plain, rc::kPlayerFull, kDiskFull, {"Begin(100)", "Progress(100)", "End"}},
      {"failed, result to End2", progress2, rc::kPlayerFull, kDiskFull,
       {"Begin(100)", "Progress(100)", "End2(0x80070070)"}},
      {"Begin refused", refusing_begin, rc::kOk, S_OK, {"Begin(100)"}},
      {"formatted", plain, rc::kOk, S_OK, {"Begin(100)", "Progress(100)", "End"}},
  };
  for (const BlockingCase& c : cases) {
    player_->storages[0].files = {{16, "tune"}};
    player_->failures["FormatStorage"] = c.format_result;
    const int formats = player_->CountCalls("FormatStorage(0)");
    RecordingProgress* progress = new RecordingProgress(c.options);
    EXPECT_EQ(globals()->Initialize(WMDM_MODE_BLOCK, progress), c.expected) << c.name;
    EXPECT_EQ(progress->calls(), c.calls) << c.name;
    for (DWORD thread : progress->threads()) EXPECT_EQ(thread, GetCurrentThreadId()) << c.name;
    EXPECT_EQ(progress->outside_references(), 0) << c.name;
    progress->Release();
    EXPECT_EQ(player_->CountCalls("FormatStorage(0)"), formats + 1) << c.name;
    EXPECT_EQ(player_->storages[0].files.empty(), rc::Succeeded(c.format_result)) << c.name;
    EXPECT_EQ(device()->files().empty(), rc::Succeeded(c.format_result)) << c.name;
    DWORD status = 0;
    EXPECT_EQ(globals()->GetStatus(&status), S_OK);
    EXPECT_EQ(status, WMDM_STATUS_READY) << c.name;
  }
}

// Other callers see the device busy formatting while the player formats, whichever thread
// runs it.
TEST_F(StorageGlobalsTest, DeviceShowsTheFormatWhileItRuns) {
  DWORD during = 0;
  player_->on_call = [&](const std::string& call) {
    if (call == "FormatStorage(0)") device()->GetStatus(&during);
  };
  EXPECT_EQ(globals()->Initialize(WMDM_MODE_BLOCK, nullptr), S_OK);
  EXPECT_EQ(during, WMDM_STATUS_BUSY | WMDM_STATUS_STORAGE_INITIALIZING);

  during = 0;
  InApartment(COINIT_MULTITHREADED, [&] {
    RecordingProgress* progress = new RecordingProgress;
    EXPECT_EQ(globals()->Initialize(WMDM_MODE_THREAD, progress), S_OK);
    WaitForSingleObject(progress->released(), INFINITE);
    progress->Release();
  });
  EXPECT_EQ(during, WMDM_STATUS_BUSY | WMDM_STATUS_STORAGE_INITIALIZING);
  player_->on_call = nullptr;
  DWORD after = 0;
  EXPECT_EQ(globals()->GetStatus(&after), S_OK);
  EXPECT_EQ(after, WMDM_STATUS_READY);
}

TEST_F(StorageGlobalsTest, BlockingFormatWithoutProgressStillFormats) {
  const int resets = player_->predictor_resets;
  EXPECT_EQ(globals()->Initialize(WMDM_MODE_BLOCK, nullptr), S_OK);
  EXPECT_TRUE(player_->storages[0].files.empty());
  EXPECT_EQ(player_->predictor_resets, resets + 1);
  EXPECT_EQ(log_.Texts().back(), "CMDSPStorageGlobals::Initialize returned 0x00000000");
}

struct ThreadCase {
  const char* name;
  DWORD model;
  bool progress2;
  Result format_result;
  std::vector<std::string> calls;
};

// The worker formats and reports; the caller is back at once and waits for the progress
// interface to be let go (pumping messages when it is apartment-threaded).
TEST_F(StorageGlobalsTest, FormatOnAWorkerThreadReportsFromThere) {
  const ThreadCase cases[] = {
      {"free-threaded caller", COINIT_MULTITHREADED, false, rc::kOk,
       {"Begin(100)", "Progress(100)", "End"}},
      {"apartment-threaded caller", COINIT_APARTMENTTHREADED, false, rc::kOk,
       {"Begin(100)", "Progress(100)", "End"}},
      {"failure through End2", COINIT_MULTITHREADED, true, rc::kPlayerFull,
       {"Begin(100)", "Progress(100)", "End2(0x80070070)"}},
      {"failure through End2, apartment-threaded", COINIT_APARTMENTTHREADED, true,
       rc::kPlayerFull, {"Begin(100)", "Progress(100)", "End2(0x80070070)"}},
  };
  for (const ThreadCase& c : cases) {
    player_->storages[0].files = {{16, "tune"}};
    player_->failures["FormatStorage"] = c.format_result;
    const int formats = player_->CountCalls("FormatStorage(0)");
    InApartment(c.model, [&] {
      ProgressOptions options;
      options.progress2 = c.progress2;
      RecordingProgress* progress = new RecordingProgress(options);
      ASSERT_TRUE(progress->free_threaded());
      EXPECT_EQ(globals()->Initialize(WMDM_MODE_THREAD, progress), S_OK) << c.name;
      if (c.model == COINIT_APARTMENTTHREADED) {
        WaitPumping(progress->released());
      } else {
        WaitForSingleObject(progress->released(), INFINITE);
      }
      EXPECT_EQ(progress->calls(), c.calls) << c.name;
      for (DWORD thread : progress->threads()) {
        EXPECT_NE(thread, GetCurrentThreadId()) << c.name;
      }
      EXPECT_EQ(progress->outside_references(), 0) << c.name;
      progress->Release();
    });
    EXPECT_EQ(player_->CountCalls("FormatStorage(0)"), formats + 1) << c.name;
    EXPECT_EQ(player_->storages[0].files.empty(), rc::Succeeded(c.format_result)) << c.name;
    DWORD status = 0;
    EXPECT_EQ(globals()->GetStatus(&status), S_OK);
    EXPECT_EQ(status, WMDM_STATUS_READY) << c.name;
  }
}

TEST_F(StorageGlobalsTest, ProgressThatCannotBeMarshalledStopsTheFormat) {
  InApartment(COINIT_MULTITHREADED, [&] {
    ProgressOptions options;
    options.refuse_marshalling = REGDB_E_IIDNOTREG;
    RecordingProgress* progress = new RecordingProgress(options);
    EXPECT_EQ(globals()->Initialize(WMDM_MODE_THREAD, progress), REGDB_E_IIDNOTREG);
    EXPECT_TRUE(progress->calls().empty());
    EXPECT_EQ(progress->outside_references(), 0);
    progress->Release();
  });
  EXPECT_EQ(player_->CountCalls("FormatStorage(0)"), 0);
  EXPECT_EQ(player_->storages[0].files.size(), 2u);
}

// The worker holds the device: the application may let go of everything at once.
TEST(StorageGlobalsWorker, OutlivesTheCallersReferences) {
  RecordedWmdmLog log;
  auto player = Player();
  InApartment(COINIT_MULTITHREADED, [&] {
    RecordingProgress* progress = new RecordingProgress;
    {
      GlobalsOf globals(player);
      ASSERT_EQ(globals.made(), S_OK);
      EXPECT_EQ(globals->Initialize(WMDM_MODE_THREAD, progress), S_OK);
    }
    WaitForSingleObject(progress->released(), INFINITE);
    EXPECT_EQ(progress->calls(),
              (std::vector<std::string>{"Begin(100)", "Progress(100)", "End"}));
    progress->Release();
  });
  EXPECT_EQ(player->CountCalls("FormatStorage(0)"), 1);
  EXPECT_TRUE(player->storages[0].files.empty());
}

}  // namespace
