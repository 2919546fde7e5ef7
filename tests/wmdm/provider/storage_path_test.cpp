// From a listed device down to its tracks and back up with a new one, through the COM
// interfaces only, as WMDM walks them, with a simulated player behind the device source.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm_host.h"

namespace {

class StoragePathTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, host_.Load());
    player_ = SimPlayer::WithStorages({"Internal"});
    player_->storages[0].files = {{16, "tune"}, {17, "binary"}, {18, "tune"}};
    source_.Attach(player_);
    std::vector<IMDSPDevice*> devices;
    ASSERT_EQ(S_OK, host_.ListDevices(&devices));
    ASSERT_EQ(1u, devices.size());
    device_ = devices[0];
    IMDSPEnumStorage* storages = nullptr;
    ASSERT_EQ(S_OK, device_->EnumStorage(&storages));
    ULONG fetched = 0;
    EXPECT_EQ(S_OK, storages->Next(1, &root_, &fetched));
    storages->Release();
    ASSERT_NE(nullptr, root_);
  }
  void TearDown() override {
    if (root_) root_->Release();
  }

  // The tracks the root storage lists now, released again.
  ULONG CountTracks() {
    IMDSPEnumStorage* files = nullptr;
    EXPECT_EQ(S_OK, root_->EnumStorage(&files));
    IMDSPStorage* got[8] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, files->Next(8, got, &fetched));
    for (ULONG i = 0; i < fetched; ++i) got[i]->Release();
    files->Release();
    return fetched;
  }

  bool Logged(const std::string& text) {
    const std::vector<std::string> texts = host_.log().Texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }

  ScriptedDeviceSource source_;
  WmdmHost host_;
  std::shared_ptr<SimPlayer> player_;
  IMDSPDevice* device_ = nullptr;
  IMDSPStorage* root_ = nullptr;
};

TEST_F(StoragePathTest, RootStorageNamesItselfAndListsTheTracks) {
  wchar_t name[32];
  EXPECT_EQ(S_OK, root_->GetName(name, 32));
  EXPECT_EQ(std::wstring(L"Internal"), name);
  EXPECT_TRUE(Logged("CMDSPStorage::GetName returned 0x00000000"));
  EXPECT_EQ(2u, CountTracks());
  EXPECT_TRUE(Logged("CMDSPEnumFiles::Next returned 0x00000001"));
}

TEST_F(StoragePathTest, UploadReachesThePlayerAndTheTrackList) {
  IMDSPStorage* file = nullptr;
  ASSERT_EQ(S_OK, root_->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr,
                                       const_cast<LPWSTR>(L"memo.txt"), &file));
  IMDSPObject* object = nullptr;
  ASSERT_EQ(S_OK, file->QueryInterface(IID_IMDSPObject, reinterpret_cast<void**>(&object)));
  ASSERT_EQ(S_OK, object->Open(MDSP_WRITE));
  DWORD status = 0;
  EXPECT_EQ(S_OK, device_->GetStatus(&status));
  EXPECT_EQ(WMDM_STATUS_BUSY, status);
  BYTE data[] = "a short memo";
  DWORD size = sizeof(data);
  EXPECT_EQ(S_OK, object->Write(data, &size, nullptr));
  EXPECT_EQ(S_OK, object->Close());
  EXPECT_TRUE(Logged("CMDSPFile::Close returned 0x00000000"));
  object->Release();
  file->Release();

  EXPECT_EQ(1, player_->CountCalls("CreateNewFile(0)"));
  EXPECT_EQ(1, player_->CountCalls("Commit"));
  EXPECT_EQ(3u, CountTracks());
  EXPECT_EQ(S_OK, device_->GetStatus(&status));
  EXPECT_EQ(WMDM_STATUS_READY, status);
}

TEST_F(StoragePathTest, FailedCommitKillsTheUploadAndFreesTheDevice) {
  player_->failures["Commit"] = rc::kBadData;
  IMDSPStorage* file = nullptr;
  ASSERT_EQ(S_OK, root_->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr,
                                       const_cast<LPWSTR>(L"memo.txt"), &file));
  IMDSPObject* object = nullptr;
  ASSERT_EQ(S_OK, file->QueryInterface(IID_IMDSPObject, reinterpret_cast<void**>(&object)));
  ASSERT_EQ(S_OK, object->Open(MDSP_WRITE));
  EXPECT_EQ(rc::kBadData, object->Close());
  DWORD attributes = 0;
  EXPECT_EQ(WMDM_E_INTERFACEDEAD, file->GetAttributes(&attributes, nullptr));
  EXPECT_EQ(0, CMDSPDevice::BusyCount());
  object->Release();
  file->Release();
}

TEST_F(StoragePathTest, FoldersAreRefusedWithTheirTraceLine) {
  IMDSPStorage* folder = reinterpret_cast<IMDSPStorage*>(1);
  EXPECT_EQ(WMDM_E_NOTSUPPORTED,
            root_->CreateStorage(WMDM_FILE_ATTR_FOLDER | WMDM_FILE_ATTR_FILE, nullptr,
                                 const_cast<LPWSTR>(L"Albums"), &folder));
  EXPECT_EQ(nullptr, folder);
  EXPECT_TRUE(Logged(
      "CMDSPStorage::CreateStorage : dwAttributes & WMDM_FILE_ATTR_FOLDER : WMDM_E_NOTSUPPORTED"));
  EXPECT_EQ("CMDSPStorage::CreateStorage returned 0x80045004", host_.log().Texts().back());
  EXPECT_EQ(2u, CountTracks());
}

TEST_F(StoragePathTest, DeletedTrackLeavesThePlayerAndTheList) {
  IMDSPEnumStorage* files = nullptr;
  ASSERT_EQ(S_OK, root_->EnumStorage(&files));
  IMDSPStorage* track = nullptr;
  ASSERT_EQ(S_OK, files->Next(1, &track, nullptr));
  files->Release();
  IMDSPObject* object = nullptr;
  ASSERT_EQ(S_OK, track->QueryInterface(IID_IMDSPObject, reinterpret_cast<void**>(&object)));
  EXPECT_EQ(S_OK, object->Delete(0, nullptr));
  EXPECT_EQ(WMDM_E_INTERFACEDEAD, object->Delete(0, nullptr));
  object->Release();
  track->Release();
  ASSERT_EQ(2u, player_->storages[0].files.size());
  EXPECT_EQ(17, player_->storages[0].files[0].first);
  EXPECT_EQ(1u, CountTracks());
}

}  // namespace
