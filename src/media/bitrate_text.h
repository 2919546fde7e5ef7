// The "bitrate" property text: 'f' (fixed) or 'v' (variable), 'm' (one channel) or 's' (two),
// '?' where unknown, then the rate in kbit/s in decimal ("fs128", "vm96").
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class BitrateText {
 public:
  // The getters answer rc::kBadData for texts under 3 characters or with other letters.
  static Result IsVariable(const std::string& text, bool* variable);
  static Result GetChannels(const std::string& text, uint32_t* channels);
  // The number from character 2 on, read as strtoul does with base 0 ("0x80" is 128), times
  // 1000. No digits, or a rate beyond 32 bits: rc::kBadData.
  static Result GetBitsPerSecond(const std::string& text, uint32_t* bits_per_second);

  // An empty text becomes the one letter.
  static void SetVariable(std::string* text, bool variable);
  // Pads with '?' to two characters; counts other than 1 and 2 write '?'.
  static void SetChannels(std::string* text, uint32_t channels);
  // Pads with '?' to two characters and replaces the rest by the rate in kbit/s.
  static void SetBitsPerSecond(std::string* text, uint32_t bits_per_second);
};
