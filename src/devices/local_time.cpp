#include "devices/local_time.h"

#include <ctime>

int64_t LocalDeviceSeconds(uint32_t utc_seconds) {
  _tzset();
  const time_t t = static_cast<time_t>(utc_seconds);
  const struct tm* local = localtime(&t);
  const int64_t dst = local != nullptr && local->tm_isdst > 0 ? 3600 : 0;
  return static_cast<int64_t>(utc_seconds) + dst - static_cast<int64_t>(_timezone);
}
