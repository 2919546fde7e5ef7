// How the file-system layer, which stands above the platform, plugs its IRFileSystem into the
// platform's start and shutdown. Without a provider the platform has no file system, and
// GetInterface("IRFileSystem") yields null.
#pragma once

#include "platform/platform_interface.h"

class IRPlatform;

struct FileSystemProvider {
  // Creates IRFileSystem and starts the framework; null when that fails.
  PlatformInterface* (*create_and_start)(IRPlatform* platform);
  void (*mount_all)(PlatformInterface* file_system);
  // The framework's last start step, after the volumes are mounted.
  void (*finish_start)(PlatformInterface* file_system);
  void (*unmount_all)(PlatformInterface* file_system);
  // True when the directory opens (it is closed again at once).
  bool (*directory_opens)(PlatformInterface* file_system, const char* path);
};

// The provider stays in place until replaced; null removes it.
void SetFileSystemProvider(const FileSystemProvider* provider);
const FileSystemProvider* GetFileSystemProvider();
