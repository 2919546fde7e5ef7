// A clock that only moves when somebody sleeps on it or a test advances it.
#pragma once

#include "support/clock.h"

class FakeClock : public Clock {
 public:
  uint32_t NowMs() override { return now_; }
  void SleepMs(uint32_t ms) override {
    now_ += ms;
    slept_ += ms;
    ++sleeps_;
  }
  void Advance(uint32_t ms) { now_ += ms; }
  uint64_t TotalSlept() const { return slept_; }
  uint32_t SleepCount() const { return sleeps_; }

 private:
  uint32_t now_ = 1000;
  uint64_t slept_ = 0;
  uint32_t sleeps_ = 0;
};
