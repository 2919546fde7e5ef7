#include "support/time_val.h"

namespace {
constexpr int32_t kMicrosPerSecond = 1000000;

int Compare(const TimeVal& a, const TimeVal& b) {
  if (a.seconds != b.seconds) return a.seconds < b.seconds ? -1 : 1;
  if (a.microseconds != b.microseconds) return a.microseconds < b.microseconds ? -1 : 1;
  return 0;
}
}  // namespace

void TimeValNormalize(TimeVal* value) {
  if (value->microseconds < 0) {
    const int32_t borrow = (kMicrosPerSecond - 1 - value->microseconds) / kMicrosPerSecond;
    value->seconds -= borrow;
    value->microseconds += borrow * kMicrosPerSecond;
  } else if (value->microseconds >= kMicrosPerSecond) {
    value->seconds += value->microseconds / kMicrosPerSecond;
    value->microseconds %= kMicrosPerSecond;
  }
}

bool TimeValLessEqual(const TimeVal& a, const TimeVal& b) { return Compare(a, b) <= 0; }
bool TimeValGreater(const TimeVal& a, const TimeVal& b) { return Compare(a, b) > 0; }
bool TimeValGreaterEqual(const TimeVal& a, const TimeVal& b) { return Compare(a, b) >= 0; }
