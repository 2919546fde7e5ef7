#include "media/vorbis_comment_keys.h"

#include <cctype>

#include "media/tag_reader.h"
#include "media/utf8_clean.h"

namespace {

struct Row {
  const char* field;  // empty: the key is never a comment
  const char* key;
};

const Row kVorbisCommentKeyTable[] = {
    {"date", "year"},
    {"album", "source"},
    {"tracknumber", "tracknr"},
    {"version", "subtitle"},
    {"replaygain_track_peak", "replay_gain_peak"},
    {"replaygain_track_gain", "replay_gain_radio"},
    {"replaygain_album_gain", "replay_gain_audiophile"},
    {"", "type"},  {"", "playlist"}, {"", "options"}, {"", "file_id"}, {"", "trailer"},
    {"", "offset"}, {"", "samplerate"}, {"", "bitrate"}, {"", "duration"}, {"", "length"},
    {"", "fid"},   {"", "rid"},      {"", "path"},    {"", "mtime"},   {"", "ctime"},
    {"", "state"}, {"", "codec"},    {"", "copyright"}, {"", "copy"},  {"", "drm"},
    // Database columns of the drive's music database: internal, never comments.
    {"", "fid_generation"}, {"", "image_path"}, {"", "cd_toc"},
};

}  // namespace

std::string VorbisNameToKey(const std::string& name) {
  for (const Row& row : kVorbisCommentKeyTable) {
    if (!*row.field) continue;
    if (name == row.field) return row.key;
  }
  for (const Row& row : kVorbisCommentKeyTable) {
    if (name == row.key) return *row.field ? row.key : "";
  }
  return name;
}

std::string KeyToVorbisName(const std::string& key) {
  for (const Row& row : kVorbisCommentKeyTable) {
    if (key == row.key) return row.field;
  }
  return key;
}

void DeliverVorbisComment(const char* entry, size_t length, TagSink* sink) {
  const std::string text = CleanUtf8(entry, length);
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return;
  std::string name = text.substr(0, equals);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string key = VorbisNameToKey(name);
  if (!key.empty()) sink->SetString(key.c_str(), text.c_str() + equals + 1);
}
