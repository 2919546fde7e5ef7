// Fixed-width text fields of player records: a field holds its text up to the first NUL (or
// the whole width without one), as UTF-8 on players that say so and as Latin-1 on the others.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class PropertyHolder;
class PropertySet;

// The field's text as UTF-8. Never reads past `length` bytes.
std::string FieldText(const uint8_t* field, uint32_t length, bool utf8);

// Stores the field's text under `name` (text setter by name).
Result SetTextProperty(PropertySet& set, const std::string& name, const uint8_t* field,
                       uint32_t length, bool utf8);
Result SetTextProperty(PropertyHolder& holder, const std::string& name, const uint8_t* field,
                       uint32_t length, bool utf8);

// Writes UTF-8 `text` into a field of `width` bytes, always NUL-terminated and zero-filled
// behind the text. UTF-8 players get the text cut at a character boundary; the others get it
// in Latin-1 (what Latin-1 cannot hold becomes 0xBF), cut at width - 1 bytes.
void PutTextField(uint8_t* field, uint32_t width, const std::string& text, bool utf8);
