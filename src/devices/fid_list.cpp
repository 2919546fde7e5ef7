#include "devices/fid_list.h"

#include <windows.h>

uint32_t TenthsOfSecondStamp() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t since_1601 = uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime;
  const uint64_t tenths = (since_1601 - 116444736000000000ull) / 1000000;
  const uint32_t stamp = static_cast<uint32_t>(tenths);
  return stamp != 0 ? stamp : 1;
}
