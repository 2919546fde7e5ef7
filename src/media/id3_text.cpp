#include "media/id3_text.h"

#include "media/utf8_clean.h"
#include "support/text_convert.h"

namespace {

bool IsWide(uint8_t encoding) { return encoding == kId3Utf16 || encoding == kId3Utf16Be; }

}  // namespace

std::string RemoveUnsynchronisation(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    out.push_back(bytes[i]);
    if (static_cast<uint8_t>(bytes[i]) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == '\0') ++i;
  }
  return out;
}

namespace {

bool DecodeUnchecked(uint8_t encoding, const char* data, size_t size, std::string* text) {
  switch (encoding) {
    case kId3Latin1:
      *text = Latin1ToUtf8(std::string(data, size));
      return true;
    case kId3Utf16:
      *text = WideToUtf8String(WideFromCountedBuffer(data, size / 2));
      return true;
    case kId3Utf16Be: {
      std::string swapped(data, size & ~static_cast<size_t>(1));
      for (size_t i = 0; i < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
      *text = WideToUtf8String(WideFromCountedBuffer(swapped.data(), swapped.size() / 2));
      return true;
    }
    case kId3Utf8:
      *text = std::string(data, size).c_str();
      return true;
    default:
      return false;
  }
}

}  // namespace

bool DecodeId3Text(uint8_t encoding, const char* data, size_t size, std::string* text) {
  // UTF-8 as stored and unpaired UTF-16 surrogates come out as U+FFFD.
  if (!DecodeUnchecked(encoding, data, size, text)) return false;
  *text = CleanUtf8(*text);
  return true;
}

std::string DecodeId3TextFrame(const std::string& body) {
  std::string text;
  if (!body.empty())
    DecodeId3Text(static_cast<uint8_t>(body[0]), body.data() + 1, body.size() - 1, &text);
  return text;
}

size_t SkipId3String(uint8_t encoding, const std::string& body, size_t offset) {
  if (IsWide(encoding)) {
    for (size_t i = offset; i + 1 < body.size(); i += 2) {
      if (body[i] == '\0' && body[i + 1] == '\0') return i + 2;
    }
    return std::string::npos;
  }
  const size_t zero = body.find('\0', offset);
  return zero == std::string::npos ? zero : zero + 1;
}

bool DecodeId3CommentFrame(const std::string& body, std::string* comment) {
  constexpr size_t kDescriptionOffset = 4;  // encoding byte and three-letter language
  if (body.size() < kDescriptionOffset + 1) return false;
  const auto encoding = static_cast<uint8_t>(body[0]);
  const size_t text = SkipId3String(encoding, body, kDescriptionOffset);
  if (text == std::string::npos || text >= body.size()) return false;
  return DecodeId3Text(encoding, body.data() + text, body.size() - text, comment);
}

bool DecodeId3CommentDescription(const std::string& body, std::string* description) {
  constexpr size_t kDescriptionOffset = 4;
  description->clear();
  if (body.size() < kDescriptionOffset + 1) return false;
  const auto encoding = static_cast<uint8_t>(body[0]);
  const size_t end = SkipId3String(encoding, body, kDescriptionOffset);
  if (end == std::string::npos) return false;
  const size_t length = end - kDescriptionOffset - (IsWide(encoding) ? 2 : 1);
  return DecodeId3Text(encoding, body.data() + kDescriptionOffset, length, description);
}

size_t Id3PictureDataOffset(uint8_t major, const std::string& body) {
  if (body.empty()) return std::string::npos;
  const auto encoding = static_cast<uint8_t>(body[0]);
  size_t type = major <= 2 ? 4 : SkipId3String(kId3Latin1, body, 1);
  if (type == std::string::npos || type >= body.size()) return std::string::npos;
  return SkipId3String(encoding, body, type + 1);
}
