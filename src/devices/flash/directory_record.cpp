#include "devices/flash/directory_record.h"

#include "devices/flash/sardane_file_record.h"
#include "devices/flash/sardane_records.h"
#include "devices/flash/set_text_property.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/byte_order.h"

namespace sardane {

namespace {

struct TextField {
  const char* name;
  uint32_t offset;
};

// Fields read and written in the record's text mode ("name" and "title" have rules of their own).
constexpr TextField kPlainTextFields[] = {
    {"directory", kDirectoryOffset},
    {"artist", kArtistOffset},
    {"source", kSourceOffset},
    {"misc", kMiscOffset},
};

}  // namespace

void EncodeDirectoryRecord(uint8_t* record, PropertySet& file, bool utf8) {
  EncodeCommonFields(record, file);
  if (utf8) bytes::PutLe32(record + kFlagsOffset, bytes::Le32(record + kFlagsOffset) | kFlagUtf8Text);

  const std::string name = file.GetString("name");
  PutFileNameField(record + kNameOffset, kTextFieldWidth, name, utf8);
  const std::string title = file.GetString("title");
  PutTextField(record + kTitleOffset, kTextFieldWidth, title.empty() ? name : title, utf8);
  for (const TextField& field : kPlainTextFields)
    PutTextField(record + field.offset, kTextFieldWidth, file.GetString(field.name), utf8);

  HexToBytes(file.GetString("rid"), record + kRidOffset, kRidSize);
  bytes::PutLe32(record + kFidGenerationOffset,
                 static_cast<uint32_t>(file.GetInt("fid_generation")));
}

Result DecodeDirectoryRecord(PropertyHolder& file, const uint8_t* record, uint32_t length) {
  Result result = DecodeCommonFields(file, record, length);
  if (rc::Failed(result)) return result;
  const uint32_t flags = bytes::Le32(record + kFlagsOffset);
  const bool utf8 = (flags & kFlagUtf8Text) != 0;
  // A pictured title carries its text unconverted, so the PC gets it back as it sent it.
  const bool title_utf8 = utf8 || (flags & kFlagTitlePicture) != 0;

  result = SetTextProperty(file, "name", record + kNameOffset, kTextFieldWidth, utf8);
  for (const TextField& field : kPlainTextFields)
    if (rc::Succeeded(result))
      result = SetTextProperty(file, field.name, record + field.offset, kTextFieldWidth, utf8);
  if (rc::Succeeded(result))
    result = SetTextProperty(file, "title", record + kTitleOffset, kTextFieldWidth, title_utf8);
  if (rc::Succeeded(result)) result = file.SetString("rid", HexText(record + kRidOffset, kRidSize));
  if (rc::Succeeded(result))
    result = file.SetInt("fid_generation",
                         static_cast<int32_t>(bytes::Le32(record + kFidGenerationOffset)));
  return result;
}

}  // namespace sardane
