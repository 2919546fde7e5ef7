#include "support/clock.h"

#include <windows.h>

namespace {

class SystemClock : public Clock {
 public:
  uint32_t NowMs() override { return GetTickCount(); }
  void SleepMs(uint32_t ms) override { Sleep(ms); }
};

}  // namespace

Clock* Clock::System() {
  static SystemClock clock;
  return &clock;
}
