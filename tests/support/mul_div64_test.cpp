#include "support/mul_div64.h"

#include <gtest/gtest.h>

namespace {

struct MulDivCase {
  uint64_t a, b, c, expected;
  bool exact;  // expected is floor(a*b/c) modulo 2^64
};

const MulDivCase kCases[] = {
#include "mul_div64_cases.inc"
};

TEST(MulDiv64Test, MatchesTheOracleTable) {
  int exact = 0;
  for (const MulDivCase& test : kCases) {
    EXPECT_EQ(MulDiv64(test.a, test.b, test.c), test.expected)
        << std::hex << test.a << " * " << test.b << " / " << test.c;
    exact += test.exact;
  }
  EXPECT_GT(exact, 40);  // the table must mostly check true quotients
}

TEST(MulDiv64Test, DocumentedCases) {
  EXPECT_EQ(MulDiv64(uint64_t{1} << 40, uint64_t{1} << 40, uint64_t{1} << 20), uint64_t{1} << 60);
  EXPECT_EQ(MulDiv64(10, 3, 4), 7u);
}

TEST(MulDiv64Test, ZeroDivisorGivesZeroInsteadOfATrap) {
  EXPECT_EQ(MulDiv64(5, 7, 0), 0u);
  EXPECT_EQ(MulDiv64(UINT64_MAX, UINT64_MAX, 0), 0u);
}

}  // namespace
