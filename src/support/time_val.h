// A time as whole seconds and microseconds; normal when 0 <= microseconds < 1,000,000.
#pragma once

#include <cstdint>

struct TimeVal {
  int32_t seconds;
  int32_t microseconds;
};

void TimeValNormalize(TimeVal* value);
bool TimeValLessEqual(const TimeVal& a, const TimeVal& b);
bool TimeValGreater(const TimeVal& a, const TimeVal& b);
bool TimeValGreaterEqual(const TimeVal& a, const TimeVal& b);
