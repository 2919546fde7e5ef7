// The 4-character codes by which flash players name a file's type in their records and in
// their list of supported formats. A code's four bytes, most significant first, spell the
// characters ("MPG3" is 0x4D504733).
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

// rc::kFail for a code outside the table (type and codec are then left alone).
Result TypeCodeToNames(uint32_t code, std::string* type, std::string* codec);
// As TypeCodeToNames, also for codes that a player stores byte-reversed; a code still unknown
// gives its own characters as the type and an empty codec.
void DescribeTypeCode(uint32_t code, std::string* type, std::string* codec);
