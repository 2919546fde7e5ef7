#include "support/mul_div64.h"

uint64_t MulDiv64(uint64_t a, uint64_t b, uint64_t c) {
  if (c == 0) return 0;
  const uint64_t a_rest = a % c;
  const uint64_t b_rest = b % c;
  return a * (b / c) + (a / c) * b_rest + a_rest * b_rest / c;
}
