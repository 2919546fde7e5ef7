// The audio files the end-to-end tests upload, made and read back by the tools at build time
// (flash_end_to_end_fixtures.py).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "flash_end_to_end_fixtures.inc"
#include "support/text_convert.h"

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

// The display name WMDM shows for an uploaded fixture: its title and the file's extension.
inline std::wstring ListedName(const EndToEndAudio& audio) {
  const std::string name = audio.file_name;
  return Utf8ToWideString(audio.title + name.substr(name.rfind('.')));
}

// `value` lies between the two tools' answers, widened by `slack`.
inline void ExpectWithin(uint32_t value, uint32_t a, uint32_t b, uint32_t slack,
                         const char* what) {
  EXPECT_LE(std::min(a, b) - std::min(std::min(a, b), slack), value) << what;
  EXPECT_GE(std::max(a, b) + slack, value) << what;
}
