// What flash families C, D and E share: files listed entry by entry from the player's
// directory (request 105, one 2048-byte directory record each), the record codec, the
// comparison of tags as the player will store them and uploads through the flash writer.
#pragma once

#include <cstdint>
#include <functional>

#include "devices/flash/sardane_channel.h"

class ContentsVisitor;

class SardaneDirectoryChannel : public SardaneChannel {
 public:
  using SardaneChannel::SardaneChannel;

  // Every directory entry of `storage`, decoded; 1 when the visitor stopped the walk.
  Result EnumFiles(uint32_t storage, HolderVisitor* visitor) override;
  // True when title, artist or source would be stored differently. When they differ the new
  // props receive the three texts as the player will hold them.
  Result MetadataDiffers(PropertySet& old_file, PropertySet& new_file, bool* differs) override;
  // Knows the text mode first, since the writer makes the record when the file ends.
  Result CreateNewFile(uint32_t storage, OutputStream** stream) override;

  Result DecodeFileRecord(PropertyHolder& file, const uint8_t* record,
                          uint32_t length) override;
  Result EncodeFileRecord(uint8_t* record, PropertySet& file) override;

  // The player's directory holds at most this many entries per storage (a 16-bit index).
  static constexpr uint32_t kMaxEntries = 0x10000;

 protected:
  // Calls `take` with each entry of `storage` under one lock until it answers other than 0
  // (that answer is the result) or the directory ends (result 0).
  Result ForEachEntry(uint32_t storage, const std::function<Result(const uint8_t*)>& take);
  // Hands each storage to the visitor (until it answers false) and counts them all.
  Result CountStorages(ContentsVisitor* visitor, uint32_t* count);
};
