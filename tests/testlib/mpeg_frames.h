// Byte builders for MPEG audio test streams: frames of a given header word with a silent body,
// and first frames that carry a Xing/Info or VBRI header.
#pragma once

#include <cstdint>
#include <string>

#include "media/mpeg_audio.h"

namespace mpegtest {

// MPEG-1 layer III, 128 kbit/s, 44100 Hz, joint stereo, original (417 bytes; 418 padded).
constexpr uint32_t kMpeg1L3 = 0xFFFB9044;
constexpr uint32_t kMpeg1L3Padded = kMpeg1L3 | 0x200;
constexpr uint32_t kMpeg1L3Mono = 0xFFFB90C4;
// MPEG-1 layer III, 128 kbit/s, 48000 Hz (384 bytes).
constexpr uint32_t kMpeg1L3At48k = 0xFFFB9444;

inline std::string BigEndian(uint32_t value, int bytes = 4) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

// One frame of the header's length (at least the header), zeros behind the header.
inline std::string Frame(uint32_t word) {
  const int32_t length = MpegAudioHeader::Decode(word).FrameLength();
  std::string frame = BigEndian(word);
  if (length > 4) frame.resize(static_cast<size_t>(length), '\0');
  return frame;
}

inline std::string Frames(uint32_t word, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += Frame(word);
  return out;
}

// A first frame with `fields` placed where encoders put a VBR header: behind the side
// information (32 bytes for MPEG-1 stereo).
inline std::string FrameWith(uint32_t word, const std::string& fields, size_t offset = 36) {
  std::string frame = Frame(word);
  frame.replace(offset, fields.size(), fields);
  return frame;
}

inline std::string Xing(const char* tag, uint32_t flags, uint32_t frames, uint32_t bytes) {
  std::string out = std::string(tag, 4) + BigEndian(flags);
  if (flags & 1) out += BigEndian(frames);
  if (flags & 2) out += BigEndian(bytes);
  return out;
}

inline std::string Vbri(uint32_t bytes, uint32_t frames) {
  return "VBRI" + BigEndian(1, 2) + BigEndian(576, 2) + BigEndian(75, 2) + BigEndian(bytes) +
         BigEndian(frames) + BigEndian(0, 2) + BigEndian(1, 2) + BigEndian(2, 2) +
         BigEndian(1, 2);
}

}  // namespace mpegtest
