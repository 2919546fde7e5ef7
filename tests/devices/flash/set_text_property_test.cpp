#include "devices/flash/set_text_property.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/property_holder.h"
#include "media/property_set.h"

#include "fixed_text_fields.inc"

namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char pair[4];
  for (unsigned char c : bytes) {
    snprintf(pair, sizeof pair, "%02x ", c);
    out += pair;
  }
  return out;
}

TEST(SetTextPropertyTest, ReadsTheFieldLikePythonsCodecs) {
  for (const FieldReadRow& row : kFieldReads) {
    // Bytes behind the field must never show up in the text.
    std::vector<uint8_t> buffer(row.length + 8, 'Z');
    memcpy(buffer.data(), row.field, row.length);
    RefPtr<PropertySet> set;
    ASSERT_EQ(rc::kOk, PropertySet::Create(&set));
    ASSERT_EQ(rc::kOk, set->AddNew());
    ASSERT_EQ(rc::kOk, SetTextProperty(*set, "name", buffer.data(), row.length, row.utf8));
    EXPECT_EQ(Hex(row.text), Hex(set->GetString("name")))
        << "field " << Hex(std::string(row.field, row.length)) << " utf8 " << row.utf8;
  }
}

TEST(SetTextPropertyTest, HolderFormStoresByName) {
  PropertyHolder holder;
  const uint8_t field[8] = {'K', 0xF6, 'l', 'n', 0, 'x', 'y', 'z'};
  ASSERT_EQ(rc::kOk, SetTextProperty(holder, "city", field, sizeof field, false));
  EXPECT_EQ("K\xC3\xB6ln", holder.GetString("city"));
  ASSERT_EQ(rc::kOk, SetTextProperty(holder, "city", field, 3, false));
  EXPECT_EQ("K\xC3\xB6l", holder.GetString("city"));
}

TEST(PutTextFieldTest, WritesTheFieldLikePythonsCodecs) {
  for (const FieldWriteRow& row : kFieldWrites) {
    // Old bytes in the field and the byte behind it show any overrun or missing fill.
    std::vector<uint8_t> buffer(row.width + 1, 0xEE);
    PutTextField(buffer.data(), row.width, row.text, row.utf8);
    EXPECT_EQ(Hex(std::string(row.field, row.width)),
              Hex(std::string(buffer.begin(), buffer.begin() + row.width)))
        << "text " << Hex(row.text) << " width " << row.width << " utf8 " << row.utf8;
    EXPECT_EQ(0xEE, buffer[row.width]);
  }
}

TEST(PutTextFieldTest, InvalidUtf8BecomesTheLatin1Replacement) {
  uint8_t field[6];
  PutTextField(field, sizeof field, "a\xFF" "b", false);
  EXPECT_EQ(0, memcmp(field, "a\xBF" "b\0\0\0", sizeof field));
}

TEST(PutTextFieldTest, ZeroWidthWritesNothing) {
  uint8_t byte = 0x55;
  PutTextField(&byte, 0, "abc", true);
  PutTextField(&byte, 0, "abc", false);
  EXPECT_EQ(0x55, byte);
}

}  // namespace
