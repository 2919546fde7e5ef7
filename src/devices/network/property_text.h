// The text form in which network players exchange property sets: one line per property, the
// name, '=', the escaped value and a line feed.
#pragma once

#include <string>

#include "media/property_set.h"
#include "support/result_codes.h"

// Every property of the set in column order. A property whose name is empty or holds '=', a
// line feed or a NUL cannot be written in this form and is left out.
std::string EncodePropertyText(PropertySet& properties);

// Stores into `target` (by name) every line whose name and unescaped value are both non-empty;
// a line without '=' is skipped. The first failed store is returned.
Result DecodePropertyText(const std::string& text, PropertySet& target);
