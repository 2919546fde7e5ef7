// Players keep local time: the C library's zone, plus an hour while daylight saving is in
// force at that moment.
#pragma once

#include <cstdint>

int64_t LocalDeviceSeconds(uint32_t utc_seconds);
