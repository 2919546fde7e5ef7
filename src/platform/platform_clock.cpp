#include "platform/platform_clock.h"

#include <windows.h>

#include <atomic>

#include "platform/win32_sync.h"
#include "platform/worker_thread.h"

namespace {

double counter_frequency = 0;
uint64_t ns_per_counter_tick = 0;
bool no_performance_counter = false;
// Nothing sets this; without a performance counter the clock reads it.
const int64_t fallback_time = 0;

// The 50 ms ticker. It keeps running until its stop event is signalled; as its very last act
// it signals the "left" event that the clock waits on before the time service goes away.
class Win32TimeCriticalThread : public WorkerThread {
 public:
  explicit Win32TimeCriticalThread(void* left_event)
      : WorkerThread("Win32TimeCriticalThread"), left_event_(left_event) {}

  Result StartUp() override {
    stop_event_ = win32sync::EventCreate();
    return stop_event_ ? 0 : rc::kFail;
  }

  Result Work() override {
    while (WaitForSingleObject(stop_event_, 50) == WAIT_TIMEOUT) {
      tick_count_.fetch_add(1);
      if (enabled_.load() && callback_) callback_(context_, ClockNow());
    }
    return 0;
  }

  void Terminate() override { SetEvent(stop_event_); }

  void Finish() override {
    CloseHandle(stop_event_);
    stop_event_ = nullptr;
    SetEvent(left_event_);
  }

  void Install(TickCallback callback, void* context) {
    callback_ = callback;
    context_ = context;
  }
  void SetEnabled(bool enabled) { enabled_.store(enabled); }
  uint32_t TickCount() const { return tick_count_.load(); }

 protected:
  ~Win32TimeCriticalThread() override = default;

 private:
  void* left_event_;
  void* stop_event_ = nullptr;
  std::atomic<uint32_t> tick_count_{0};
  std::atomic<bool> enabled_{false};
  TickCallback callback_ = nullptr;
  void* context_ = nullptr;
};

Win32TimeCriticalThread* ticker = nullptr;
void* ticker_left_event = nullptr;

class SystemTicks : public TickSource {
 public:
  int RegisterTickCallback(TickCallback callback, void* context, int64_t* period_ns,
                           int64_t* start_ns) override {
    if (!callback || !ticker) return 0;
    ticker->Install(callback, context);
    if (period_ns) *period_ns = kTickPeriodNs;
    if (start_ns) *start_ns = ClockNow();
    return 1;
  }
  int EnableTicks() override {
    if (ticker) ticker->SetEnabled(true);
    return 1;
  }
  int DisableTicks() override {
    if (ticker) ticker->SetEnabled(false);
    return 1;
  }
};

}  // namespace

bool ClockStart() {
  LARGE_INTEGER frequency;
  if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
    counter_frequency = static_cast<double>(frequency.QuadPart);
    ns_per_counter_tick = static_cast<uint64_t>(1e9 / counter_frequency);
    no_performance_counter = false;
  } else {
    counter_frequency = 0;
    ns_per_counter_tick = 0;
    no_performance_counter = true;
  }
  if (ticker) return true;
  ticker_left_event = win32sync::EventCreate();
  if (!ticker_left_event) return false;
  ticker = new Win32TimeCriticalThread(ticker_left_event);
  if (ticker->Start() < 0) {
    ticker->Destroy();
    ticker = nullptr;
    CloseHandle(ticker_left_event);
    ticker_left_event = nullptr;
    return false;
  }
  return true;
}

void ClockStop(bool wait_for_ticker) {
  if (!ticker) return;
  ticker->SetEnabled(false);
  if (wait_for_ticker) {
    ticker->Terminate();
    // The event, not the thread handle: this wait is also safe under the loader lock.
    WaitForSingleObject(ticker_left_event, INFINITE);
  }
  ticker->Destroy();
  ticker = nullptr;
  CloseHandle(ticker_left_event);
  ticker_left_event = nullptr;
}

int64_t ClockNow() {
  LARGE_INTEGER counter;
  if (no_performance_counter || counter_frequency <= 0 || !QueryPerformanceCounter(&counter))
    return fallback_time;
  return static_cast<int64_t>((1e9 / counter_frequency) * static_cast<double>(counter.QuadPart));
}

uint64_t ClockNanosecondsPerTick() { return ns_per_counter_tick; }

uint32_t ClockTickCount() { return ticker ? ticker->TickCount() : 0; }

int SleepNanoseconds(uint64_t ns) {
  Sleep(static_cast<DWORD>(ns / 1000000));
  return 1;
}

TickSource* SystemTickSource() {
  static SystemTicks ticks;
  return &ticks;
}
