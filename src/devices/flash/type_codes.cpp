#include "devices/flash/type_codes.h"

#include <cstddef>

namespace {

struct TypeRow {
  uint32_t code;
  const char* type;
  const char* codec;
};

const TypeRow kTypes[] = {
    {0, "tune", "unknown"},
    {TypeCode("MPG3"), "tune", "mp3"},
    {TypeCode("WMA "), "tune", "wma"},
    {TypeCode("AAC "), "tune", "aac"},
    {TypeCode("ACLP"), "tune", "aclp"},
    {TypeCode("WAVE"), "tune", "wave"},
    {TypeCode("IMA "), "tune", "wave"},
    {TypeCode("BIN "), "binary", ""},
    {TypeCode("PLS "), "playlist", ""},
    {TypeCode("PREF"), "preferences", ""},
    {TypeCode("VUND"), "vund", ""},
};

struct NameRow {
  const char* name;
  uint32_t code;
};

const NameRow kTuneCodecs[] = {
    {"mp3", TypeCode("MPG3")},
    {"wma", TypeCode("WMA ")},
    {"aac", TypeCode("AAC ")},
    {"aclp", TypeCode("ACLP")},
};

const NameRow kOtherTypes[] = {
    {"i2c", TypeCode("QELX")},
    {"binary", TypeCode("BIN ")},
    {"playlist", TypeCode("PLS ")},
    {"vund", TypeCode("VUND")},
};

template <size_t N>
uint32_t FindCode(const NameRow (&rows)[N], const std::string& name) {
  for (const NameRow& row : rows)
    if (name == row.name) return row.code;
  return 0;
}

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

uint32_t NamesToTypeCode(const std::string& type, const std::string& codec) {
  return type == "tune" ? FindCode(kTuneCodecs, codec) : FindCode(kOtherTypes, type);
}
