// The storage globals as WMDM reaches them: from a listed device's root storage or one of its
// tracks, answering for that storage, and formatting it blocking or on a worker thread.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/device_results.h"
#include "testlib/recording_progress.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/wmdm_types.h"
#include "wmdm_host.h"

namespace {

class StorageGlobalsProviderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, host_.Load());
    player_ = SimPlayer::WithStorages({"Internal", "Card"});
    player_->storages[0].files = {{16, "tune"}, {18, "tune"}};
    player_->storages[0].free = 0x100000010LL;
    player_->storages[0].bad = 0x800;
    player_->storages[1].free = 0x4000;
    source_.Attach(player_);
    ASSERT_EQ(S_OK, host_.ListDevices(&devices_));
    ASSERT_EQ(2u, devices_.size());
  }
  void TearDown() override {
    for (IUnknown* object : held_) object->Release();
  }

  // The device whose storage has this name (the order of listing is the provider's).
  size_t DeviceOf(const wchar_t* storage_name) {
    for (size_t i = 0; i < devices_.size(); ++i) {
      IMDSPDevice2* device = nullptr;
      void* other = nullptr;
      if (FAILED(devices_[i]->QueryInterface(IID_IMDSPDevice2, &other))) continue;
      device = static_cast<IMDSPDevice2*>(other);
      IMDSPStorage* storage = nullptr;
      const HRESULT found = device->GetStorage(storage_name, &storage);
      device->Release();
      if (found == S_OK) {
        storage->Release();
        return i;
      }
    }
    ADD_FAILURE() << "no device for the storage";
    return 0;
  }
  IMDSPStorage* Root(const wchar_t* storage_name) {
    IMDSPEnumStorage* storages = nullptr;
    EXPECT_EQ(S_OK, devices_[DeviceOf(storage_name)]->EnumStorage(&storages));
    IMDSPStorage* root = nullptr;
    ULONG fetched = 0;
    EXPECT_EQ(S_OK, storages->Next(1, &root, &fetched));
    storages->Release();
    held_.push_back(root);
    return root;
  }
  IMDSPStorage* FirstTrack(IMDSPStorage* root) {
    IMDSPEnumStorage* files = nullptr;
    EXPECT_EQ(S_OK, root->EnumStorage(&files));
    IMDSPStorage* track = nullptr;
    ULONG fetched = 0;
    files->Next(1, &track, &fetched);
    files->Release();
    if (track) held_.push_back(track);
    return track;
  }
  IMDSPStorageGlobals* GlobalsOf(IMDSPStorage* storage) {
    IMDSPStorageGlobals* globals = nullptr;
    EXPECT_EQ(S_OK, storage->GetStorageGlobals(&globals));
    if (globals) held_.push_back(globals);
    return globals;
  }
  ULONG CountTracks(IMDSPStorage* root) {
    IMDSPEnumStorage* files = nullptr;
    EXPECT_EQ(S_OK, root->EnumStorage(&files));
    IMDSPStorage* got[8] = {};
    ULONG fetched = 0;
    files->Next(8, got, &fetched);
    for (ULONG i = 0; i < fetched; ++i) got[i]->Release();
    files->Release();
    return fetched;
  }

  ScriptedDeviceSource source_;
  WmdmHost host_;
  std::shared_ptr<SimPlayer> player_;
  std::vector<IMDSPDevice*> devices_;
  std::vector<IUnknown*> held_;
};

TEST_F(StorageGlobalsProviderTest, EachDeviceAnswersForItsOwnStorage) {
  const struct {
    const wchar_t* storage;
    DWORD free_low, free_high, size_low, size_high, bad;
    const char* serial;
  } cases[] = {{L"Internal", 0x10, 1, 0, 1, 0x800, "STORAGE-0"},
                 {L"Card", 0x4000, 0, 1, 1, 0, "STORAGE-1"}};
  for (const auto& c : cases) {
    IMDSPStorageGlobals* globals = GlobalsOf(Root(c.storage));
    ASSERT_NE(nullptr, globals);
    DWORD low = 0, high = 0;
    EXPECT_EQ(S_OK, globals->GetTotalFree(&low, &high));
    EXPECT_EQ(c.free_low, low);
    EXPECT_EQ(c.free_high, high);
    EXPECT_EQ(S_OK, globals->GetTotalSize(&low, &high));
    EXPECT_EQ(c.size_low, low);
    EXPECT_EQ(c.size_high, high);
    EXPECT_EQ(S_OK, globals->GetTotalBad(&low, &high));
    EXPECT_EQ(c.bad, low);
    WMDMID serial;
    ASSERT_EQ(S_OK, globals->GetSerialNumber(&serial, nullptr));
    EXPECT_EQ(kPlayerVendorId, serial.dwVendorID);
    EXPECT_EQ(std::string(c.serial),
              std::string(reinterpret_cast<const char*>(serial.pID), serial.SerialNumberLength));
    DWORD capabilities = 0;
    EXPECT_EQ(S_OK, globals->GetCapabilities(&capabilities));
    EXPECT_EQ(WMDM_STORAGECAP_FOLDERSINROOT | WMDM_STORAGECAP_FILESINFOLDERS, capabilities);
    IMDSPDevice* device = nullptr;
    ASSERT_EQ(S_OK, globals->GetDevice(&device));
    EXPECT_EQ(devices_[DeviceOf(c.storage)], device);
    device->Release();
  }
  const std::vector<std::string> texts = host_.log().Texts();
  EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(),
                                   "CMDSPStorageGlobals::GetTotalFree reported 0x00004000"));
}

TEST_F(StorageGlobalsProviderTest, TrackLeadsToTheSameStorageGlobals) {
  IMDSPStorage* track = FirstTrack(Root(L"Internal"));
  ASSERT_NE(nullptr, track);
  IMDSPStorageGlobals* globals = GlobalsOf(track);
  ASSERT_NE(nullptr, globals);
  IMDSPStorage* root = nullptr;
  ASSERT_EQ(S_OK, globals->GetRootStorage(&root));
  held_.push_back(root);
  wchar_t name[16] = {};
  EXPECT_EQ(S_OK, root->GetName(name, 16));
  EXPECT_STREQ(L"Internal", name);
  EXPECT_EQ(2u, CountTracks(root));
}

TEST_F(StorageGlobalsProviderTest, BlockingFormatEmptiesTheStorage) {
  IMDSPStorage* root = Root(L"Internal");
  RecordingProgress* progress = new RecordingProgress;
  EXPECT_EQ(S_OK, GlobalsOf(root)->Initialize(WMDM_MODE_BLOCK, progress));
  EXPECT_EQ((std::vector<std::string>{"Begin(100)", "Progress(100)", "End"}), progress->calls());
  progress->Release();
  EXPECT_EQ(0u, CountTracks(root));
  EXPECT_TRUE(player_->storages[0].files.empty());
  EXPECT_EQ(1, player_->CountCalls("FormatStorage(0)"));
  EXPECT_EQ(0, player_->CountCalls("FormatStorage(1)"));
}

TEST_F(StorageGlobalsProviderTest, FormatOnAWorkerThread) {
  const struct {
    Result format_result;
    ULONG tracks_after;
    std::string end;
  } cases[] = {{rc::kPlayerFull, 2, "End2(0x80070070)"}, {rc::kOk, 0, "End2(0x00000000)"}};
  IMDSPStorage* root = Root(L"Internal");
  IMDSPStorageGlobals* globals = GlobalsOf(root);
  for (const auto& c : cases) {
    player_->failures["FormatStorage"] = c.format_result;
    ProgressOptions options;
    options.progress2 = true;
    RecordingProgress* progress = new RecordingProgress(options);
    ASSERT_EQ(S_OK, globals->Initialize(WMDM_MODE_THREAD, progress));
    WaitForSingleObject(progress->released(), INFINITE);
    EXPECT_EQ((std::vector<std::string>{"Begin(100)", "Progress(100)", c.end}),
              progress->calls());
    progress->Release();
    EXPECT_EQ(c.tracks_after, CountTracks(root));
    DWORD status = 0;
    EXPECT_EQ(S_OK, devices_[DeviceOf(L"Internal")]->GetStatus(&status));
    EXPECT_EQ(WMDM_STATUS_READY, status);
  }
}

}  // namespace
