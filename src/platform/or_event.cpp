#include "platform/or_event.h"

#include "platform/platform_codes.h"
#include "platform/win32_sync.h"
#include "support/assertions.h"

using namespace win32sync;

namespace {

// The guard of every flag word and waiter list, and the mutex that lets one Set run at a time.
// Both are made by the first event object and live until the process ends.
Handle guard_mutex = nullptr;
Handle setter_mutex = nullptr;

void MakeSharedMutexes() {
  static const bool made = (guard_mutex = MutexCreate(), setter_mutex = MutexCreate(), true);
  (void)made;
  TORVEX_ASSERT(guard_mutex && setter_mutex);
}

}  // namespace

OREventImpl::OREventImpl() { MakeSharedMutexes(); }

OREventImpl::~OREventImpl() {
  MutexHold guard(guard_mutex);
  TORVEX_ASSERT(waiting_count_ == 0);
}

void OREventImpl::Destroy() { delete this; }

bool OREventImpl::Satisfies(uint32_t flags, const Waiter& waiter) {
  return waiter.all ? (flags & waiter.mask) == waiter.mask : (flags & waiter.mask) != 0;
}

Result OREventImpl::Set(uint32_t mask) {
  MutexHold setter(setter_mutex);
  MutexHold guard(guard_mutex);
  flags_ |= mask;
  Waiter* woken = nullptr;
  int kept = 0;
  for (int i = 0; i < waiting_count_; ++i) {
    Waiter* waiter = waiting_[i];
    if (Satisfies(flags_, *waiter)) {
      TORVEX_ASSERT(woken == nullptr);  // one Set wakes at most one waiter
      *waiter->flags_out = flags_;
      woken = waiter;
    } else {
      waiting_[kept++] = waiter;
    }
  }
  waiting_count_ = kept;
  // Signalled under the guard: a waiter whose wait timed out meanwhile takes the guard before
  // it closes its private event, so the handle is still open here.
  if (woken) EventSet(woken->event);
  return prc::kOk;
}

Result OREventImpl::Clear(uint32_t mask) {
  MutexHold guard(guard_mutex);
  flags_ &= ~mask;
  return prc::kOk;
}

Result OREventImpl::WaitAll(uint32_t mask, uint32_t* flags, uint64_t timeout_ns) {
  return Wait(mask, true, flags, timeout_ns);
}

Result OREventImpl::WaitAny(uint32_t mask, uint32_t* flags, uint64_t timeout_ns) {
  return Wait(mask, false, flags, timeout_ns);
}

int OREventImpl::WaitingCount() {
  MutexHold guard(guard_mutex);
  return waiting_count_;
}

Result OREventImpl::Wait(uint32_t mask, bool all, uint32_t* flags, uint64_t timeout_ns) {
  TORVEX_ASSERT(mask != 0);
  uint32_t ignored = 0;
  Waiter waiter{nullptr, mask, all, flags ? flags : &ignored};
  MutexLock(guard_mutex);
  if (Satisfies(flags_, waiter)) {
    *waiter.flags_out = flags_;
    MutexUnlock(guard_mutex);
    return prc::kOk;
  }
  waiter.event = EventCreate();
  TORVEX_ASSERT(waiter.event != nullptr);
  TORVEX_ASSERT(waiting_count_ < kMaxWaiters);
  waiting_[waiting_count_++] = &waiter;
  MutexUnlock(guard_mutex);

  int waited = EventWait(waiter.event, timeout_ns);
  Result result = prc::kOk;
  if (waited != kDone) {
    MutexHold guard(guard_mutex);
    bool still_listed = false;
    for (int i = 0; i < waiting_count_; ++i) {
      if (waiting_[i] != &waiter) continue;
      still_listed = true;
      for (int j = i + 1; j < waiting_count_; ++j) waiting_[j - 1] = waiting_[j];
      --waiting_count_;
      break;
    }
    // A Set that took the record before the guard came back has satisfied this wait: its
    // flags are stored, so the caller must not hear of a time-out.
    if (still_listed) result = waited == kTimedOut ? prc::kTimeout : prc::kEventWaitFailed;
  }
  HandleClose(waiter.event);
  return result;
}
