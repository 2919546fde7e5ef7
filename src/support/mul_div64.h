// 64-bit multiply-then-divide for durations and sample positions (the tag readers).
#pragma once

#include <cstdint>

// floor(a * b / c) without overflowing the product, computed as
//   a * (b / c) + (a / c) * (b % c) + (a % c) * (b % c) / c   (all modulo 2^64).
// Exact (modulo 2^64) whenever c <= 2^32. A divisor of 0 (a corrupt rate in a
// file) gives 0 instead of ending the process.
uint64_t MulDiv64(uint64_t a, uint64_t b, uint64_t c);
