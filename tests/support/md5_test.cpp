#include "support/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "md5_cases.inc"

namespace {

uint8_t PatternByte(int32_t i) { return static_cast<uint8_t>((i * 131 + 7) % 251); }

std::string Hex(const uint8_t* digest) {
  std::string hex;
  char pair[3];
  for (uint32_t i = 0; i < kMd5DigestSize; ++i) {
    std::snprintf(pair, sizeof(pair), "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

std::string DigestOf(const void* data, int32_t length) {
  uint8_t digest[kMd5DigestSize];
  Md5Digest(digest, data, length);
  return Hex(digest);
}

TEST(Md5DigestTest, MatchesHashlib) {
  for (const Md5Case& c : kMd5Cases) {
    std::vector<uint8_t> data(c.length);
    for (int32_t i = 0; i < c.length; ++i) {
      data[i] = c.text ? static_cast<uint8_t>(c.text[i]) : PatternByte(i);
    }
    EXPECT_EQ(DigestOf(data.data(), c.length), c.digest) << "length " << c.length;
  }
}

TEST(Md5DigestTest, NegativeLengthCountsTheText) {
  for (const Md5Case& c : kMd5Cases) {
    if (c.text) {
      EXPECT_EQ(DigestOf(c.text, -1), c.digest) << '"' << c.text << '"';
    }
  }
  EXPECT_EQ(DigestOf("", -1), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(DigestOf("abc", -1), "900150983cd24fb0d6963f7d28e17f72");
  // Only the bytes before the NUL count.
  EXPECT_EQ(DigestOf("abc\0def", -1), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5DigestTest, DataNeedNotBeAligned) {
  for (const Md5Case& c : kMd5Cases) {
    if (c.text || c.length < 64) continue;
    std::vector<uint8_t> data(c.length + 1);
    for (int32_t i = 0; i < c.length; ++i) data[i + 1] = PatternByte(i);
    EXPECT_EQ(DigestOf(data.data() + 1, c.length), c.digest) << "length " << c.length;
  }
}

}  // namespace
