#include "support/assertions.h"

#include <gtest/gtest.h>

namespace {

// Death tests run the executable again as a child process (Windows style); the child's
// standard error holds the trace line.
TEST(AssertionsDeathTest, FailedAssertionPrintsLocationAndAborts) {
  EXPECT_DEATH(AssertFailed("b", 7, kAssertionCode), "^b\\(7\\) : ASSERTION FAILED, called by=0BADF00D\n");
}

TEST(AssertionsDeathTest, MacroFailsOnlyOnAFalseCondition) {
  int evaluations = 0;
  TORVEX_ASSERT(++evaluations == 1);
  EXPECT_EQ(evaluations, 1);
  EXPECT_DEATH(TORVEX_ASSERT(evaluations == 2), "assertions_test\\.cpp\\(\\d+\\) : ASSERTION FAILED");
}

}  // namespace
