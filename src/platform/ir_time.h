// IRTime: platform time in exact 50 ms steps driven by the ticker, a wall clock kept as an
// offset to it, calendar conversion and timers that post TimerEvents to message queues.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/calendar.h"
#include "platform/platform_clock.h"
#include "platform/platform_interface.h"
#include "platform/win32_sync.h"

class ORMessageQueueImpl;

// What a firing timer posts (the message payload); the receiver destroys it after use.
class TimerEvent {
 public:
  TimerEvent(int64_t tick, int64_t wall, int64_t period, int64_t previous, int32_t kind,
             uint32_t id)
      : tick_(tick), wall_(wall), period_(period), previous_(previous), kind_(kind), id_(id) {}
  virtual void Destroy() { delete this; }
  virtual int64_t TickTime() const { return tick_; }
  virtual int64_t WallTime() const { return wall_; }
  virtual int32_t Kind() const { return kind_; }
  virtual uint32_t TimerId() const { return id_; }
  virtual int64_t Period() const { return period_; }
  virtual int64_t PreviousFiring() const { return previous_; }

 protected:
  virtual ~TimerEvent() = default;

 private:
  int64_t tick_, wall_, period_, previous_;
  int32_t kind_;
  uint32_t id_;
};

class IRTime final : public PlatformInterface {
 public:
  static constexpr int32_t kSecondTimer = 0;  // aligned to whole wall-clock seconds
  static constexpr int32_t kOneShot = 2;      // any other kind is periodic

  static IRTime* Create();
  // Installs the tick on the source and enables it; false when the source refuses.
  bool Start(TickSource* source);
  void Destroy() override;

  virtual Result Now(int64_t* out);
  virtual Result TickPeriod(int64_t* out);
  virtual Result SetWallTime(int64_t wall_ns);
  // 0 while no wall time has been set.
  virtual Result WallNow(int64_t* out);
  virtual Result NanosecondsToCalendar(int64_t ns, CalendarTime* out);
  virtual Result CalendarToNanoseconds(const CalendarTime* time, int64_t* out);
  virtual Result CreateTimer(int32_t kind, int64_t period_ns, ORMessageQueueImpl* target,
                             uint32_t channel_mask, uint32_t* out_id);
  virtual Result DeleteTimer(uint32_t id);
  virtual Result HighResNow(int64_t* out);
  virtual Result NanosecondsPerTick(uint64_t* out);

  // One tick with the clock reading it came with (called on the ticker thread).
  void Tick(int64_t reading);

 protected:
  IRTime();
  ~IRTime();

 private:
  struct Timer {
    int32_t kind;
    int64_t period;
    ORMessageQueueImpl* target;
    uint32_t mask;
    uint32_t id;
    int64_t previous;
    int64_t due;
  };
  static void TickThunk(void* self, int64_t reading);
  void Insert(Timer* timer);
  void FireDueTimers();
  int64_t CurrentSecondStart() const;

  win32sync::LocalMutex mutex_;
  TickSource* source_ = nullptr;
  int64_t period_ = kTickPeriodNs;
  int64_t wall_offset_ = 0;
  bool wall_set_ = false;
  int64_t time_ = 0;
  int64_t drift_ = 0;
  int64_t last_reading_ = 0;
  // From the latest due time to the earliest.
  std::vector<Timer*> timers_;
};
