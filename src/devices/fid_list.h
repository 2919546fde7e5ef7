// The list of file ids (with their generation stamps) on a player, handed out by
// Channel::EnumFids and moved as a serialised image.
#pragma once

#include <cstdint>

#include "support/ref_counted.h"
#include "support/result_codes.h"

class PropertyHolder;
class SeekableStream;

class FidList : public RefCounted {
 public:
  // Adds the file of these properties ("fid", "fid_generation").
  virtual Result Add(PropertyHolder& file) = 0;
  virtual uint32_t Count() = 0;
  // A stream whose reads give the serialised list; owned by the caller.
  virtual Result Serialize(SeekableStream** stream_out) = 0;
  // A new list of the same kind (what it holds is each implementation's own choice).
  virtual Result NewList(RefPtr<FidList>* list_out) = 0;
  virtual uint32_t SerializedSize() = 0;
  virtual uint32_t TimeStamp() = 0;
};

// The stamp of the hard-disk and mass-storage players' fid lists: the current time in tenths
// of a second since 1970, kept to 32 bits; never 0.
uint32_t TenthsOfSecondStamp();
