// Text taken from a file reaches the property sets as well-formed UTF-8: what a tag holds is
// not trusted to be.
#pragma once

#include <cstddef>
#include <string>

// `size` bytes of text as UTF-8 in which every malformed or overlong sequence, every
// surrogate code point and every value above U+10FFFF is replaced by U+FFFD. A NUL byte is
// kept (callers that end a text at one do so themselves).
std::string CleanUtf8(const char* text, size_t size);
std::string CleanUtf8(const std::string& text);
