// Conversion between nanoseconds since 1970-01-01 00:00:00 and a calendar record.
#pragma once

#include <cstdint>

#include "support/result_codes.h"

struct CalendarTime {
  uint16_t year;
  uint16_t month;   // 1 to 12
  uint16_t day;     // 1 to 31
  uint16_t hour;    // 0 to 23
  uint16_t minute;
  uint16_t second;
  uint16_t millisecond;
};

// 0x80780003 for a negative time.
Result NanosecondsToCalendar(int64_t ns, CalendarTime* out);
// Years 1970 to 2099; the day is checked against 31, not against the month, so February 31
// lands in March. 0x80780003 for a field out of range.
Result CalendarToNanoseconds(const CalendarTime& time, int64_t* out);
