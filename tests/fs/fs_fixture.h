// A platform with the file-system layer for each test (sysnode, WinFS and the test type
// TinyFs registered), destroyed afterwards with every block device.
#pragma once

#include <gtest/gtest.h>

#include "fs/ir_file_system.h"
#include "platform/platform.h"
#include "platform/platform_file_system.h"
#include "tiny_fs.h"

class FsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallPlatformFileSystem();
    platform_ = CreatePlatform();
    fs_ = static_cast<IRFileSystem*>(platform_->GetInterface("IRFileSystem"));
    ASSERT_NE(nullptr, fs_);
    manager_ = fs_->manager();
    manager_->AddMod(&kTinyFsType);
  }
  void TearDown() override {
    tiny_fs_hook = nullptr;
    DestroyPlatform();
    SetFileSystemProvider(nullptr);
  }

  // Names of a directory's entries, in listing order.
  std::vector<std::string> List(FsHandle* directory) {
    std::vector<std::string> names;
    char name[256];
    fs_->RewindDir(directory, nullptr);
    while (fs_->ReadDir(directory, name, sizeof name, nullptr) == 0) names.push_back(name);
    return names;
  }
  std::vector<std::string> List(const char* path) {
    FsHandle* directory = nullptr;
    if (fs_->Open(&directory, path, nullptr, 0, nullptr) != 0) return {"(cannot open)"};
    std::vector<std::string> names = List(directory);
    fs_->Close(directory, nullptr);
    return names;
  }

  IRPlatform* platform_ = nullptr;
  IRFileSystem* fs_ = nullptr;
  FsManager* manager_ = nullptr;
};
