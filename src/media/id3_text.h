// Decoding of ID3v2 frame bodies: the four text encodings, unsynchronisation, and the
// terminated strings inside comment and picture frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Frame text encodings (the first byte of text, comment and picture bodies).
enum Id3TextEncoding : uint8_t {
  kId3Latin1 = 0,
  kId3Utf16 = 1,    // with a byte-order mark
  kId3Utf16Be = 2,  // without one
  kId3Utf8 = 3,
};

// Every 0xFF 0x00 pair becomes 0xFF.
std::string RemoveUnsynchronisation(const std::string& bytes);

// `size` bytes of text in `encoding` as UTF-8, up to the first NUL character. An odd last
// byte of UTF-16 is dropped; malformed text becomes U+FFFD. False (and no text) for an
// unknown encoding.
bool DecodeId3Text(uint8_t encoding, const char* data, size_t size, std::string* text);

// The text of a text-frame body (encoding byte, then text); empty when there is none.
std::string DecodeId3TextFrame(const std::string& body);

// The comment of a COMM body (encoding, language, description, comment). False when the
// body is too short or ends inside the description.
bool DecodeId3CommentFrame(const std::string& body, std::string* comment);

// The description of a COMM body (behind encoding and language) as UTF-8; false when the body
// ends inside it. Readers show the comment without a description; the others hold data of
// other applications (volume levels, disc ids).
bool DecodeId3CommentDescription(const std::string& body, std::string* description);

// Offset behind the NUL terminator (one zero byte, or a zero 16-bit unit for the UTF-16
// encodings) of the string that starts at `offset`; std::string::npos when the body ends
// first.
size_t SkipId3String(uint8_t encoding, const std::string& body, size_t offset);

// Offset of the picture data in a picture-frame body: behind the encoding byte, the image
// format (a 3-letter format in 2.2, a NUL-terminated MIME type later), the picture type and
// the terminated description. std::string::npos when the body ends first.
size_t Id3PictureDataOffset(uint8_t major, const std::string& body);
