#include "fs/omfs/omfs_extents.h"

#include <cstring>
#include <vector>

#include "fs/fs_manager.h"

using namespace omfs;

namespace {

bool Adjacent(const OmfsExtent& extent, uint64_t block) {
  return !extent.Hole() && extent.start + extent.length == block;
}

}  // namespace

Result OmfsList::Open(FsRequest* request, OmfsVolume* volume, uint64_t block, uint8_t type,
                      uint64_t tag, bool node) {
  Close();
  Result result = OmfsReadMetablock(request, volume, block, type, tag, &entry_);
  if (fsrc::Failed(result)) return result;
  data_ = BlockCache::Data(entry_);
  block_ = block;
  node_ = node;
  const uint32_t first_entry = node ? kNodeEntries : kContinuationEntries;
  // Counts from the disk are held to the metablock that carries them.
  if (Capacity() > (volume->MetaSize() - first_entry) / kExtentBytes || Count() > Capacity()) {
    OMFS_LOG(0x820013, "extent list of block %llx holds %u of %u",
             static_cast<unsigned long long>(block), Count(), Capacity());
    Close();
    return fsrc::kCorrupt;
  }
  return fsrc::kOk;
}

Result OmfsList::OpenNode(FsRequest* request, OmfsVolume* volume, uint64_t node) {
  Result result = Open(request, volume, node, kTypeNode, node, true);
  if (!fsrc::Failed(result) && Get32(data_ + kNodeKind) != kKindFile) {
    Close();
    return fsrc::kCorrupt;
  }
  return result;
}

Result OmfsList::OpenContinuation(FsRequest* request, OmfsVolume* volume, uint64_t block,
                                  uint64_t owner) {
  Result result = Open(request, volume, block, kTypeContinuation, owner, false);
  if (!fsrc::Failed(result) && Get64(data_ + kContinuationOwner) != owner) {
    Close();
    return fsrc::kCorrupt;
  }
  return result;
}

void OmfsList::Close() {
  if (entry_) BlockCache::Release(entry_);
  entry_ = nullptr;
  data_ = nullptr;
}

uint8_t* OmfsList::Header() const { return data_ + (node_ ? kNodeList : kContinuationList); }
uint8_t* OmfsList::Entry(uint32_t index) const {
  return data_ + (node_ ? kNodeEntries : kContinuationEntries) + kExtentBytes * index;
}
uint64_t OmfsList::Link() const { return Get64(Header() + kListLink); }
void OmfsList::SetLink(uint64_t link) { Put64(Header() + kListLink, link); }
uint32_t OmfsList::Count() const { return Get32(Header() + kListCount); }
void OmfsList::SetCount(uint32_t count) { Put32(Header() + kListCount, count); }
uint32_t OmfsList::Capacity() const { return Get32(Header() + kListCapacity); }

OmfsExtent OmfsList::At(uint32_t index) const {
  return OmfsExtent{Get64(Entry(index)), Get64(Entry(index) + 8)};
}

void OmfsList::Set(uint32_t index, OmfsExtent extent) {
  Put64(Entry(index), extent.start);
  Put64(Entry(index) + 8, extent.length);
}

Result OmfsList::Insert(uint32_t index, OmfsExtent extent) {
  const uint32_t count = Count();
  if (count >= Capacity()) return fsrc::kListFull;
  memmove(Entry(index + 1), Entry(index), size_t{kExtentBytes} * (count - index));
  Set(index, extent);
  SetCount(count + 1);
  return fsrc::kOk;
}

void OmfsList::Erase(uint32_t index) {
  const uint32_t count = Count();
  memmove(Entry(index), Entry(index + 1), size_t{kExtentBytes} * (count - index - 1));
  SetCount(count - 1);
}

Result OmfsList::Coverage(uint64_t base, uint64_t* blocks) const {
  uint64_t total = 0;
  for (uint32_t i = 0; i < Count(); ++i) {
    const uint64_t length = At(i).length;
    if (length > kNone - base - total) return fsrc::kCorrupt;
    total += length;
  }
  *blocks = total;
  return fsrc::kOk;
}

bool OmfsList::Locate(uint64_t relative, uint32_t* index, uint64_t* offset) const {
  uint64_t base = 0;
  for (uint32_t i = 0; i < Count(); ++i) {
    const uint64_t length = At(i).length;
    if (relative - base < length) {
      *index = i;
      *offset = relative - base;
      return true;
    }
    base += length;
  }
  return false;
}

Result OmfsList::Write(FsRequest* request, OmfsVolume* volume) {
  if (node_)
    OmfsPrepareHeader(data_, block_, kNodeList - kHeaderBytes + 16 + kExtentBytes * Count(),
                      kTypeNode);
  else
    OmfsPrepareHeader(data_, block_, kContinuationEntries - kHeaderBytes + kExtentBytes * Count(),
                      kTypeContinuation);
  return OmfsWriteMetablock(request, volume, entry_);
}

Result OmfsList::Fill(uint32_t index, uint64_t offset, uint64_t run_start, uint64_t run_length) {
  OmfsExtent hole = At(index);
  if (offset == 0 && index > 0 && Adjacent(At(index - 1), run_start)) {
    OmfsExtent before = At(index - 1);
    before.length += run_length;
    hole.length -= run_length;
    Set(index - 1, before);
    if (hole.length != 0) {
      Set(index, hole);
      return fsrc::kOk;
    }
    Erase(index);
    if (index < Count() && !At(index).Hole() && At(index).start == run_start + run_length) {
      before.length += At(index).length;
      Set(index - 1, before);
      Erase(index);
    }
    return fsrc::kOk;
  }
  if (offset + run_length == hole.length && index + 1 < Count() && !At(index + 1).Hole() &&
      At(index + 1).start == run_start + run_length) {
    OmfsExtent after = At(index + 1);
    after.start = run_start;
    after.length += run_length;
    Set(index + 1, after);
    hole.length -= run_length;
    if (hole.length == 0)
      Erase(index);
    else
      Set(index, hole);
    return fsrc::kOk;
  }
  const uint32_t needed = (offset != 0 ? 1 : 0) + (run_length < hole.length - offset ? 1 : 0);
  if (Count() + needed > Capacity()) return fsrc::kListFull;
  if (offset != 0) {
    Set(index, OmfsExtent{kNone, offset});
    hole.length -= offset;
    Insert(++index, hole);
  }
  if (run_length < hole.length)
    Insert(index + 1, OmfsExtent{kNone, hole.length - run_length});
  Set(index, OmfsExtent{run_start, run_length});
  return fsrc::kOk;
}

Result OmfsList::Punch(uint32_t index, uint64_t offset, uint64_t length) {
  OmfsExtent extent = At(index);
  if (offset == 0 && index > 0 && At(index - 1).Hole()) {
    OmfsExtent before = At(index - 1);
    before.length += length;
    extent.start += length;
    extent.length -= length;
    Set(index - 1, before);
    if (extent.length != 0) {
      Set(index, extent);
      return fsrc::kOk;
    }
    Erase(index);
    if (index < Count() && At(index).Hole()) {
      before.length += At(index).length;
      Set(index - 1, before);
      Erase(index);
    }
    return fsrc::kOk;
  }
  if (offset + length == extent.length && index + 1 < Count() && At(index + 1).Hole()) {
    OmfsExtent after = At(index + 1);
    after.length += length;
    Set(index + 1, after);
    extent.length -= length;
    if (extent.length == 0)
      Erase(index);
    else
      Set(index, extent);
    return fsrc::kOk;
  }
  const uint32_t needed = (offset != 0 ? 1 : 0) + (offset + length < extent.length ? 1 : 0);
  if (Count() + needed > Capacity()) return fsrc::kListFull;
  if (offset != 0) {
    Set(index, OmfsExtent{extent.start, offset});
    extent = OmfsExtent{extent.start + offset, extent.length - offset};
    Insert(++index, extent);
  }
  if (length < extent.length)
    Insert(index + 1, OmfsExtent{extent.start + length, extent.length - length});
  Set(index, OmfsExtent{kNone, length});
  return fsrc::kOk;
}

Result OmfsWalkChain(FsRequest* request, OmfsVolume* volume, uint64_t node,
                     const std::function<Result(OmfsList& list, uint64_t base)>& visit) {
  OmfsList list;
  Result result = list.OpenNode(request, volume, node);
  uint64_t base = 0;
  for (uint64_t lists = 0; !fsrc::Failed(result); ++lists) {
    if (lists > volume->Blocks()) return fsrc::kCorrupt;
    uint64_t covered = 0;
    result = list.Coverage(base, &covered);
    if (fsrc::Failed(result)) return result;
    result = visit(list, base);
    if (result != fsrc::kOk) return result == kOmfsStopWalk ? fsrc::kOk : result;
    const uint64_t link = list.Link();
    if (link == kNone) return fsrc::kOk;
    base += covered;
    result = list.OpenContinuation(request, volume, link, node);
  }
  return result;
}

namespace {

struct NewList {
  uint64_t block = kNone;
  std::vector<OmfsExtent> extents;
};

// Whether a list of this capacity takes one more entry when repacked: it keeps room for the
// splits of later edits.
bool TakesMore(uint32_t count, uint32_t capacity) {
  return static_cast<int64_t>(count) < static_cast<int64_t>(capacity) - 2 &&
         uint64_t{count} * 8 < uint64_t{capacity} * 7;
}

Result WriteContinuation(FsRequest* request, OmfsVolume* volume, uint64_t node,
                         const NewList& list, uint64_t link) {
  BlockCacheEntry* entry = nullptr;
  Result result = OmfsNewMetablock(request, volume, list.block, node, &entry);
  if (fsrc::Failed(result)) return result;
  uint8_t* data = BlockCache::Data(entry);
  Put64(data + kContinuationOwner, node);
  Put64(data + kContinuationList + kListLink, link);
  Put32(data + kContinuationList + kListCount, static_cast<uint32_t>(list.extents.size()));
  Put32(data + kContinuationList + kListCapacity,
        (volume->MetaSize() - kContinuationEntries) / kExtentBytes);
  for (size_t i = 0; i < list.extents.size(); ++i) {
    Put64(data + kContinuationEntries + kExtentBytes * i, list.extents[i].start);
    Put64(data + kContinuationEntries + kExtentBytes * i + 8, list.extents[i].length);
  }
  OmfsPrepareHeader(data, list.block,
                    kContinuationEntries - kHeaderBytes +
                        kExtentBytes * static_cast<uint32_t>(list.extents.size()),
                    kTypeContinuation);
  result = OmfsWriteMetablock(request, volume, entry);
  BlockCache::Release(entry);
  return result;
}

}  // namespace

Result OmfsRepackExtents(FsRequest* request, OmfsVolume* volume, uint64_t node) {
  std::vector<OmfsExtent> extents;
  std::vector<uint64_t> old_continuations;
  Result result = OmfsWalkChain(request, volume, node, [&](OmfsList& list, uint64_t) {
    if (!list.node()) old_continuations.push_back(list.block());
    for (uint32_t i = 0; i < list.Count(); ++i) extents.push_back(list.At(i));
    return fsrc::kOk;
  });
  if (fsrc::Failed(result)) return result;
  OmfsList node_list;
  result = node_list.OpenNode(request, volume, node);
  if (fsrc::Failed(result)) return result;
  const uint32_t node_capacity = node_list.Capacity();
  const uint32_t continuation_capacity =
      (volume->MetaSize() - kContinuationEntries) / kExtentBytes;
  // Distribute the extents: the node's list first, then new continuations.
  std::vector<OmfsExtent> in_node;
  std::vector<NewList> continuations;
  for (const OmfsExtent& extent : extents) {
    if (continuations.empty() && TakesMore(static_cast<uint32_t>(in_node.size()), node_capacity)) {
      in_node.push_back(extent);
      continue;
    }
    if (continuations.empty() ||
        !TakesMore(static_cast<uint32_t>(continuations.back().extents.size()),
                   continuation_capacity))
      continuations.emplace_back();
    continuations.back().extents.push_back(extent);
  }
  // New continuations are written before the node points at them.
  size_t allocated = 0;
  for (; allocated < continuations.size(); ++allocated) {
    uint64_t run_length = 0;
    result = volume->bitmap.Allocate(volume->Mirrors(), 0, 0, &continuations[allocated].block,
                                     &run_length);
    if (fsrc::Failed(result)) break;
  }
  if (!fsrc::Failed(result)) result = volume->bitmap.WriteBack(request);
  for (size_t i = continuations.size(); !fsrc::Failed(result) && i-- > 0;)
    result = WriteContinuation(request, volume, node, continuations[i],
                               i + 1 < continuations.size() ? continuations[i + 1].block : kNone);
  if (fsrc::Failed(result)) {
    for (size_t i = 0; i < allocated; ++i) {
      volume->bitmap.ClearRun(continuations[i].block, volume->Mirrors());
      OmfsForgetBlocks(volume, continuations[i].block, volume->Mirrors());
    }
    return result;
  }
  for (uint32_t i = node_list.Count(); i-- > 0;) node_list.Erase(i);
  for (const OmfsExtent& extent : in_node) node_list.Insert(node_list.Count(), extent);
  node_list.SetLink(continuations.empty() ? kNone : continuations.front().block);
  result = node_list.Write(request, volume);
  if (fsrc::Failed(result)) return result;  // the node stays changed and is written later
  // The old chain is freed only once nothing points at it.
  for (uint64_t block : old_continuations) {
    volume->bitmap.ClearRun(block, volume->Mirrors());
    OmfsForgetBlocks(volume, block, volume->Mirrors());
  }
  return volume->bitmap.WriteBack(request);
}

Result OmfsFreeFileBlocks(FsRequest* request, OmfsVolume* volume, uint64_t node) {
  std::vector<OmfsExtent> runs;
  Result result = OmfsWalkChain(request, volume, node, [&](OmfsList& list, uint64_t) {
    if (!list.node()) runs.push_back(OmfsExtent{list.block(), volume->Mirrors()});
    for (uint32_t i = 0; i < list.Count(); ++i)
      if (!list.At(i).Hole()) runs.push_back(list.At(i));
    return fsrc::kOk;
  });
  if (fsrc::Failed(result)) return result;
  for (const OmfsExtent& run : runs) {
    if (run.start >= volume->Blocks() || run.length > volume->Blocks() - run.start) continue;
    volume->bitmap.ClearRun(run.start, run.length);
    OmfsForgetBlocks(volume, run.start, run.length);
  }
  return fsrc::kOk;
}
