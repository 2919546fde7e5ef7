#include <gtest/gtest.h>

TEST(MediaSmoke, Builds) { SUCCEED(); }
