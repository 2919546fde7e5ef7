// What the source files of the OMFS type share beside the volume state.
#pragma once

#include <cstdint>

#include "fs/omfs/omfs.h"
#include "fs/omfs/omfs_volume.h"

// The volume's geometry from the anchor of the partition, with the volume size that the
// anchor and the super block agree on: where a cut resize left the anchor's size ahead of the
// super block's, the super block's. A given length must hold the volume's blocks with less
// than one block to spare; 0 takes the volume's. Out: the volume's own bytes. Values are
// checked before anything is read with them.
Result OmfsReadGeometry(FsRequest* request, BlockDevice* device, uint64_t start,
                        uint64_t* length, OmfsGeometry* geometry);
// The super block through the volume's cache, checked against the anchor's geometry; fills
// the root, the bitmap block, the unit size and the label.
Result OmfsLoadSuper(FsRequest* request, OmfsVolume* volume);
// Volume state with its cache for the device range (no bitmap loaded).
Result OmfsOpenVolume(OmfsVolume* volume, BlockDevice* device, uint64_t start,
                      const OmfsGeometry& geometry, uint32_t cache_entries);
void OmfsCloseVolume(OmfsVolume* volume);
// Writes back the cache and the bitmap.
Result OmfsSync(FsRequest* request, OmfsVolume* volume);
// Rewrites the super block from the volume state (size, bitmap, unit, label).
Result OmfsWriteSuper(FsRequest* request, OmfsVolume* volume);
// The anchor as format writes it, from the geometry and the text.
Result OmfsWriteAnchor(FsRequest* request, OmfsVolume* volume, const char* text);

// The blocks of the volume's fixed structures: anchor, super block copies, the bitmap.
void OmfsMarkFixedBlocks(const OmfsVolume* volume, uint64_t bitmap_block, OmfsBitmap* bitmap);
// Walks the tree from the root and marks every node, continuation and extent in the bitmap,
// which the caller prepared with the fixed blocks. A block met twice or a range outside the
// volume fails with 0x80820013.
Result OmfsMarkTree(FsRequest* request, OmfsVolume* volume, OmfsBitmap* bitmap);

Result OmfsFormat(FsRequest* request, uint32_t block_size, BlockDevice* device, uint64_t start,
                  uint64_t length, const void* parameters, uint32_t parameter_length,
                  const char* label, const void* anchor_text);
Result OmfsResize(FsRequest* request, BlockDevice* device, uint64_t start, uint64_t length);
Result OmfsMount(FsRequest* request, BlockDevice* device, uint64_t start, uint64_t length,
                 uint32_t flags, const void* parameters, uint32_t parameter_length);
Result OmfsUnmount(FsRequest* request, FsMount* mount);
Result OmfsReadFormat(FsRequest* request, BlockDevice* device, uint64_t start, uint64_t* length,
                      char* label, void* description, uint32_t* size);
Result OmfsSyncVolume(FsRequest* request, FsMount* mount);
Result OmfsDebug(FsRequest* request, FsHandle* handle, uint32_t code, void* first,
                 void* second);
