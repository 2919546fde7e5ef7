#include "devices/msc/track_file_name.h"

#include <cstdio>

#include "media/property_set.h"
#include "support/path_helpers.h"
#include "support/ref_counted.h"
#include "support/text_convert.h"

namespace {

std::string TrackNumberText(int32_t number, const char* format) {
  if (number <= 0) return std::string();
  char text[32];
  std::snprintf(text, sizeof text, format, number);
  return text;
}

// `separator` follows the value; with one, an empty converted value gives nothing at all.
std::string CleanedText(PropertySet& properties, const char* name, const char* separator) {
  std::string converted = Utf8ToAnsiString(properties.GetString(name));
  if (converted.empty()) return std::string();
  return SanitizeFileName(converted) + separator;
}

std::string ExpandCode(char code, PropertySet& properties) {
  switch (code) {
    case '%': return "%";
    case 'A': return CleanedText(properties, "artist", "");
    case 'N': return CleanedText(properties, "title", "");
    case 'T': return CleanedText(properties, "source", "");
    case 'a': return CleanedText(properties, "artist", " - ");
    case 't': return CleanedText(properties, "source", " - ");
    case 'R': return CleanedText(properties, "artist", "_");
    case '#': return TrackNumberText(properties.GetInt("tracknr"), "%02d");
    case ' ': return TrackNumberText(properties.GetInt("tracknr"), "%02d ");
    case '-': return TrackNumberText(properties.GetInt("tracknr"), "%02d - ");
    case '_': return TrackNumberText(properties.GetInt("tracknr"), "%02d_");
    default: return std::string();
  }
}

// A pair of backslashes that begins at the third character or later becomes one. The first
// two characters are kept, so a leading "\\" (network path) survives.
void CollapseDoubledBackslashes(std::string* path) {
  if (path->size() <= 2) return;
  std::string out = path->substr(0, 2);
  for (size_t i = 2; i < path->size(); ++i) {
    if ((*path)[i] == '\\' && out.size() > 2 && out.back() == '\\') continue;
    out.push_back((*path)[i]);
  }
  *path = out;
}

}  // namespace

std::string ExpandTrackFileName(const std::string& path_template, PropertySet& properties) {
  RefPtr<PropertySet> hold(&properties);
  std::string out;
  for (size_t i = 0; i < path_template.size(); ++i) {
    if (path_template[i] != '%') {
      out.push_back(path_template[i]);
      continue;
    }
    if (i + 1 >= path_template.size()) break;  // a lone '%' at the end ends the expansion
    out += ExpandCode(path_template[++i], properties);
  }
  CollapseDoubledBackslashes(&out);
  return out;
}
