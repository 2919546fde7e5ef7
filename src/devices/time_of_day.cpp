#include "devices/time_of_day.h"

#include <windows.h>

#include <cstdint>

TimeVal GetTimeOfDay() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  // 100 ns units since 1601 to microseconds since 1970.
  const uint64_t ticks = (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  const uint64_t micros = ticks / 10 - 11644473600000000ull;
  TimeVal value;
  value.seconds = static_cast<int32_t>(micros / 1000000);
  value.microseconds = static_cast<int32_t>(micros % 1000000);
  return value;
}
