// OREventImpl: a 32-bit word of event flags that threads wait on, for all or any bits of a
// mask. All event objects share one guard and one setter mutex; each waiter sleeps on a private
// Win32 event. Callers keep to one waiter per event object.
#pragma once

#include <cstdint>

#include "platform/platform_interface.h"

class OREventImpl final : public PlatformObject {
 public:
  static constexpr int kMaxWaiters = 16;

  OREventImpl();
  void Destroy() override;
  virtual Result Set(uint32_t mask);
  virtual Result Clear(uint32_t mask);
  // 0 when satisfied (the flag word is stored to flags), 0x80000001 on time-out, 0x80C80001
  // when the wait fails. A time-out of 0 waits without limit.
  virtual Result WaitAll(uint32_t mask, uint32_t* flags, uint64_t timeout_ns);
  virtual Result WaitAny(uint32_t mask, uint32_t* flags, uint64_t timeout_ns);

  // Waiters currently listed (for diagnostics and tests).
  int WaitingCount();

 protected:
  ~OREventImpl();

 private:
  struct Waiter {
    void* event;
    uint32_t mask;
    bool all;
    uint32_t* flags_out;
  };
  static bool Satisfies(uint32_t flags, const Waiter& waiter);
  Result Wait(uint32_t mask, bool all, uint32_t* flags, uint64_t timeout_ns);

  uint32_t flags_ = 0;
  Waiter* waiting_[kMaxWaiters];
  int waiting_count_ = 0;
};
