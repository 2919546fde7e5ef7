// Audio files made by Debian's encoders (lame with id3v2, flac, oggenc, sox) when the tests
// are built, with their tags as mutagen reads them.
#pragma once

#include <string>

struct EndToEndAudio {
  const char* kind;  // "mp3", "flac", "ogg", "wav" (untagged)
  unsigned size;
  const char* bytes;
  const char* title;
  const char* artist;
  const char* album;
  const char* tracknr;

  std::string Bytes() const { return std::string(bytes, size); }
};

// The file of that kind; the test fails when there is none.
const EndToEndAudio& AudioFixture(const std::string& kind);
