// The platform's time base: nanoseconds on the performance counter, and the ticker thread that
// calls the time service every 50 ms while the platform exists.
#pragma once

#include <cstdint>

// Called on the ticker thread with the clock reading of the tick.
typedef void (*TickCallback)(void* context, int64_t now_ns);

constexpr int64_t kTickPeriodNs = 50000000;

// Where the time service gets its ticks; tests give it one they drive by hand.
class TickSource {
 public:
  virtual ~TickSource() = default;
  // 1, or 0 for a null callback: installs the callback, gives the period and the current
  // clock reading.
  virtual int RegisterTickCallback(TickCallback callback, void* context, int64_t* period_ns,
                                   int64_t* start_ns) = 0;
  virtual int EnableTicks() = 0;
  virtual int DisableTicks() = 0;
};

// Reads the counter frequency and starts the ticker thread; true when the ticker runs.
bool ClockStart();
// Stops the ticker and waits until it has left its loop, so that no tick runs afterwards.
// At process exit, when the threads are already gone, pass false: there is nobody to wait for.
void ClockStop(bool wait_for_ticker);
// Nanoseconds on the performance counter; 0 without one.
int64_t ClockNow();
uint64_t ClockNanosecondsPerTick();
// Ticks counted by the ticker since it started (0 when it does not run).
uint32_t ClockTickCount();
int SleepNanoseconds(uint64_t ns);

// The ticker thread of the process.
TickSource* SystemTickSource();
