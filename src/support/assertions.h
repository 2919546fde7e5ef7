// The routine called when an internal rule is broken: it prints where and ends the process.
#pragma once

#include <cstdint>

// The code every assertion of the platform layer passes.
constexpr uint32_t kAssertionCode = 0x0BADF00D;

// Emits "file(line) : ASSERTION FAILED, called by=<code>" through the trace sink and aborts.
[[noreturn]] void AssertFailed(const char* file, int line, uint32_t code);

#define TORVEX_ASSERT(condition)                                        \
  do {                                                                  \
    if (!(condition)) AssertFailed(__FILE__, __LINE__, kAssertionCode); \
  } while (0)
