// Every wait and time-out goes through a Clock, so tests can run them without waiting.
#pragma once

#include <cstdint>

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic counter (wraps after about 49 days; compare by difference).
  virtual uint32_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;

  // The real clock of the process (GetTickCount and Sleep).
  static Clock* System();
};
