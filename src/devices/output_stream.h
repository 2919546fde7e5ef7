// The stream that receives a new file's bytes (Channel::CreateNewFile). One owner, deleted
// through the virtual destructor.
#pragma once

#include <cstdint>

#include "support/result_codes.h"

class PropertyHolder;

class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Kept for slot compatibility; block writers answer E_NOTIMPL.
  virtual Result Reserved() = 0;
  virtual Result Write(const uint8_t* data, uint32_t length) = 0;
  // Completes the file on the player with its metadata.
  virtual Result Finish(PropertyHolder& file) = 0;
  // Ends an unfinished file; always answers 0.
  virtual Result Abort() = 0;
};
