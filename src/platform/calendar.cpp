#include "platform/calendar.h"

#include "platform/platform_codes.h"

namespace {

bool IsLeap(uint32_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }
uint32_t DaysInYear(uint32_t year) { return IsLeap(year) ? 366 : 365; }

const uint16_t kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const uint16_t kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

}  // namespace

Result NanosecondsToCalendar(int64_t ns, CalendarTime* out) {
  if (ns < 0) return prc::kBadTimeValue;
  int64_t milliseconds = ns / 1000000;
  uint32_t seconds = static_cast<uint32_t>(milliseconds / 1000);
  out->millisecond = static_cast<uint16_t>(milliseconds % 1000);
  uint32_t days = seconds / 86400;
  uint32_t year = 1970;
  while (days >= DaysInYear(year)) days -= DaysInYear(year++);
  uint32_t month = 0;
  for (; month < 11; ++month) {
    uint32_t length = kDaysInMonth[month] + (month == 1 && IsLeap(year) ? 1 : 0);
    if (days < length) break;
    days -= length;
  }
  uint32_t of_day = seconds % 86400;
  out->year = static_cast<uint16_t>(year);
  out->month = static_cast<uint16_t>(month + 1);
  out->day = static_cast<uint16_t>(days + 1);
  out->hour = static_cast<uint16_t>(of_day / 3600);
  out->minute = static_cast<uint16_t>(of_day / 60 % 60);
  out->second = static_cast<uint16_t>(of_day % 60);
  return prc::kOk;
}

Result CalendarToNanoseconds(const CalendarTime& time, int64_t* out) {
  if (time.year < 1970 || time.year > 2099 || time.month < 1 || time.month > 12 ||
      time.day < 1 || time.day > 31 || time.hour >= 24 || time.minute >= 60 ||
      time.second >= 60 || time.millisecond >= 1000)
    return prc::kBadTimeValue;
  int64_t days = 0;
  for (uint32_t year = 1970; year < time.year; ++year) days += DaysInYear(year);
  days += kDaysBeforeMonth[time.month - 1];
  if (time.month > 2 && IsLeap(time.year)) days += 1;
  days += time.day - 1;
  *out = (((days * 24 + time.hour) * 60 + time.minute) * 60 + time.second) * 1000000000LL +
         time.millisecond * 1000000LL;
  return prc::kOk;
}
