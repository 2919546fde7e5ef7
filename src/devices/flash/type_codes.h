// The 4-character codes by which flash players name a file's type in their records and in
// their list of supported formats. A code's four bytes, most significant first, spell the
// characters ("MPG3" is 0x4D504733).
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

// rc::kFail for a code outside the table (type and codec are then left alone).
Result TypeCodeToNames(uint32_t code, std::string* type, std::string* codec);

// The code of four characters ("MPG3" -> 0x4D504733).
constexpr uint32_t TypeCode(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}
// As TypeCodeToNames, also for codes that a player stores byte-reversed; a code still unknown
// gives its own characters as the type and an empty codec.
void DescribeTypeCode(uint32_t code, std::string* type, std::string* codec);
// The code a player is to store for a file of `type` and `codec`; 0 when the player has none
// (wave files, preferences and unknown names included).
uint32_t NamesToTypeCode(const std::string& type, const std::string& codec);
