#include <gtest/gtest.h>

#include "fs/partition_table.h"

TEST(PartitionCodecTest, Placeholder) { EXPECT_EQ(4, part::EntryCount(1)); }
