// The genre names of ID3v1 genre bytes and of "(n)" references in ID3v2 content-type frames.
#pragma once

#include <cstdint>
#include <string>

constexpr int32_t kId3GenreCount = 149;

// The table's name, or an empty text for an index outside 0..148.
std::string GenreName(int32_t index);
// The first index whose name equals `name` case-insensitively, or -1.
int32_t GenreNumber(const std::string& name);
