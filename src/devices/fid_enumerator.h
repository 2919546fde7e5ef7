// The fid list of the hard-disk and network players: {fid, fid generation} pairs in the order
// added, serialised in the paired form of a playlist's member list (header word 0x000002FF,
// then fid and generation per file, little-endian), so that the caller can store it as one.
#pragma once

#include <cstdint>
#include <vector>

#include "devices/fid_list.h"
#include "devices/playlist_members.h"

class FidEnumerator : public FidList {
 public:
  // Appends the file's "fid" and "fid_generation".
  Result Add(PropertyHolder& file) override;
  uint32_t Count() override { return static_cast<uint32_t>(pairs_.size()); }
  Result Serialize(SeekableStream** stream_out) override;
  // A new, empty list.
  Result NewList(RefPtr<FidList>* list_out) override;
  // 8 bytes a pair and the header word.
  uint32_t SerializedSize() override { return 8 * Count() + 4; }
  uint32_t TimeStamp() override { return TenthsOfSecondStamp(); }

  const std::vector<PlaylistMember>& pairs() const { return pairs_; }

 private:
  std::vector<PlaylistMember> pairs_;
};
