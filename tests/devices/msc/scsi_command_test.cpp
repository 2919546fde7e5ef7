#include "devices/msc/scsi_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/property_holder.h"
#include "devices/msc/scsi_device.h"

namespace {

std::vector<uint8_t> Cdb(const ScsiCommand& command) {
  return std::vector<uint8_t>(command.cdb(), command.cdb() + command.cdb_length());
}

TEST(ScsiCommandTest, BuildersLayTheirBlocksOutBigEndian) {
  using Bytes = std::vector<uint8_t>;
  EXPECT_EQ(Cdb(*MakeInquiry()), (Bytes{0x12, 0, 0, 0, 0x60, 0}));
  EXPECT_EQ(Cdb(*MakeInquiryPage(0x80)), (Bytes{0x12, 1, 0x80, 0, 0x60, 0}));
  EXPECT_EQ(Cdb(*MakeInquiryPage(0xC1)), (Bytes{0x12, 1, 0xC1, 0, 0x60, 0}));
  auto block = MakeFirmwareBlock(2);
  SetFirmwareBlockNumber(block.get(), 0x010203);
  EXPECT_EQ(Cdb(*block), (Bytes{0x3B, 5, 2, 1, 2, 3, 0, 0, 0, 0}));
  EXPECT_EQ(block->data_length(), 8192u);
  EXPECT_FALSE(block->data_in());
  EXPECT_EQ(Cdb(*MakeVendorTime(0x11223344, 0x55667788)),
            (Bytes{0xD1, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
  auto reply = MakeVendorRequest(138, 1, 0x0A0B, 124);
  EXPECT_EQ(Cdb(*reply), (Bytes{0xD0, 124, 0, 0, 0, 138, 0, 0, 0, 1, 0, 0, 0x0A, 0x0B}));
  EXPECT_TRUE(reply->data_in());
  auto out = MakeVendorRequest(142, 5, 0, 0, 96);
  EXPECT_EQ(out->cdb()[1], 0);
  EXPECT_EQ(out->data_length(), 96u);
  EXPECT_FALSE(out->data_in());
  EXPECT_FALSE(MakeVendorRequest(134, 0, 0, 0)->data_in());  // no data goes out
}

TEST(ScsiCommandTest, SenseRule) {
  struct Case {
    uint8_t byte0, key_byte, other;
    Result expected;
  } cases[] = {
      {0, 0, 0, rc::kOk},                 // all zeros
      {0x70, 0x00, 0x55, rc::kOk},        // key 0 with other bytes set
      {0x70, 0xF0, 0, rc::kOk},           // only the low four bits are the key
      {0x70, 0x05, 0, rc::kNotImplemented},
      {0x70, 0x25, 0, rc::kNotImplemented},
      {0x70, 0x02, 0, rc::kFail},
      {0x70, 0x06, 0, rc::kFail},
  };
  for (const Case& c : cases) {
    auto command = MakeInquiry();
    command->sense()[0] = c.byte0;
    command->sense()[2] = c.key_byte;
    command->sense()[12] = c.other;
    EXPECT_EQ(command->EvaluateSense(), c.expected) << int(c.key_byte);
  }
}

TEST(IdentificationReplyTest, UnitSerialLengthIsBoundedByThePage) {
  uint8_t page[96] = {};
  page[3] = 5;
  std::memcpy(page + 4, "ABCDEFG", 7);
  EXPECT_EQ(inquiry::UnitSerial(page), "ABCDE");
  page[3] = 0xFF;  // claims more than the page holds
  EXPECT_EQ(inquiry::UnitSerial(page).size(), 92u);
  page[3] = 0;
  EXPECT_EQ(inquiry::UnitSerial(page), "");
}

TEST(IdentificationReplyTest, TextsAreTrimmedAndNamesEndAtNul) {
  uint8_t data[96] = {};
  std::memcpy(data + 8, " Qel\t   ", 8);
  std::memcpy(data + 16, "\tMS 20 Player   ", 16);
  std::memcpy(data + 32, "1.2 ", 4);
  EXPECT_EQ(inquiry::Vendor(data), "Qel");
  EXPECT_EQ(inquiry::Product(data), "MS 20 Player");
  EXPECT_EQ(inquiry::Revision(data), "1.2");
  std::memcpy(data + 12, "Card\0junk", 9);
  EXPECT_EQ(inquiry::DriveName(data), "Card");
  std::memset(data + 12, 'x', 30);  // no NUL within its 24 bytes
  EXPECT_EQ(inquiry::DriveName(data), std::string(24, 'x'));
}

TEST(ReplyDecoderTest, ValueList) {
  struct Case {
    std::vector<uint32_t> words, expected;
  } cases[] = {
      {{5, 7, 0, 9}, {5, 7}},
      {{0, 7, 8, 9}, {}},
      {{1, 2, 3, 4}, {1, 2, 3, 4}},
      {{1, 0, 0, 0}, {1}},
  };
  for (const Case& c : cases) {
    uint8_t reply[16];
    for (int i = 0; i < 4; ++i) {
      for (int b = 0; b < 4; ++b) reply[4 * i + b] = static_cast<uint8_t>(c.words[i] >> (24 - 8 * b));
    }
    std::vector<uint32_t> values{99};
    DecodeValueList(reply, &values);
    EXPECT_EQ(values, c.expected);
  }
}

TEST(ReplyDecoderTest, SensorsSetOnlyWhatThePresenceBitsSay) {
  uint8_t reply[32] = {};
  reply[3] = 0x05;
  reply[7] = 40;
  reply[11] = 99;
  reply[14] = 1;
  PropertyHolder sensors;
  DecodeSensors(reply, sensors);
  EXPECT_EQ(sensors.GetString("temperature"), "40");
  EXPECT_EQ(sensors.GetString("instantaneous_current"), "256");
  EXPECT_EQ(sensors.GetSet()->FindColumn("voltage"), -1);
}

TEST(ReplyDecoderTest, DiskIdentitySwapsEachWordOfItsTexts) {
  uint8_t reply[124] = {};
  auto put = [&](size_t offset, size_t width, const std::string& text) {
    std::string padded = text + std::string(width - text.size(), ' ');
    for (size_t i = 0; i < width; i += 2) {
      reply[offset + i] = padded[i + 1];
      reply[offset + i + 1] = padded[i];
    }
  };
  put(20, 20, "SN123");
  put(46, 8, "FW1.0");
  put(54, 40, "QEL DISK \xE9");
  reply[120] = 0x00;
  reply[121] = 0x10;
  reply[122] = 0x00;
  reply[123] = 0x01;
  PropertyHolder info;
  info.SetString("stale", "x");
  DecodeDiskIdentity(reply, info);
  EXPECT_EQ(info.GetSet()->FindColumn("stale"), -1);  // a fresh row
  EXPECT_EQ(info.GetString("serial"), "SN123" + std::string(15, ' '));
  EXPECT_EQ(info.GetString("firmware_version"), "FW1.0   ");
  EXPECT_EQ(info.GetString("model").substr(0, 11), "QEL DISK \xC3\xA9");  // Latin-1 to UTF-8
  EXPECT_EQ(info.GetString("sector_count"), std::to_string(0x01001000));
}

}  // namespace
