// The fid list of the mass-storage channel: plain 32-bit fids in the order added, without
// generations, serialised as little-endian words with no header.
#pragma once

#include <cstdint>
#include <vector>

#include "devices/fid_list.h"

class Stream;

class MscFidList : public FidList {
 public:
  // Appends the file's "fid".
  Result Add(PropertyHolder& file) override;
  uint32_t Count() override { return static_cast<uint32_t>(fids_.size()); }
  Result Serialize(SeekableStream** stream_out) override;
  // A copy holding the same fids.
  Result NewList(RefPtr<FidList>* list_out) override;
  // A hint: 4096 bytes a fid.
  uint32_t SerializedSize() override { return Count() * 4096; }
  uint32_t TimeStamp() override { return TenthsOfSecondStamp(); }

  // Empties the list, then takes 4-byte values until the stream ends.
  Result ReadFrom(Stream* stream);
  const std::vector<uint32_t>& fids() const { return fids_; }

 private:
  std::vector<uint32_t> fids_;
};
