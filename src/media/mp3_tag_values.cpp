#include "media/mp3_tag_values.h"

#include <cstdlib>

#include "media/id3_genres.h"
#include "media/tag_reader.h"

const Mp3KeySource kMp3KeySourceTable[] = {
    {"title", {"TIT2", "1TIT", "0TIT"}},
    {"artist", {"TPE1", "TPE2", "TPE3", "TCOM", "1ART"}},
    {"source", {"TALB", "1ALB"}},
    // 2.4 tags give the year as the start of their recording time.
    {"year", {"TYER", "TDRC", "1YER"}},
    {"comment", {kCommentSource, kDescribedCommentSource, "1COM"}},
    {"genre", {"TCON", "1CON"}},
    {"tracknr", {"TRCK", "1TRK", "1TNR"}},
    {"file_id", {"TRCK", "1TRK", "1TNR"}},
    {"subtitle", {"TIT3"}},
    {"composer", {"TCOM"}},
    {"ensemble", {"TPE2"}},
    {"conductor", {"TPE3"}},
    {"remixed", {"TPE4"}},
    {"partofset", {"TPOS"}},
    {"partname", {"TSST"}},
    {"isrc", {"TSRC"}},
    {"originalartist", {"TOPE"}},
    {"lyricist", {"TEXT"}},
    {"bpm", {"TBPM"}},
    {"key", {"TKEY"}},
    {"language", {"TLAN"}},
    {"sourcemedia", {"TMED"}},
    {"mood", {"TMOO"}},
    {"sourcesort", {"TSOA"}},
    {"artistsort", {"TSOP"}},
    {"titlesort", {"TSOT"}},
    {nullptr, {}},
};

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "(n)" at the start of a content type names genre n, whatever text follows it.
bool GenreReference(const std::string& value, int32_t* index) {
  if (value.size() < 3 || value[0] != '(') return false;
  const size_t close = value.find(')');
  if (close == std::string::npos) return false;
  size_t i = 1;
  if (value[i] == '-' || value[i] == '+') ++i;
  if (i == close) return false;
  for (size_t j = i; j < close; ++j) {
    if (!IsDigit(value[j])) return false;
  }
  // Anything past the table's end is no genre; keep the number small enough to hold.
  const long number = close - i > 6 ? kId3GenreCount : std::strtol(value.c_str() + 1, nullptr, 10);
  *index = number >= kId3GenreCount ? kId3GenreCount : static_cast<int32_t>(number);
  return true;
}

}  // namespace

void Mp3TagValues::Gather(const std::string& id, const std::string& value) {
  if (values_.count(id) != 0) return;
  if (id == "TCON") {
    int32_t index;
    std::string genre = GenreReference(value, &index) ? GenreName(index) : value;
    if (genre.compare(0, 2, "((") == 0) genre.erase(0, 1);  // 2.3's escaped parenthesis
    if (!genre.empty()) values_[id] = genre;
  } else if (id == "TDRC") {
    if (value.size() >= 4 && IsDigit(value[0]) && IsDigit(value[1]) && IsDigit(value[2]) &&
        IsDigit(value[3]))
      values_[id] = value.substr(0, 4);
  } else if (id == "1YER") {
    if (std::strtol(value.c_str(), nullptr, 10) >= 1) values_[id] = value;
  } else {
    values_[id] = value;
  }
}

const std::string* Mp3TagValues::Find(const std::string& id) const {
  const auto found = values_.find(id);
  return found == values_.end() ? nullptr : &found->second;
}

void Mp3TagValues::Deliver(TagSink* sink) const {
  for (const Mp3KeySource* row = kMp3KeySourceTable; row->key != nullptr; ++row) {
    for (const char* const* source = row->sources; *source != nullptr; ++source) {
      if (const std::string* value = Find(*source)) {
        sink->SetString(row->key, value->c_str());
        break;
      }
    }
  }
}
