#include "support/assertions.h"

#include <cstdlib>

#include "support/debug_trace.h"

void AssertFailed(const char* file, int line, uint32_t code) {
  // The code is printed as the 8 hex digits of a 32-bit pointer on every target, so the line
  // reads the same in a 64-bit process.
  DebugTrace::Format(file, line, "ASSERTION FAILED, called by=%08X\n", static_cast<unsigned>(code));
  std::abort();
}
