// Progress of a long channel operation or stream copy.
#pragma once

#include <cstdint>

#include "support/result_codes.h"

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // Bytes or percent done of the total. May be called on the operation's thread only.
  virtual Result Report(uint32_t done, uint32_t total) = 0;
};
