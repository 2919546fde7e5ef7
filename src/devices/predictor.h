// Space accounting of one storage while files are added, resized and deleted, so that free
// space is known without asking the player and an upload that cannot fit is seen early.
// One owner, deleted through the virtual destructor. Boolean results are 0 (fits) or 1.
#pragma once

#include <cstdint>

#include "support/result_codes.h"

class PropertyHolder;

class Predictor {
 public:
  virtual ~Predictor() = default;
  // Starts over from the storage information that the channel filled; keeps it current.
  virtual Result Reset(PropertyHolder& storage) = 0;
  virtual Result AddExistingFile(PropertyHolder& file) = 0;
  virtual Result RemoveFile(PropertyHolder& file) = 0;
  // Hands out the new file's "fid"; blocks_out may be null.
  virtual Result AccountNewFile(PropertyHolder& file, uint32_t* blocks_out) = 0;
  virtual Result Resize(PropertyHolder& old_file, PropertyHolder& new_file,
                        uint32_t* blocks_out) = 0;
  // A file whose fid is already set.
  virtual Result AccountFile(PropertyHolder& file) = 0;
  virtual Result WouldOverflow(PropertyHolder& file) = 0;
  virtual Result GetStorageInfo(PropertyHolder& storage_out) = 0;
  // Blocks added and released since Reset.
  virtual Result GetCounters(uint32_t counters_out[2]) = 0;
  // Bytes that the file occupies on the storage.
  virtual uint32_t RoundUp(PropertyHolder& file) = 0;
};
