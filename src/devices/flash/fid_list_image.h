// The FIDLST list: the fids and generation stamps of a player's files, moved as a byte image.
// Reading the list's stream encodes the image, writing to it decodes one into the list.
//
// Image: "FIDLST", version byte (bit 0 set), two zero bytes, the entry count (24-bit LE), then
// 6 bytes per entry: the fid and the generation, each 24-bit LE.
#pragma once

#include <cstdint>
#include <vector>

#include "devices/fid_list.h"
#include "support/stream.h"

struct FidEntry {
  uint32_t fid;
  uint32_t generation;
};

class FidListImage : public FidList {
 public:
  static constexpr uint32_t kHeaderSize = 12;
  static constexpr uint32_t kEntrySize = 6;

  FidListImage() = default;

  // Takes the integer properties "fid" and "fid_generation".
  Result Add(PropertyHolder& file) override;
  uint32_t Count() override { return static_cast<uint32_t>(entries_.size()); }
  // Rewinds the list and hands out a new FidListStream over it.
  Result Serialize(SeekableStream** stream_out) override;
  // A copy of the entries and of where encoding or decoding stands.
  Result NewList(RefPtr<FidList>* list_out) override;
  uint32_t SerializedSize() override { return Count() * kEntrySize + kHeaderSize; }
  // A fresh generation stamp from the current time.
  uint32_t TimeStamp() override;

  // Whole entries from the current position. The header goes first and needs a buffer of at
  // least kHeaderSize (rc::kInvalidArg otherwise); an entry is never split across reads.
  // 0 when bytes were produced, 1 when the list is done.
  Result Encode(uint8_t* buffer, uint32_t length, uint32_t* done);
  // Takes an image, whole or in pieces. The first piece must hold the whole header (else
  // rc::kFail and nothing is taken); an entry cut by the end of a piece is completed by the
  // next. The count field is not trusted: entries are taken as far as the data goes.
  Result Decode(const uint8_t* data, uint32_t length, uint32_t* used);
  // The next Encode or Decode starts again with the header.
  void Rewind();

  const std::vector<FidEntry>& Entries() const { return entries_; }

 protected:
  ~FidListImage() override = default;

 private:
  static constexpr uint32_t kHeaderPending = 0xFFFFFFFF;

  // False when memory ran out.
  bool Append(const uint8_t* entry);

  std::vector<FidEntry> entries_;
  uint32_t cursor_ = kHeaderPending;  // next entry to encode, or entries decoded
  uint32_t carry_count_ = 0;
  uint8_t carry_[kEntrySize] = {};
};

// The stream face of one list. It holds a reference, so the list lives as long as the stream.
class FidListStream : public SeekableStream {
 public:
  explicit FidListStream(FidListImage* list) : list_(list) {}

  Result Read(void* buffer, uint32_t length, uint32_t* done) override;
  Result Write(const void* data, uint32_t length, uint32_t* used) override;
  Result GetPosition(uint32_t* position) override;
  // Only 0, which rewinds the list; anything else is rc::kNotImplemented.
  Result Seek(uint32_t position) override;
  Result Skip(int32_t delta) override;
  Result GetSize(uint32_t* size) override;
  Result SetSize(uint32_t size) override;

 private:
  RefPtr<FidListImage> list_;
};

// An empty list; rc::kOutOfMemory leaves *out null.
Result CreateFidList(RefPtr<FidList>* out);

// The generation stamp of a moment: tenths of a second since 1970, low 24 bits, never 0.
uint32_t GenerationStamp(uint32_t seconds, uint32_t microseconds);
