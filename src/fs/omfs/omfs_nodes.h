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
// The hash chain of a name in a directory, and the chain's head word in the directory node.
uint32_t OmfsBucket(const OmfsVolume* volume, const char* name, uint32_t length);
uint8_t* OmfsChainHead(uint8_t* directory, uint32_t bucket);
// A node metablock of a known kind (held).
Result OmfsReadNode(FsRequest* request, OmfsVolume* volume, uint64_t block,
                    BlockCacheEntry** out);
Result OmfsFind(FsRequest* request, OmfsVolume* volume, uint64_t directory, const char* name,
                uint32_t length, uint32_t flags, OmfsFound* found);
// Rewrites the link that leads to a found node (the next word of the node before it, or the
// directory's chain head) to `next`: the chain skips the node, or reaches another in its place.
Result OmfsSetLink(FsRequest* request, OmfsVolume* volume, uint64_t directory,
                   const OmfsFound& found, uint64_t next);
// Returns an unlinked node's blocks (a file's extents and continuations too) to the bitmap and
// writes the bitmap.
Result OmfsFreeNode(FsRequest* request, OmfsVolume* volume, uint64_t node, bool is_directory);
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
// Refuses nothing about the new name: the framework has made sure it is free.
Result OmfsRename(FsRequest* request, FsHandle* old_directory, const char* old_name,
                  uint32_t old_length, FsHandle* new_directory, const char* new_name,
                  uint32_t new_length);
// Renames over an existing file of exactly the new name, which the renamed node replaces in
// its chain with one metablock write; the old file's blocks are freed after. Without such a
// file it is a plain rename.
Result OmfsRenameReplacing(FsRequest* request, FsHandle* old_directory, const char* old_name,
                           uint32_t old_length, FsHandle* new_directory, const char* new_name,
                           uint32_t new_length);
Result OmfsSetLabel(FsRequest* request, FsMount* mount, const char* text, uint32_t length);
Result OmfsReadDir(FsRequest* request, FsHandle* handle, char* buffer, uint32_t size);
Result OmfsRewindDir(FsRequest* request, FsHandle* handle);
