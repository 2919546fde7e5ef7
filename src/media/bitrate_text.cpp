#include "media/bitrate_text.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr size_t kMinLength = 3;

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

void PadToTwo(std::string* text) {
  if (text->size() < 2) text->resize(2, '?');
}

}  // namespace

Result BitrateText::IsVariable(const std::string& text, bool* variable) {
  if (text.size() < kMinLength) return rc::kBadData;
  switch (Lower(text[0])) {
    case 'f': *variable = false; return rc::kOk;
    case 'v': *variable = true; return rc::kOk;
    default: return rc::kBadData;
  }
}

Result BitrateText::GetChannels(const std::string& text, uint32_t* channels) {
  if (text.size() < kMinLength) return rc::kBadData;
  switch (Lower(text[1])) {
    case 'm': *channels = 1; return rc::kOk;
    case 's': *channels = 2; return rc::kOk;
    default: return rc::kBadData;
  }
}

Result BitrateText::GetBitsPerSecond(const std::string& text, uint32_t* bits_per_second) {
  if (text.size() < kMinLength) return rc::kBadData;
  const char* digits = text.c_str() + 2;
  char* end = nullptr;
  errno = 0;
  const unsigned long long kbits = std::strtoull(digits, &end, 0);
  if (end == digits) return rc::kBadData;
  // A rate that does not fit would wrap into a plausible but wrong value.
  if (errno == ERANGE || kbits > UINT32_MAX / 1000) return rc::kBadData;
  *bits_per_second = static_cast<uint32_t>(kbits * 1000);
  return rc::kOk;
}

void BitrateText::SetVariable(std::string* text, bool variable) {
  const char letter = variable ? 'v' : 'f';
  if (text->empty()) {
    *text = letter;
  } else {
    (*text)[0] = letter;
  }
}

void BitrateText::SetChannels(std::string* text, uint32_t channels) {
  PadToTwo(text);
  (*text)[1] = channels == 1 ? 'm' : channels == 2 ? 's' : '?';
}

void BitrateText::SetBitsPerSecond(std::string* text, uint32_t bits_per_second) {
  PadToTwo(text);
  text->resize(2);
  text->append(std::to_string(bits_per_second / 1000));
}
