// File data: the node lock, mapping a file position to the disk, moving bytes through the
// volume's cache, Read, Write, Pop, the file size and the flush of a file.
#pragma once

#include <cstdint>

#include "fs/omfs/omfs_volume.h"

struct OmfsMapping {
  uint64_t address = 0;  // volume byte address; 0 in a hole
  uint64_t left = 0;     // bytes left in the extent; 0 in the final hole
  bool hole = false;
};

// Without `estimate` the node is held shared for the mapping and continuations are read; with
// it nothing waits (0x8082001D for a node held exclusive) and no continuation is read
// (0x80820020).
Result OmfsMapPosition(FsRequest* request, FsHandle* handle, uint64_t position, bool estimate,
                       OmfsMapping* mapping);
// Moves bytes between a buffer and the volume (byte address) through the cache.
Result OmfsReadBytes(FsRequest* request, OmfsVolume* volume, uint64_t address, void* buffer,
                     uint64_t length, uint64_t tag);
Result OmfsWriteBytes(FsRequest* request, OmfsVolume* volume, uint64_t address,
                      const void* buffer, uint64_t length, uint64_t tag);
Result OmfsSetFileSize(FsRequest* request, FsHandle* handle, uint64_t size);

Result OmfsRead(FsRequest* request, FsHandle* handle, void* buffer, uint32_t length,
                uint32_t* count);
Result OmfsWrite(FsRequest* request, FsHandle* handle, const void* buffer, uint32_t length,
                 uint32_t* count);
Result OmfsPop(FsRequest* request, FsHandle* handle, uint64_t position, uint64_t length,
               uint64_t hint, uint32_t word, uint32_t populate);
Result OmfsFlushFile(FsRequest* request, FsHandle* handle);

// The file-block range of a Pop: first block and count (0: nothing).
void OmfsPopRange(uint64_t position, uint64_t length, uint32_t block_size, uint32_t per_unit,
                  bool populate, uint64_t* first, uint64_t* count);
