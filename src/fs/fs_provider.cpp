// The file-system layer as the platform's provider of IRFileSystem.
#include "fs/ir_file_system.h"
#include "fs/winfs.h"
#include "platform/platform.h"
#include "platform/platform_file_system.h"

namespace {

IRFileSystem* AsFileSystem(PlatformInterface* file_system) {
  return static_cast<IRFileSystem*>(file_system);
}

PlatformInterface* CreateAndStart(IRPlatform* platform) {
  // WinFS is reached through this device, which no other part of the system registers.
  RegisterWinFsDevice();
  FsManager* manager = FsManager::Create(platform);
  if (!manager) return nullptr;
  IRFileSystem* file_system = IRFileSystem::Create(manager);
  if (!file_system) {
    delete manager;
    return nullptr;
  }
  manager->AddMod(&kWinFsType);
  return file_system;
}

void MountAll(PlatformInterface* file_system) { AsFileSystem(file_system)->MountAll(); }
void FinishStart(PlatformInterface*) {}
void UnmountAll(PlatformInterface* file_system) { AsFileSystem(file_system)->UnmountAll(); }

bool DirectoryOpens(PlatformInterface* file_system, const char* path) {
  FsHandle* handle = nullptr;
  if (fsrc::Failed(AsFileSystem(file_system)->Open(&handle, path, nullptr, 0, nullptr)))
    return false;
  AsFileSystem(file_system)->Close(handle, nullptr);
  return true;
}

const FileSystemProvider kProvider = {CreateAndStart, MountAll, FinishStart, UnmountAll,
                                      DirectoryOpens};

}  // namespace

void InstallPlatformFileSystem() { SetFileSystemProvider(&kProvider); }
