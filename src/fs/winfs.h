// WinFS: a volume over a directory tree of the host's file system, rooted at the fixed host
// folder "r:/Targets/DiskImage/System" and reached through the block device "WINFS:0". Its
// label is the first line of "winfs.name" in that folder.
#pragma once

#include <cstdint>

#include "fs/fs_type.h"

extern const FsType kWinFsType;
extern const char kWinFsHostRoot[];

// The 16-byte identity of attribute 7, computed from a host path.
void WinFsIdentity(const char* host_path, uint8_t identity[16]);

// Registers the "WINFS:0" block device unless it exists (the platform's start calls this).
void RegisterWinFsDevice();
