#include "platform/ir_time.h"

#include <atomic>
#include <new>

#include "platform/or_message_queue.h"
#include "platform/platform_codes.h"
#include "platform/sys_log.h"
#include "platform/win32_sync.h"
#include "support/assertions.h"

using namespace win32sync;

namespace {

constexpr int64_t kSecond = 1000000000;
std::atomic<uint32_t> next_timer_id{1};

int64_t FloorToSecond(int64_t ns) {
  int64_t rest = ns % kSecond;
  return rest < 0 ? ns - rest - kSecond : ns - rest;
}

}  // namespace

IRTime* IRTime::Create() {
  return new IRTime;
}

IRTime::IRTime() { timers_.reserve(40); }

IRTime::~IRTime() {
  if (source_) source_->DisableTicks();
  for (Timer* timer : timers_) delete timer;
}

void IRTime::Destroy() { delete this; }

bool IRTime::Start(TickSource* source) {
  if (!source->RegisterTickCallback(&IRTime::TickThunk, this, &period_, &last_reading_))
    return false;
  source_ = source;
  source->EnableTicks();
  return true;
}

void IRTime::TickThunk(void* self, int64_t reading) { static_cast<IRTime*>(self)->Tick(reading); }

void IRTime::Tick(int64_t reading) {
  LocalMutexHold hold(mutex_);
  if (reading < last_reading_) return;
  drift_ += (reading - last_reading_) - period_;
  last_reading_ = reading;
  if (drift_ + period_ <= 0) {
    // A whole period early: the next tick makes up for it.
    drift_ += period_;
    return;
  }
  time_ += period_;
  FireDueTimers();
  while (drift_ >= period_) {
    time_ += period_;
    FireDueTimers();
    drift_ -= period_;
  }
}

void IRTime::FireDueTimers() {
  std::vector<Timer*> due;
  while (!timers_.empty() && timers_.back()->due <= time_) {
    due.push_back(timers_.back());
    timers_.pop_back();
  }
  for (auto it = due.rbegin(); it != due.rend(); ++it) {
    Timer* timer = *it;
    TimerEvent* event = new TimerEvent(time_, time_ + wall_offset_, timer->period,
                                       timer->previous, timer->kind, timer->id);
    timer->previous = time_;
    timer->target->Post(timer->mask, reinterpret_cast<uintptr_t>(event));
    if (timer->kind == kOneShot) {
      delete timer;
    } else {
      timer->due += timer->period;
      Insert(timer);
    }
  }
}

void IRTime::Insert(Timer* timer) {
  size_t position = timers_.size();
  while (position > 0 && timers_[position - 1]->due <= timer->due) --position;
  timers_.insert(timers_.begin() + static_cast<ptrdiff_t>(position), timer);
}

int64_t IRTime::CurrentSecondStart() const {
  return FloorToSecond(time_ + wall_offset_) - wall_offset_;
}

Result IRTime::Now(int64_t* out) {
  LocalMutexHold hold(mutex_);
  *out = time_;
  return prc::kOk;
}

Result IRTime::TickPeriod(int64_t* out) {
  *out = period_;
  return prc::kOk;
}

Result IRTime::SetWallTime(int64_t wall_ns) {
  int64_t before = 0;
  {
    LocalMutexHold hold(mutex_);
    before = wall_set_ ? time_ + wall_offset_ : 0;
    wall_offset_ = wall_ns - time_;
    wall_set_ = true;
    std::vector<Timer*> second_timers;
    for (size_t i = timers_.size(); i-- > 0;) {
      if (timers_[i]->kind != kSecondTimer) continue;
      second_timers.push_back(timers_[i]);
      timers_.erase(timers_.begin() + static_cast<ptrdiff_t>(i));
    }
    for (Timer* timer : second_timers) {
      timer->due = CurrentSecondStart() + timer->period;
      Insert(timer);
    }
  }
  SysLogSimple(0x640001, "%ld.%ld.%ld.%ld", static_cast<long>(before / kSecond),
               static_cast<long>(before % kSecond / 1000000), static_cast<long>(wall_ns / kSecond),
               static_cast<long>(wall_ns % kSecond / 1000000));
  return prc::kOk;
}

Result IRTime::WallNow(int64_t* out) {
  LocalMutexHold hold(mutex_);
  *out = wall_set_ ? time_ + wall_offset_ : 0;
  return prc::kOk;
}

Result IRTime::NanosecondsToCalendar(int64_t ns, CalendarTime* out) {
  return ::NanosecondsToCalendar(ns, out);
}

Result IRTime::CalendarToNanoseconds(const CalendarTime* time, int64_t* out) {
  return ::CalendarToNanoseconds(*time, out);
}

Result IRTime::CreateTimer(int32_t kind, int64_t period_ns, ORMessageQueueImpl* target,
                           uint32_t channel_mask, uint32_t* out_id) {
  // A timer without a queue would post into nothing when it fires.
  if (channel_mask == 0 || !target) return prc::kBadTimeValue;
  Timer* timer = new (std::nothrow) Timer{kind, period_ns > 0 ? period_ns : 1, target,
                                          channel_mask, next_timer_id.fetch_add(1), 0, 0};
  if (!timer) return prc::kOutOfMemory;
  if (out_id) *out_id = timer->id;
  LocalMutexHold hold(mutex_);
  timer->previous = time_;
  if (kind == kSecondTimer) {
    timer->period = kSecond;
    timer->due = CurrentSecondStart();
  } else {
    timer->due = time_;
  }
  timer->due += timer->period;
  Insert(timer);
  return prc::kOk;
}

Result IRTime::DeleteTimer(uint32_t id) {
  LocalMutexHold hold(mutex_);
  for (size_t i = 0; i < timers_.size(); ++i) {
    if (timers_[i]->id != id) continue;
    delete timers_[i];
    timers_.erase(timers_.begin() + static_cast<ptrdiff_t>(i));
    return prc::kOk;
  }
  return prc::kNoSuchTimer;
}

Result IRTime::HighResNow(int64_t* out) {
  *out = ClockNow();
  return prc::kOk;
}

Result IRTime::NanosecondsPerTick(uint64_t* out) {
  *out = ClockNanosecondsPerTick();
  return prc::kOk;
}
