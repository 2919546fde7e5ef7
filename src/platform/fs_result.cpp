#include <cstdint>

#include "platform/platform.h"

Result FsResultToDeviceError(Result code) {
  struct Range {
    uint32_t first, last, mapped;
  };
  static const Range kRanges[] = {
      {0, 0, 0},
      {0x80000001, 0x80000001, 0xC004000B},
      {0x80000002, 0x80000002, 0x8007000E},
      {0x80000003, 0x80000003, 0xC0004006},
      {0x80000004, 0x80000004, 0xC0040002},
      {0x80820005, 0x80820005, 0xC0040002},
      {0x80000005, 0x80000005, 0x80004001},
      {0x80820008, 0x80820008, 0x80004001},
      {0x8082000A, 0x8082000A, 0x80004001},
      {0x80820001, 0x80820001, 0xC0004009},
      {0x80820002, 0x80820002, 0xC004A001},
      {0x80820003, 0x80820003, 0xC004A002},
      {0x80820004, 0x80820004, 0xC004000C},
      {0x80820017, 0x80820017, 0xC004000C},
      {0x80820006, 0x80820006, 0xC004A023},
      {0x80820007, 0x80820007, 0xC004A003},
      {0x80820009, 0x80820009, 0xC004A004},
      {0x8082000C, 0x80820013, 0xC004A005},
      {0x80820014, 0x80820016, 0xC004A00D},
      {0x80820018, 0x8082001C, 0xC004A010},
      {0x8082001D, 0x8082001D, 0xC004A022},
      {0x8082001E, 0x8082002A, 0xC004A015},
  };
  uint32_t value = static_cast<uint32_t>(code);
  for (const Range& range : kRanges)
    if (value >= range.first && value <= range.last)
      return static_cast<Result>(range.mapped + (value - range.first));
  return static_cast<Result>(0x80004005);
}
