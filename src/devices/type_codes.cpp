#include "devices/type_codes.h"

namespace {

constexpr uint32_t Code(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}

struct TypeRow {
  uint32_t code;
  const char* type;
  const char* codec;
};

const TypeRow kTypes[] = {
    {0, "tune", "unknown"},
    {Code("MPG3"), "tune", "mp3"},
    {Code("WMA "), "tune", "wma"},
    {Code("AAC "), "tune", "aac"},
    {Code("ACLP"), "tune", "aclp"},
    {Code("WAVE"), "tune", "wave"},
    {Code("IMA "), "tune", "wave"},
    {Code("BIN "), "binary", ""},
    {Code("PLS "), "playlist", ""},
    {Code("PREF"), "preferences", ""},
    {Code("VUND"), "vund", ""},
};

uint32_t ReverseBytes(uint32_t v) {
  return v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;
}

}  // namespace

Result TypeCodeToNames(uint32_t code, std::string* type, std::string* codec) {
  for (const TypeRow& row : kTypes) {
    if (row.code != code) continue;
    *type = row.type;
    *codec = row.codec;
    return rc::kOk;
  }
  return rc::kFail;
}

void DescribeTypeCode(uint32_t code, std::string* type, std::string* codec) {
  if (rc::Succeeded(TypeCodeToNames(code, type, codec))) return;
  if (rc::Succeeded(TypeCodeToNames(ReverseBytes(code), type, codec))) return;
  type->clear();
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>(code >> shift & 0xFF);
    if (c == '\0') break;
    type->push_back(c);
  }
  codec->clear();
}
