#include "media/id3v23_frames.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "media/id3_text.h"
#include "support/byte_order.h"
#include "support/text_convert.h"

namespace {

using Texts = std::vector<std::string>;

// Status flags (first flag byte) of 2.4 frames and their 2.3 places.
constexpr uint8_t kDiscardOnTagChange24 = 0x40;
constexpr uint8_t kDiscardOnFileChange24 = 0x20;
constexpr uint8_t kReadOnly24 = 0x10;
constexpr uint8_t kDiscardOnFileChange23 = 0x40;
constexpr uint8_t kReadOnly23 = 0x20;

// Format flags (second flag byte) of 2.4 frames and their 2.3 places.
constexpr uint8_t kGrouped24 = 0x40;
constexpr uint8_t kCompressed24 = 0x08;
constexpr uint8_t kEncrypted24 = 0x04;
constexpr uint8_t kDataLength24 = 0x01;
constexpr uint8_t kCompressed23 = 0x80;
constexpr uint8_t kEncrypted23 = 0x40;
constexpr uint8_t kGrouped23 = 0x20;

// Frames of 2.4 that describe the audio in a way 2.3 cannot.
const char* const kNoCounterpart[] = {"ASPI", "EQU2", "RVA2", "SEEK", "SIGN"};
// 2.4 times without a 2.3 frame of their own.
const char* const kTimesAsUserText[] = {"TDEN", "TDRL", "TDTG"};
// Frames that carry text in their own layout; kept as they are when the text is already in a
// 2.3 encoding.
const char* const kOtherTextLayouts[] = {"COMR", "OWNE", "SYLT"};

bool IsOneOf(const std::string& id, const char* const* ids, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (id == ids[i]) return true;
  }
  return false;
}

template <size_t N>
bool IsOneOf(const std::string& id, const char* const (&ids)[N]) {
  return IsOneOf(id, ids, N);
}

// The 2.3 status flags of a 2.4 frame; false when it asks to go as the tag changes.
bool StatusFor23(uint8_t status24, uint8_t* status23) {
  *status23 = 0;
  if (status24 & kDiscardOnTagChange24) return false;
  if (status24 & kDiscardOnFileChange24) *status23 |= kDiscardOnFileChange23;
  if (status24 & kReadOnly24) *status23 |= kReadOnly23;
  return true;
}

bool IsWide(uint8_t encoding) { return encoding == kId3Utf16 || encoding == kId3Utf16Be; }

// Decodes the string at *offset and moves behind its terminator (or to the end).
std::string TakeString(uint8_t encoding, const std::string& body, size_t* offset) {
  const size_t end = SkipId3String(encoding, body, *offset);
  const size_t stop = end == std::string::npos ? body.size() : end - (IsWide(encoding) ? 2 : 1);
  std::string text;
  if (stop > *offset) DecodeId3Text(encoding, body.data() + *offset, stop - *offset, &text);
  *offset = end == std::string::npos ? body.size() : end;
  return text;
}

// The values from offset on: 2.4 separates the values of a text frame with terminators; 2.2
// has one value, and what follows its terminator is no text.
Texts TakeValues(uint8_t major, uint8_t encoding, const std::string& body, size_t offset) {
  Texts texts;
  while (offset < body.size()) {
    texts.push_back(TakeString(encoding, body, &offset));
    if (major <= 2) break;
  }
  return texts;
}

std::string Joined(const Texts& texts, const char* separator) {
  std::string out;
  for (const std::string& text : texts) {
    if (text.empty()) continue;
    if (!out.empty()) out += separator;
    out += text;
  }
  return out;
}

uint8_t EncodingFor(const Texts& texts) {
  for (const std::string& text : texts) {
    if (ClassifyUtf8Text(text) >= kTextBeyondLatin1) return kId3Utf16;
  }
  return kId3Latin1;
}

std::string Encoded(uint8_t encoding, const std::string& text, bool terminated) {
  std::string out;
  if (encoding == kId3Latin1) {
    out = Utf8ToLatin1(text);
  } else if (!text.empty()) {
    for (const wchar_t unit : EnsureByteOrderMark(Utf8ToWideString(text))) {
      out += static_cast<char>(unit & 0xFF);
      out += static_cast<char>((unit >> 8) & 0xFF);
    }
  }
  if (terminated) out.append(encoding == kId3Latin1 ? 1 : 2, '\0');
  return out;
}

bool AllDigits(const std::string& text, size_t from, size_t count) {
  if (text.size() < from + count) return false;
  for (size_t i = from; i < from + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// A 2.4 timestamp (yyyy-MM-ddTHH:mm:ss, cut anywhere) as 2.3's year, DDMM date and HHMM time.
void AppendRecordingTime(const std::string& time, std::vector<Id3v23Part>* parts, uint8_t status) {
  if (!AllDigits(time, 0, 4)) return;
  parts->push_back({"TYER", Id3TextBody(time.substr(0, 4)), status});
  if (time.size() < 10 || time[4] != '-' || time[7] != '-' || !AllDigits(time, 5, 2) ||
      !AllDigits(time, 8, 2))
    return;
  parts->push_back({"TDAT", Id3TextBody(time.substr(8, 2) + time.substr(5, 2)), status});
  if (time.size() < 16 || time[10] != 'T' || time[13] != ':' || !AllDigits(time, 11, 2) ||
      !AllDigits(time, 14, 2))
    return;
  parts->push_back({"TIME", Id3TextBody(time.substr(11, 2) + time.substr(14, 2)), status});
}

bool IsGenreCode(const std::string& text) {
  return (!text.empty() && AllDigits(text, 0, text.size())) || text == "RX" || text == "CR";
}

// Whether a content type begins with a reference in 2.3's form: "(13)", "(RX)", "(17)Rock".
bool BeginsWithGenreReference(const std::string& value) {
  const size_t close = value.find(')');
  return !value.empty() && value[0] == '(' && close != std::string::npos &&
         IsGenreCode(value.substr(1, close - 1));
}

// 2.2's content type has 2.3's form already. 2.4 genres may be bare numbers (and "RX", "CR"),
// which 2.3 puts in parentheses; a value that begins with a reference stays one, and only a
// parenthesis that opens plain text is doubled.
std::string GenreFor23(uint8_t major, const Texts& values) {
  if (major <= 2) return values[0];
  std::string references;
  Texts names;
  for (const std::string& value : values) {
    if (value.empty()) continue;
    if (IsGenreCode(value)) {
      references += "(" + value + ")";
    } else {
      const bool literal = value[0] == '(' && !BeginsWithGenreReference(value);
      names.push_back(literal ? "(" + value : value);
    }
  }
  return references + Joined(names, "/");
}

std::string PictureMimeType(const std::string& format) {
  std::string lower;
  for (const char c : format)
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "jpg") return "image/jpeg";
  if (lower.empty() || lower == "-->") return lower;
  return "image/" + lower;
}

// A picture (APIC, or 2.2's PIC with its 3-letter format) or an encapsulated object (GEOB):
// a Latin-1 MIME type, for pictures the picture type, one or two terminated strings in the
// frame's encoding, then the data. Empty when the body ends early.
std::string ConvertObject(const std::string& id, uint8_t major, const std::string& body) {
  const auto encoding = static_cast<uint8_t>(body[0]);
  std::string mime;
  size_t at = 1;
  if (major <= 2 && id == "APIC") {
    if (body.size() < 4) return "";
    mime = PictureMimeType(body.substr(1, 3));
    at = 4;
  } else {
    const size_t end = body.find('\0', 1);
    if (end == std::string::npos) return "";
    mime = body.substr(1, end - 1);
    at = end + 1;
  }
  std::string type;
  if (id == "APIC") {
    if (at >= body.size()) return "";
    type = body.substr(at++, 1);
  }
  Texts texts{TakeString(encoding, body, &at)};
  if (id == "GEOB") texts.push_back(TakeString(encoding, body, &at));
  const uint8_t out = EncodingFor(texts);
  std::string converted = std::string(1, static_cast<char>(out)) + mime + '\0' + type;
  for (const std::string& text : texts) converted += Encoded(out, text, true);
  return converted + body.substr(std::min(at, body.size()));
}

// COMM and USLT: encoding, language, terminated description, text; USER: no description.
std::string ConvertLanguageText(const std::string& id, const std::string& body) {
  if (body.size() < 4) return "";
  const auto encoding = static_cast<uint8_t>(body[0]);
  size_t at = 4;
  Texts texts;
  if (id != "USER") texts.push_back(TakeString(encoding, body, &at));
  texts.push_back(TakeString(encoding, body, &at));
  const uint8_t out = EncodingFor(texts);
  std::string converted = std::string(1, static_cast<char>(out)) + body.substr(1, 3);
  for (size_t i = 0; i < texts.size(); ++i)
    converted += Encoded(out, texts[i], i + 1 < texts.size());
  return converted;
}

// TXXX (description and value) and WXXX (description and a Latin-1 link).
std::string ConvertUserFrame(const std::string& id, uint8_t major, const std::string& body) {
  const auto encoding = static_cast<uint8_t>(body[0]);
  size_t at = 1;
  const std::string description = TakeString(encoding, body, &at);
  if (id == "WXXX") {
    const uint8_t out = EncodingFor({description});
    return std::string(1, static_cast<char>(out)) + Encoded(out, description, true) +
           body.substr(at);
  }
  const std::string value = Joined(TakeValues(major, encoding, body, at), "/");
  const uint8_t out = EncodingFor({description, value});
  return std::string(1, static_cast<char>(out)) + Encoded(out, description, true) +
         Encoded(out, value, false);
}

void ConvertTextFrame(const std::string& id, uint8_t major, const std::string& body,
                      uint8_t status, std::vector<Id3v23Part>* parts) {
  const auto encoding = static_cast<uint8_t>(body[0]);
  const Texts values = TakeValues(major, encoding, body, 1);
  if (values.empty()) return;
  if (id == "TDRC") {
    AppendRecordingTime(values[0], parts, status);
  } else if (id == "TDOR") {
    if (AllDigits(values[0], 0, 4))
      parts->push_back({"TORY", Id3TextBody(values[0].substr(0, 4)), status});
  } else if (id == "TIPL" || id == "TMCL") {
    const uint8_t out = EncodingFor(values);
    std::string list(1, static_cast<char>(out));
    for (const std::string& value : values) list += Encoded(out, value, true);
    parts->push_back({"IPLS", list, status});
  } else if (IsOneOf(id, kTimesAsUserText)) {
    const uint8_t out = EncodingFor(values);
    parts->push_back({"TXXX",
                      std::string(1, static_cast<char>(out)) + Encoded(out, id, true) +
                          Encoded(out, values[0], false),
                      status});
  } else if (id == "TCON") {
    parts->push_back({id, Id3TextBody(GenreFor23(major, values)), status});
  } else {
    parts->push_back({id, Id3TextBody(Joined(values, "/")), status});
  }
}

}  // namespace

std::string Id3v23Frame(const char* id, const std::string& body, uint8_t status_flags,
                        uint8_t format_flags) {
  uint8_t size[4];
  bytes::PutBe32(size, static_cast<uint32_t>(body.size()));
  return std::string(id, 4) + std::string(reinterpret_cast<char*>(size), 4) +
         static_cast<char>(status_flags) + static_cast<char>(format_flags) + body;
}

std::string Id3TextBody(const std::string& value) {
  if (value.empty()) return "";
  switch (ClassifyUtf8Text(value)) {
    case kTextLatin1:
      return std::string(1, '\0') + Utf8ToLatin1(value);
    case kTextBeyondLatin1:
      return std::string(1, '\x01') + Encoded(kId3Utf16, value, false);
    default:
      return std::string(1, '\0') + value;
  }
}

bool AppendSealedAsId3v23(const Id3Frame& frame, const std::string& body, std::string* out) {
  uint8_t status = 0;
  if (!StatusFor23(frame.status_flags, &status)) return false;
  // Sealed or not, these describe the audio in a way 2.3 cannot.
  if (IsOneOf(std::string(frame.id, 4), kNoCounterpart)) return false;
  const uint8_t flags = frame.format_flags;
  // 2.4 puts group, method and data length in front; 2.3 size, method and group.
  const size_t in_front = ((flags & kGrouped24) ? 1 : 0) + ((flags & kEncrypted24) ? 1 : 0) +
                          ((flags & kDataLength24) ? 4 : 0);
  if (body.size() <= in_front || ((flags & kCompressed24) && !(flags & kDataLength24)))
    return false;
  size_t at = 0;
  std::string group, method, length;
  if (flags & kGrouped24) group = body.substr(at++, 1);
  if (flags & kEncrypted24) method = body.substr(at++, 1);
  if (flags & kDataLength24) {
    uint32_t size = 0;
    for (int i = 0; i < 4; ++i) size = size << 7 | (static_cast<uint8_t>(body[at + i]) & 0x7F);
    uint8_t raw[4];
    bytes::PutBe32(raw, size);
    length.assign(reinterpret_cast<char*>(raw), 4);
    at += 4;
  }
  uint8_t format = 0;
  if (flags & kCompressed24) format |= kCompressed23;
  if (flags & kEncrypted24) format |= kEncrypted23;
  if (flags & kGrouped24) format |= kGrouped23;
  if (!(flags & kCompressed24)) length.clear();  // 2.3 gives a size only with compression
  *out += Id3v23Frame(frame.id, length + method + group + body.substr(at), status, format);
  return true;
}

std::vector<Id3v23Part> ConvertToId3v23(const Id3Frame& frame, const std::string& body) {
  std::vector<Id3v23Part> parts;
  uint8_t status = 0;
  if (frame.major >= 4) {
    if (!StatusFor23(frame.status_flags, &status)) return parts;
  } else if (FindId3Frame22(frame.id22) == nullptr || std::strcmp(frame.id22, "LNK") == 0) {
    return parts;  // an unknown layout, or a link whose body names a 3-character id
  }
  const std::string id(frame.id, 4);
  if (body.empty() || IsOneOf(id, kNoCounterpart)) return parts;
  const auto encoding = static_cast<uint8_t>(body[0]);
  const bool has_encoding = id[0] == 'T' || id == "WXXX" || id == "COMM" || id == "USLT" ||
                            id == "USER" || id == "APIC" || id == "GEOB" ||
                            IsOneOf(id, kOtherTextLayouts);
  if (has_encoding && encoding > kId3Utf8) return parts;
  std::string converted;
  if (id == "TXXX" || id == "WXXX") {
    converted = ConvertUserFrame(id, frame.major, body);
  } else if (id[0] == 'T') {
    ConvertTextFrame(id, frame.major, body, status, &parts);
    return parts;
  } else if (id == "COMM" || id == "USLT" || id == "USER") {
    converted = ConvertLanguageText(id, body);
  } else if (id == "APIC" || id == "GEOB") {
    converted = ConvertObject(id, frame.major, body);
  } else if (IsOneOf(id, kOtherTextLayouts) && encoding > kId3Utf16) {
    return parts;  // UTF-16BE or UTF-8 inside a layout we do not take apart
  } else {
    converted = body;  // no text inside, or one in a 2.3 encoding: the same bytes in 2.3
  }
  if (!converted.empty()) parts.push_back({id, converted, status});
  return parts;
}
