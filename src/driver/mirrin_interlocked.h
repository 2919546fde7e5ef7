/* The interlocked operations the driver uses, as the processor's own instructions: Windows 98
 * exports none of the NT kernel's interlocked routines, and they need no kernel at all. Both
 * the driver build and the test program's kernel substitute take them from here, after LONG
 * and PVOID are declared. */
#pragma once

static inline LONG MirrinCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, 0, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}
static inline LONG MirrinExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
static inline PVOID MirrinExchangePointer(PVOID volatile* target, PVOID value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
static inline LONG MirrinIncrement(LONG volatile* target) {
  return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}
static inline LONG MirrinDecrement(LONG volatile* target) {
  return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}

#undef InterlockedCompareExchange
#undef InterlockedExchange
#undef InterlockedIncrement
#undef InterlockedDecrement
#undef InterlockedExchangePointer
#define InterlockedCompareExchange MirrinCompareExchange
#define InterlockedExchange MirrinExchange
#define InterlockedIncrement MirrinIncrement
#define InterlockedDecrement MirrinDecrement
#define InterlockedExchangePointer(target, value) \
  MirrinExchangePointer((PVOID volatile*)(target), (PVOID)(value))
