// What the benchmarks share: a monotonic clock read in milliseconds, and a small generator
// (splitmix64) that makes the same data on every machine and every run.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

using BenchClock = std::chrono::steady_clock;

inline double MsSince(BenchClock::time_point start) {
  return std::chrono::duration<double, std::milli>(BenchClock::now() - start).count();
}

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  template <size_t N>
  const char* Pick(const char* const (&list)[N]) {
    return list[Below(N)];
  }

 private:
  uint64_t state_;
};
