// The fold values behind FoldForCollation, generated from the Unicode character data.
#pragma once

#include <cstdint>

constexpr uint16_t kCollationFoldBasicFirst = 0x0030;
constexpr uint16_t kCollationFoldBasicLast = 0x0500;
constexpr uint16_t kCollationFoldWideFirst = 0xFF01;
constexpr uint16_t kCollationFoldWideLast = 0xFF9F;

extern const uint16_t kCollationFoldBasic[kCollationFoldBasicLast - kCollationFoldBasicFirst + 1];
extern const uint16_t kCollationFoldWide[kCollationFoldWideLast - kCollationFoldWideFirst + 1];
