// Extent lists: the list in a file node and in each continuation metablock, the edits that
// fill a hole with a run or punch a hole into an extent, and the walk over a file's chain.
#pragma once

#include <cstdint>
#include <functional>

#include "fs/omfs/omfs_volume.h"

struct OmfsExtent {
  uint64_t start;   // kNone: a hole
  uint64_t length;  // in blocks
  bool Hole() const { return start == omfs::kNone; }
};

// One list, held in the cache while open.
class OmfsList {
 public:
  OmfsList() = default;
  ~OmfsList() { Close(); }
  OmfsList(const OmfsList&) = delete;
  OmfsList& operator=(const OmfsList&) = delete;

  // A file node's list; 0x80820013 for a node that is no file or whose counts do not fit.
  Result OpenNode(FsRequest* request, OmfsVolume* volume, uint64_t node);
  Result OpenContinuation(FsRequest* request, OmfsVolume* volume, uint64_t block,
                          uint64_t owner);
  void Close();

  bool node() const { return node_; }
  uint64_t block() const { return block_; }
  BlockCacheEntry* entry() const { return entry_; }
  uint64_t Link() const;
  void SetLink(uint64_t link);
  uint32_t Count() const;
  uint32_t Capacity() const;
  OmfsExtent At(uint32_t index) const;
  void Set(uint32_t index, OmfsExtent extent);
  // 0x80820020 when the list is full.
  Result Insert(uint32_t index, OmfsExtent extent);
  void Erase(uint32_t index);
  // Blocks covered by the list; 0x80820013 when the lengths overflow.
  Result Coverage(uint64_t base, uint64_t* blocks) const;
  // Finds the entry that holds file block `relative` of this list.
  bool Locate(uint64_t relative, uint32_t* index, uint64_t* offset) const;
  // Reseals the header for the current count and writes the list with its mirrors.
  Result Write(FsRequest* request, OmfsVolume* volume);

  // Fills hole entry `index` at `offset` with the run; 0x80820020 when no room.
  Result Fill(uint32_t index, uint64_t offset, uint64_t run_start, uint64_t run_length);
  // Punches a hole of `length` blocks into extent `index` at `offset`.
  Result Punch(uint32_t index, uint64_t offset, uint64_t length);

 private:
  Result Open(FsRequest* request, OmfsVolume* volume, uint64_t block, uint8_t type,
              uint64_t tag, bool node);
  void SetCount(uint32_t count);
  uint8_t* Header() const;
  uint8_t* Entry(uint32_t index) const;

  BlockCacheEntry* entry_ = nullptr;
  uint8_t* data_ = nullptr;
  uint64_t block_ = 0;
  bool node_ = false;
};

// Calls visit for the node's list and then every continuation, with the file block at which
// each list begins; a visit that answers non-zero ends the walk with that answer (1: stop
// without failure). A chain that runs on past the volume's block count is damage.
Result OmfsWalkChain(FsRequest* request, OmfsVolume* volume, uint64_t node,
                     const std::function<Result(OmfsList& list, uint64_t base)>& visit);
constexpr Result kOmfsStopWalk = 1;

// Rewrites the file's extent chain with room in every list (new continuations first, then
// the node, then the old continuations are freed).
Result OmfsRepackExtents(FsRequest* request, OmfsVolume* volume, uint64_t node);
// Returns every extent and continuation of the file to the bitmap (in memory).
Result OmfsFreeFileBlocks(FsRequest* request, OmfsVolume* volume, uint64_t node);
