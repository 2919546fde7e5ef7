// The node and directory operations of the OMFS type, and the helpers that the data and check
// paths share with them.
#pragma once

#include <cstdint>

#include "fs/omfs/omfs_volume.h"

// A node found in a directory: its block, the node before it in the chain (kNone: it is the
// chain's head) and the chain.
struct OmfsFound {
  uint64_t node = omfs::kNone;
  uint64_t before = omfs::kNone;
  uint32_t bucket = 0;
};

uint32_t OmfsCutName(uint32_t length);
// A node metablock of a known kind (held).
Result OmfsReadNode(FsRequest* request, OmfsVolume* volume, uint64_t block,
                    BlockCacheEntry** out);
Result OmfsFind(FsRequest* request, OmfsVolume* volume, uint64_t directory, const char* name,
                uint32_t length, uint32_t flags, OmfsFound* found);
Result OmfsAttach(FsRequest* request, OmfsVolume* volume, uint64_t block, uint32_t flags,
                  FsHandle** out);

Result OmfsGetRoot(FsRequest* request, FsHandle** out, FsMount* mount, uint32_t flags);
Result OmfsLookup(FsRequest* request, FsHandle** out, const char* name, uint32_t length,
                  FsHandle* directory, uint32_t flags);
Result OmfsOpenNode(FsRequest* request, FsHandle** out, FsHandle* handle, uint32_t flags);
Result OmfsCloseNode(FsRequest* request, FsHandle* handle);
Result OmfsReleaseNode(FsRequest* request, FsNode* node);
Result OmfsCreateFile(FsRequest* request, FsHandle** out, FsHandle* directory, const char* name,
                      uint32_t length, uint32_t flags);
Result OmfsCreateDir(FsRequest* request, FsHandle** out, FsHandle* directory, const char* name,
                     uint32_t length, uint32_t flags);
Result OmfsRemove(FsRequest* request, FsHandle* directory, const char* name, uint32_t length);
Result OmfsRename(FsRequest* request, FsHandle* old_directory, const char* old_name,
                  uint32_t old_length, FsHandle* new_directory, const char* new_name,
                  uint32_t new_length);
Result OmfsSetLabel(FsRequest* request, FsMount* mount, const char* text, uint32_t length);
Result OmfsReadDir(FsRequest* request, FsHandle* handle, char* buffer, uint32_t size);
Result OmfsRewindDir(FsRequest* request, FsHandle* handle);
