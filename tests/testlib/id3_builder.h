// Byte builders for MP3 test files: ID3v2 tags and frames of each version, ID3v1 blocks,
// Lyrics3 blocks and a run of valid MPEG audio frames, plus a sink that records what a tag
// reader delivers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "media/tag_reader.h"
#include "testlib/mpeg_frames.h"

namespace id3test {

using mpegtest::BigEndian;
std::string SyncSafe(uint32_t value);

// A frame of version 2.2 (3-character id), 2.3 (plain size) or 2.4 (sync-safe size).
std::string Frame22(const std::string& id, const std::string& body);
std::string Frame23(const std::string& id, const std::string& body, uint16_t flags = 0);
std::string Frame24(const std::string& id, const std::string& body, uint16_t flags = 0);
// A text body: the encoding byte, then the bytes as given.
std::string Text(uint8_t encoding, const std::string& bytes);

// Header (size field sync-safe over frames + padding), the frames, zero padding.
std::string Tag(uint8_t major, const std::string& frames, uint8_t flags = 0, uint32_t padding = 0);

std::string Id3v1(const std::string& title, const std::string& artist = "",
                  const std::string& album = "", const std::string& year = "",
                  const std::string& comment = "", int track = -1, uint8_t genre = 255);
// "LYRICSBEGIN", the fields, the six-digit size and "LYRICS200"; the size counts the
// fields and "LYRICSBEGIN".
std::string Lyrics3(const std::string& fields);

// `count` MPEG-1 layer III frames of 128 kbit/s at 44100 Hz, stereo, original (417 bytes each).
inline std::string Audio(int count) { return mpegtest::Frames(mpegtest::kMpeg1L3, count); }

class RecordingSink : public TagSink {
 public:
  void SetInt(const char* key, uint32_t value) override;
  void SetString(const char* key, const char* value) override;

  bool Has(const std::string& key) const { return values.count(key) != 0; }
  // The last value of a key, or "<none>".
  std::string Get(const std::string& key) const;

  std::map<std::string, std::string> values;  // integers in decimal
  std::vector<std::string> order;             // keys in delivery order
};

}  // namespace id3test
