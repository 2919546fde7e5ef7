#include "devices/flash/set_text_property.h"

#include <algorithm>
#include <cstring>

#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/text_convert.h"

std::string FieldText(const uint8_t* field, uint32_t length, bool utf8) {
  if (field == nullptr) return std::string();
  const void* nul = memchr(field, 0, length);
  const size_t size = nul != nullptr ? static_cast<const uint8_t*>(nul) - field : length;
  std::string text(reinterpret_cast<const char*>(field), size);
  return utf8 ? text : Latin1ToUtf8(text);
}

Result SetTextProperty(PropertySet& set, const std::string& name, const uint8_t* field,
                       uint32_t length, bool utf8) {
  return set.SetString(name, FieldText(field, length, utf8));
}

Result SetTextProperty(PropertyHolder& holder, const std::string& name, const uint8_t* field,
                       uint32_t length, bool utf8) {
  return holder.SetString(name, FieldText(field, length, utf8));
}

void PutTextField(uint8_t* field, uint32_t width, const std::string& text, bool utf8) {
  if (field == nullptr || width == 0) return;
  memset(field, 0, width);
  if (utf8) {
    CopyUtf8Bounded(reinterpret_cast<char*>(field), text.c_str(), width);
    return;
  }
  const std::string latin1 = Utf8ToLatin1(text);
  memcpy(field, latin1.data(), std::min<size_t>(latin1.size(), width - 1));
}
