// The audio files the end-to-end tests upload, made and read back by the tools at build time
// (flash_end_to_end_fixtures.py).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "flash_end_to_end_fixtures.inc"

// The fixture made under `file_name`; fails the test when there is none.
inline const EndToEndAudio& Audio(const char* file_name) {
  for (const EndToEndAudio& audio : kEndToEndAudio)
    if (std::string(audio.file_name) == file_name) return audio;
  ADD_FAILURE() << "no fixture " << file_name;
  return kEndToEndAudio[0];
}

inline std::string Bytes(const EndToEndAudio& audio) {
  return std::string(audio.bytes, audio.size);
}
