#include "devices/harddisk/tea_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_stream.h"
#include "tea_stream_cases.inc"

namespace {

// Hands out at most `limit` bytes per read.
class TrickleStream : public Stream {
 public:
  TrickleStream(std::string bytes, uint32_t limit) : bytes_(std::move(bytes)), limit_(limit) {}
  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    *count = std::min<uint32_t>({length, limit_, static_cast<uint32_t>(bytes_.size() - at_)});
    memcpy(buffer, bytes_.data() + at_, *count);
    at_ += *count;
    return *count == 0 ? rc::kEndOfData : rc::kOk;
  }
  Result Write(const void*, uint32_t, uint32_t*) override { return rc::kFail; }

 private:
  std::string bytes_;
  size_t at_ = 0;
  uint32_t limit_;
};

TEST(TeaStreamTest, PublishedVectorZeroKeyZeroBlock) {
  uint32_t y = 0, z = 0;
  const uint32_t key[4] = {0, 0, 0, 0};
  TeaStream::EncipherBlock(&y, &z, key);
  EXPECT_EQ(y, 0x41EA3A0Au);
  EXPECT_EQ(z, 0x94BAA940u);
  TeaStream::DecipherBlock(&y, &z, key);
  EXPECT_EQ(y, 0u);
  EXPECT_EQ(z, 0u);
}

TEST(TeaStreamTest, EnciphersAndDeciphersAsTheIndependentVersion) {
  for (const TeaCase& c : kTeaCases) {
    const std::string plain(c.plain, c.size), cipher(c.cipher, c.size);
    MemoryStream sink;
    TeaStream encipher(&sink, c.key, false);
    uint32_t written = 0;
    const std::string caller_copy = plain;
    ASSERT_EQ(encipher.Write(plain.data(), c.size, &written), rc::kOk) << c.name;
    EXPECT_EQ(written, c.size - c.size % 8) << c.name;
    EXPECT_EQ(plain, caller_copy) << c.name;
    EXPECT_EQ(sink.Bytes(), cipher.substr(0, written)) << c.name;

    // Deciphered through reads of odd sizes from a base that trickles.
    TrickleStream source(cipher, 24);
    TeaStream decipher(&source, c.key, true);
    std::string out;
    for (;;) {
      char buffer[29];
      uint32_t got = 0;
      Result r = decipher.Read(buffer, sizeof buffer, &got);
      out.append(buffer, got);
      if (r != rc::kOk) break;
    }
    EXPECT_EQ(out, plain) << c.name;
  }
}

TEST(TeaStreamTest, ReadRoundsDownAndPassesAnIncompleteBlockOn) {
  const uint32_t key[4] = {1, 2, 3, 4};
  TrickleStream twelve(std::string(12, 'a'), 12);
  TeaStream tea(&twelve, key, false);
  char buffer[13];
  uint32_t got = 0;
  ASSERT_EQ(tea.Read(buffer, 13, &got), rc::kOk);
  EXPECT_EQ(got, 8u);  // 13 rounds down to 8

  TrickleStream source(std::string(12, 'a'), 12);
  // A base that returns 12 of 16: one transformed block, four bytes as they were.
  TeaStream whole(&source, key, false);
  char sixteen[16];
  ASSERT_EQ(whole.Read(sixteen, 16, &got), rc::kOk);
  ASSERT_EQ(got, 12u);
  EXPECT_NE(std::string(sixteen, 8), std::string(8, 'a'));
  EXPECT_EQ(std::string(sixteen + 8, 4), "aaaa");
}

TEST(TeaStreamTest, KeyChainsSoTheSecondBlockAloneDoesNotDecipher) {
  const uint32_t key[4] = {0x10, 0x20, 0x30, 0x40};
  const std::string plain = "0123456789abcdef";
  MemoryStream sink;
  TeaStream encipher(&sink, key, false);
  uint32_t written = 0;
  ASSERT_EQ(encipher.Write(plain.data(), 16, &written), rc::kOk);

  MemoryStream second(sink.Bytes().substr(8));
  TeaStream alone(&second, key, true);
  char buffer[8];
  uint32_t got = 0;
  ASSERT_EQ(alone.Read(buffer, 8, &got), rc::kOk);
  EXPECT_NE(std::string(buffer, 8), plain.substr(8));

  // ResetKey starts again from the configured key.
  MemoryStream both(sink.Bytes());
  TeaStream again(&both, key, true);
  ASSERT_EQ(again.Read(buffer, 8, &got), rc::kOk);
  ASSERT_EQ(both.Seek(0), rc::kOk);
  again.ResetKey();
  ASSERT_EQ(again.Read(buffer, 8, &got), rc::kOk);
  EXPECT_EQ(std::string(buffer, 8), plain.substr(0, 8));
}

}  // namespace
