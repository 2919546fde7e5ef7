// The ID3v1 / ID3v1.1 tag in the last 128 bytes of an MP3 file.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class SeekableStream;

constexpr uint32_t kId3v1Size = 128;

struct Id3v1Tag {
  // Cut at the first NUL, trailing spaces removed, converted from the ANSI code page to UTF-8.
  std::string title;
  std::string artist;
  std::string album;
  std::string year;
  std::string comment;
  uint8_t track = 0;  // ID3v1.1 track number, 0 when absent
  int8_t genre = -1;  // the genre byte taken as signed
};

// Decodes a 128-byte block; false when it does not start with "TAG".
bool ParseId3v1(const uint8_t* block, Id3v1Tag* tag);

// Reads the tag at the end of a stream of `stream_size` bytes. *found is false for a stream
// shorter than 128 bytes or without a tag; the result is the read's failure, else 0.
Result ReadId3v1(SeekableStream* stream, uint32_t stream_size, Id3v1Tag* tag, bool* found);
