// sysnode: the in-memory name space at the top of every absolute path. Its root "/" holds
// "dev", where every mounted volume stands under its volume name, and "root", where volumes
// stand under the name their type gave them; entering such an entry enters the volume.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/fs_type.h"

struct SysNode {
  std::string name;
  SysNode* parent = nullptr;  // the root is its own parent
  FsMount* volume = nullptr;  // the volume this entry stands for, if any
  std::vector<SysNode*> children;  // in creation order
};

extern const FsType kSysnodeType;

// Enters a volume under "dev" or "root" of the sysnode volume.
Result SysnodeAddEntry(FsMount* sysnode, const char* directory, const char* name,
                       FsMount* volume, SysNode** out);
void SysnodeRemoveEntry(FsMount* sysnode, SysNode* entry);
// The name of the volume's entry under "root"; 0x80820005 when it has none.
Result SysnodeEntryName(FsMount* sysnode, FsMount* volume, char* buffer, uint32_t size);
// True for a handle on "/".
bool SysnodeIsRoot(const FsHandle* handle);
