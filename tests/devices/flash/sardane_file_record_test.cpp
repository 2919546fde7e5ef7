#include "devices/flash/sardane_file_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "devices/flash/protocol_session.h"
#include "devices/flash/set_text_property.h"
#include "devices/flash/type_codes.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/byte_order.h"

namespace {

#include "flash_file_records.inc"

constexpr uint32_t kCommonBytes = 44;

RefPtr<PropertySet> NewSet() {
  RefPtr<PropertySet> set;
  EXPECT_EQ(rc::kOk, PropertySet::Create(&set));
  EXPECT_EQ(rc::kOk, set->AddNew());
  return set;
}

std::string Hex(const uint8_t* data, size_t n) {
  std::string s;
  char pair[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(pair, sizeof pair, "%02x ", data[i]);
    s += pair;
  }
  return s;
}

TEST(SardaneFileRecordTest, EncodesTheCommonFieldsByteForByte) {
  for (const RecordCase& c : kRecordCases) {
    SCOPED_TRACE(c.fid);
    RefPtr<PropertySet> file = NewSet();
    file->SetInt("fid", static_cast<int32_t>(c.fid));
    file->SetInt("length", static_cast<int32_t>(c.length));
    file->SetInt("duration", static_cast<int32_t>(c.duration));
    file->SetInt("ctime", static_cast<int32_t>(c.ctime));
    file->SetInt("samplerate", static_cast<int32_t>(c.samplerate));
    file->SetString("type", c.type);
    if (*c.codec) file->SetString("codec", c.codec);
    if (*c.flags) file->SetString("flags", c.flags);
    if (*c.bitrate) file->SetString("bitrate", c.bitrate);
    // Bytes the common part does not own stay as the family left them.
    std::vector<uint8_t> record(qel::kRecordSize, 0xEE);
    sardane::EncodeCommonFields(record.data(), *file);
    std::vector<uint8_t> expected(qel::kRecordSize, 0xEE);
    memcpy(expected.data(), c.bytes, kCommonBytes);
    for (uint32_t gap : {4u, 5u, 6u, 7u, 28u, 29u, 30u, 31u, 32u, 33u}) expected[gap] = 0xEE;
    EXPECT_EQ(Hex(expected.data(), kCommonBytes + 4), Hex(record.data(), kCommonBytes + 4));
    EXPECT_EQ(expected, record);
  }
}

TEST(SardaneFileRecordTest, AbsentPropertiesGiveZeros) {
  RefPtr<PropertySet> file = NewSet();
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  sardane::EncodeCommonFields(record.data(), *file);
  std::vector<uint8_t> expected(qel::kRecordSize, 0);
  bytes::PutLe32(&expected[20], 0x110);
  EXPECT_EQ(expected, record);
}

TEST(SardaneFileRecordTest, DecodeGivesBackWhatWasEncoded) {
  RefPtr<PropertySet> file = NewSet();
  file->SetInt("fid", -2);  // fids and lengths are the 32 bits the player stores
  file->SetInt("length", 123456);
  file->SetInt("duration", 7000);
  file->SetInt("ctime", 1136073600);
  file->SetInt("samplerate", 44100);
  file->SetString("type", "tune");
  file->SetString("codec", "aac");
  file->SetString("flags", ";autosync;recorded;");
  file->SetString("bitrate", "fs192");
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  sardane::EncodeCommonFields(record.data(), *file);

  PropertyHolder decoded;
  decoded.SetString("stale", "gone");
  ASSERT_EQ(rc::kOk, sardane::DecodeCommonFields(decoded, record.data(), qel::kRecordSize));
  EXPECT_EQ("", decoded.GetString("stale"));
  EXPECT_EQ("-2", decoded.GetString("fid"));
  EXPECT_EQ("123456", decoded.GetString("length"));
  EXPECT_EQ("7000", decoded.GetString("duration"));
  EXPECT_EQ("1136073600", decoded.GetString("ctime"));
  EXPECT_EQ("44100", decoded.GetString("samplerate"));
  EXPECT_EQ("tune", decoded.GetString("type"));
  EXPECT_EQ("aac", decoded.GetString("codec"));
  EXPECT_EQ(";recorded;autosync;", decoded.GetString("flags"));
  EXPECT_EQ("?s192", decoded.GetString("bitrate"));  // the record keeps no fixed/variable mark

  // Encoding the decoded set again gives the same record.
  std::vector<uint8_t> again(qel::kRecordSize, 0);
  sardane::EncodeCommonFields(again.data(), *decoded.GetSet());
  EXPECT_EQ(record, again);
}

TEST(SardaneFileRecordTest, DecodeReadsEachFieldInItsWidthOnly) {
  std::vector<uint8_t> record(qel::kRecordSize, 0xFF);
  bytes::PutLe32(&record[20], 0);                // no flags
  bytes::PutLe32(&record[24], 0x3347504D);       // "MPG3" stored byte-reversed
  bytes::PutLe16(&record[34], 1);                // bytes 32, 33 around it stay 0xFF
  bytes::PutLe32(&record[36], 8000);
  bytes::PutLe32(&record[40], 0xFFFFFFFF);       // bits per second beyond 32 bits
  PropertyHolder decoded;
  ASSERT_EQ(rc::kOk, sardane::DecodeCommonFields(decoded, record.data(), qel::kRecordSize));
  EXPECT_EQ("-1", decoded.GetString("fid"));
  EXPECT_EQ("", decoded.GetString("flags"));
  EXPECT_EQ("tune", decoded.GetString("type"));
  EXPECT_EQ("mp3", decoded.GetString("codec"));
  EXPECT_EQ("8000", decoded.GetString("samplerate"));
  EXPECT_EQ("?m4294967", decoded.GetString("bitrate"));

  bytes::PutLe32(&record[24], TypeCode("ABCD"));
  bytes::PutLe16(&record[34], 7);
  ASSERT_EQ(rc::kOk, sardane::DecodeCommonFields(decoded, record.data(), qel::kRecordSize));
  EXPECT_EQ("ABCD", decoded.GetString("type"));
  EXPECT_EQ("", decoded.GetString("codec"));
  EXPECT_EQ("??4294967", decoded.GetString("bitrate"));
}

TEST(SardaneFileRecordTest, ShortOrMissingRecordsAreRefused) {
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  PropertyHolder decoded;
  decoded.SetString("kept", "yes");
  EXPECT_EQ(rc::kBadData, sardane::DecodeCommonFields(decoded, record.data(), 44));
  EXPECT_EQ(rc::kBadData, sardane::DecodeCommonFields(decoded, record.data(), 0));
  EXPECT_EQ(rc::kInvalidArg, sardane::DecodeCommonFields(decoded, nullptr, qel::kRecordSize));
  EXPECT_EQ("yes", decoded.GetString("kept"));
}

TEST(SardaneFileRecordTest, NamesCutKeepTheirExtension) {
  for (const NameCase& c : kNameCases) {
    SCOPED_TRACE(std::string(c.name) + (c.utf8 ? " utf8" : " latin1"));
    // One byte past the field shows that nothing is written beyond it.
    std::vector<uint8_t> field(c.width + 1, 0xEE);
    sardane::PutFileNameField(field.data(), c.width, c.name, c.utf8);
    EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(c.field), c.width),
              Hex(field.data(), c.width));
    EXPECT_EQ(0xEE, field[c.width]);
    EXPECT_EQ(0, field[c.width - 1]);
  }
}

TEST(SardaneFileRecordTest, NameFieldsReadBackInTheirMode) {
  const struct {
    const char* name;
    bool utf8;
    const char* read;
  } cases[] = {
      {"caf\xc3\xa9.mp3", true, "caf\xc3\xa9.mp3"},
      {"caf\xc3\xa9.mp3", false, "caf\xc3\xa9.mp3"},
      {"\xe2\x82\xac.mp3", false, "\xc2\xbf.mp3"},  // no euro sign in Latin-1
  };
  for (const auto& c : cases) {
    uint8_t field[16];
    sardane::PutFileNameField(field, sizeof field, c.name, c.utf8);
    EXPECT_EQ(c.read, FieldText(field, sizeof field, c.utf8));
  }
}

}  // namespace
