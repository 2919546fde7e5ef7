// The "flags" text of a hard-disk player's file and the database column "options" behind it:
// bit 0x400 is the set item "autosync".
#pragma once

#include <cstdint>
#include <string>

class PropertySet;

constexpr uint32_t kOptionAutoSync = 0x400;

// ";autosync;" when the bit is set, else the empty text.
std::string FlagsFromOptions(uint32_t options);
// Sets or clears the bit from the properties' "flags" (';'-delimited, the delimiters at its ends
// optional); the other bits stay as they are.
uint32_t ApplyFlagsToOptions(PropertySet& properties, uint32_t options);
