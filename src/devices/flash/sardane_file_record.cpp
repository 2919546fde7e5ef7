#include "devices/flash/sardane_file_record.h"

#include <algorithm>
#include <cstring>

#include "devices/flash/protocol_session.h"
#include "devices/flash/sardane_records.h"
#include "devices/flash/set_text_property.h"
#include "devices/flash/type_codes.h"
#include "media/bitrate_text.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/byte_order.h"
#include "support/debug_trace.h"
#include "support/text_convert.h"

namespace sardane {

namespace {

uint32_t Number(PropertySet& file, const char* name) {
  return static_cast<uint32_t>(file.GetInt(name));
}

Result SetNumber(PropertyHolder& file, const char* name, uint32_t value) {
  // Kept as the 32 bits the player stores, so a record written back carries the same value.
  return file.SetInt(name, static_cast<int32_t>(value));
}

}  // namespace

void EncodeCommonFields(uint8_t* record, PropertySet& file) {
  const std::string type = file.GetString("type");
  // A set text need not begin or end with ';'.
  const std::string flag_words = ";" + file.GetString("flags") + ";";
  uint32_t flags = kFlagsAlways;
  if (type == "tune") flags |= kFlagsTune;
  if (ListHasWord(flag_words, "autosync")) flags |= kFlagAutosync;
  if (ListHasWord(flag_words, "recorded")) flags |= kFlagRecorded;

  const uint32_t code = NamesToTypeCode(type, file.GetString("codec"));
  if (code == 0) TORVEX_TRACE("Unknown file type\n");

  const std::string bitrate = file.GetString("bitrate");
  uint32_t channels = 0, bits_per_second = 0;
  if (rc::Failed(BitrateText::GetChannels(bitrate, &channels))) channels = 0;
  if (rc::Failed(BitrateText::GetBitsPerSecond(bitrate, &bits_per_second))) bits_per_second = 0;

  bytes::PutLe32(record + kFidOffset, Number(file, "fid"));
  bytes::PutLe32(record + kLengthOffset, Number(file, "length"));
  bytes::PutLe32(record + kDurationOffset, Number(file, "duration"));
  bytes::PutLe32(record + kCtimeOffset, Number(file, "ctime"));
  bytes::PutLe32(record + kFlagsOffset, flags);
  bytes::PutLe32(record + kTypeCodeOffset, code);
  bytes::PutLe16(record + kChannelsOffset, static_cast<uint16_t>(channels));
  bytes::PutLe32(record + kSampleRateOffset, Number(file, "samplerate"));
  bytes::PutLe32(record + kByteRateOffset, bits_per_second / 8);
}

Result DecodeCommonFields(PropertyHolder& file, const uint8_t* record, uint32_t length) {
  if (record == nullptr) return rc::kInvalidArg;
  if (length < qel::kRecordSize) return rc::kBadData;
  Result result = file.Clear();
  if (rc::Failed(result)) return result;

  const uint32_t flags = bytes::Le32(record + kFlagsOffset);
  std::string flag_words;
  if (flags & kFlagRecorded) AppendWord(&flag_words, "recorded");
  if (flags & kFlagAutosync) AppendWord(&flag_words, "autosync");

  std::string bitrate;
  BitrateText::SetChannels(&bitrate, bytes::Le16(record + kChannelsOffset));
  // Bytes per second from the player; a rate beyond 32 bits of bits per second is capped.
  const uint64_t bits = uint64_t{bytes::Le32(record + kByteRateOffset)} * 8;
  BitrateText::SetBitsPerSecond(&bitrate,
                                static_cast<uint32_t>(std::min<uint64_t>(bits, UINT32_MAX)));

  std::string type, codec;
  DescribeTypeCode(bytes::Le32(record + kTypeCodeOffset), &type, &codec);

  const auto number = [record](uint32_t offset) { return bytes::Le32(record + offset); };
  result = SetNumber(file, "fid", number(kFidOffset));
  if (rc::Succeeded(result)) result = SetNumber(file, "length", number(kLengthOffset));
  if (rc::Succeeded(result)) result = SetNumber(file, "duration", number(kDurationOffset));
  if (rc::Succeeded(result)) result = file.SetString("bitrate", bitrate);
  if (rc::Succeeded(result)) result = SetNumber(file, "samplerate", number(kSampleRateOffset));
  if (rc::Succeeded(result)) result = SetNumber(file, "ctime", number(kCtimeOffset));
  if (rc::Succeeded(result)) result = file.SetString("flags", flag_words);
  if (rc::Succeeded(result)) result = file.SetString("type", type);
  if (rc::Succeeded(result)) result = file.SetString("codec", codec);
  return result;
}

void PutFileNameField(uint8_t* field, uint32_t width, const std::string& name, bool utf8) {
  if (field == nullptr || width == 0) return;
  const std::string text = utf8 ? name : Utf8ToLatin1(name);
  const size_t dot = text.rfind('.');
  // A name that fits, or whose extension alone fills the field, is cut as any text.
  if (text.size() < width || dot == std::string::npos || text.size() - dot >= width) {
    PutTextField(field, width, name, utf8);
    return;
  }
  const size_t extension = text.size() - dot;
  // The extension is shorter than the field and the name is not, so room < dot.
  const size_t room = width - 1 - extension;
  const size_t stem = utf8 ? Utf8BoundedLength(text.c_str(), room) : room;
  memset(field, 0, width);
  memcpy(field, text.data(), stem);
  memcpy(field + stem, text.data() + dot, extension);
}

}  // namespace sardane
