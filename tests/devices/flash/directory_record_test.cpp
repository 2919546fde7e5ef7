#include "devices/flash/directory_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "devices/flash/protocol_session.h"
#include "devices/flash/sardane_file_record.h"
#include "devices/flash/set_text_property.h"
#include "media/property_holder.h"
#include "media/property_set.h"

#include "directory_records.inc"

namespace {

constexpr uint32_t kRegionStart = 72, kRegionEnd = 512;

RefPtr<PropertySet> PropsOf(const DirectoryRecordRow& row) {
  RefPtr<PropertySet> set;
  EXPECT_EQ(rc::kOk, PropertySet::Create(&set));
  EXPECT_EQ(rc::kOk, set->AddNew());
  set->SetString("name", row.name);
  set->SetString("title", row.title);
  set->SetString("artist", row.artist);
  set->SetString("source", row.source);
  set->SetString("misc", row.misc);
  set->SetString("directory", row.directory);
  set->SetString("rid", row.rid);
  set->SetInt("fid_generation", static_cast<int32_t>(row.generation));
  return set;
}

TEST(DirectoryRecordTest, EncodesTheFieldsAsAnIndependentCodecDoes) {
  for (const DirectoryRecordRow& row : kDirectoryRecords) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> record(qel::kRecordSize, 0);
    sardane::EncodeDirectoryRecord(record.data(), *PropsOf(row), row.utf8);
    EXPECT_EQ(std::string(row.region, kRegionEnd - kRegionStart),
              std::string(reinterpret_cast<const char*>(&record[kRegionStart]),
                          kRegionEnd - kRegionStart));
    const uint32_t flags = record[20] | record[21] << 8 | record[22] << 16 |
                           static_cast<uint32_t>(record[23]) << 24;
    EXPECT_EQ(row.utf8, (flags & sardane::kFlagUtf8Text) != 0);
    EXPECT_EQ(0u, flags & sardane::kFlagTitlePicture);
    for (uint32_t i = kRegionEnd; i < qel::kRecordSize; ++i) ASSERT_EQ(0, record[i]) << i;

    // Decoding gives each field as it was stored.
    PropertyHolder back;
    ASSERT_EQ(rc::kOk, sardane::DecodeDirectoryRecord(back, record.data(), qel::kRecordSize));
    const struct {
      const char* key;
      uint32_t offset;
    } fields[] = {{"directory", 128}, {"name", 192}, {"title", 256},
                  {"artist", 320},    {"source", 384}, {"misc", 448}};
    for (const auto& field : fields)
      EXPECT_EQ(FieldText(&record[field.offset], 64, row.utf8), back.GetString(field.key))
          << field.key;
    EXPECT_EQ(static_cast<int32_t>(row.generation), back.GetSet()->GetInt("fid_generation"));
    std::string rid = row.rid;
    rid.resize(32, '0');
    EXPECT_EQ(rid, back.GetString("rid"));
  }
}

TEST(DirectoryRecordTest, APicturedTitleIsReadAsUtf8InALatin1Record) {
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  record[20] = 0x00, record[22] = 0x40;  // title picture, Latin-1 texts
  memcpy(&record[256], "Caf\xC3\xA9", 5);
  memcpy(&record[320], "Caf\xE9", 4);
  PropertyHolder back;
  ASSERT_EQ(rc::kOk, sardane::DecodeDirectoryRecord(back, record.data(), qel::kRecordSize));
  EXPECT_EQ("Caf\xC3\xA9", back.GetString("title"));
  EXPECT_EQ("Caf\xC3\xA9", back.GetString("artist"));
}

TEST(DirectoryRecordTest, FieldsWithoutTerminatorStopAtTheirWidth) {
  std::vector<uint8_t> record(qel::kRecordSize, 'A');
  memset(record.data(), 0, 72);
  PropertyHolder back;
  ASSERT_EQ(rc::kOk, sardane::DecodeDirectoryRecord(back, record.data(), qel::kRecordSize));
  EXPECT_EQ(std::string(64, 'A'), back.GetString("name"));
  EXPECT_EQ(std::string(64, 'A'), back.GetString("misc"));
  EXPECT_EQ(rc::kBadData, sardane::DecodeDirectoryRecord(back, record.data(), 100));
}

}  // namespace
