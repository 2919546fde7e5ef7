#include <gtest/gtest.h>

TEST(DevicesSmoke, Builds) { SUCCEED(); }
