#include "support/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const uint8_t kBytes[8] = {0x01, 0x82, 0x03, 0x84, 0x05, 0x86, 0x07, 0x88};

TEST(ByteOrderTest, DecodesBothOrders) {
  EXPECT_EQ(0x8201u, bytes::Le16(kBytes));
  EXPECT_EQ(0x038201u, bytes::Le24(kBytes));
  EXPECT_EQ(0x84038201u, bytes::Le32(kBytes));
  EXPECT_EQ(0x8807860584038201ull, bytes::Le64(kBytes));
  EXPECT_EQ(0x0182u, bytes::Be16(kBytes));
  EXPECT_EQ(0x018203u, bytes::Be24(kBytes));
  EXPECT_EQ(0x01820384u, bytes::Be32(kBytes));
  EXPECT_EQ(0x0182038405860788ull, bytes::Be64(kBytes));
}

TEST(ByteOrderTest, SyncSafeIgnoresTheTopBitOfEachByte) {
  const uint8_t size[4] = {0x7F, 0xFF, 0x00, 0x01};
  EXPECT_EQ(0x0FFFC001u, bytes::SyncSafe32(size));
}

TEST(ByteOrderTest, EncodersRoundTrip) {
  uint8_t out[8] = {};
  bytes::PutLe64(out, 0x8807860584038201ull);
  EXPECT_EQ(0, std::memcmp(out, kBytes, 8));
  bytes::PutLe24(out, 0xABCDEF);
  EXPECT_EQ(0xABCDEFu, bytes::Le24(out));
  bytes::PutBe32(out, 0x01820384);
  EXPECT_EQ(0, std::memcmp(out, kBytes, 4));
  bytes::PutLe16(out, 0xBEEF);
  EXPECT_EQ(0xBEEFu, bytes::Le16(out));
}

}  // namespace
