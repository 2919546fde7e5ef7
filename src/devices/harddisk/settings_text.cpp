// The player's settings texts: lines of key, separator and value. A double quote opens a quoted
// stretch only at the start of a line or right after the separator; line ends inside it do not
// end the line, and a backslash inside it escapes the character after it (so "\\" is one
// escaped backslash, and the double quote after it closes the stretch).
#include <string>

#include "devices/harddisk/tarnu_channel.h"
#include "media/property_set.h"

namespace {

std::string Unquoted(const std::string& value) {
  if (value.size() < 2 || value.front() != '"' || value.back() != '"') return value;
  std::string out;
  const size_t end = value.size() - 1;
  for (size_t i = 1; i < end; ++i) {
    if (value[i] == '\\') {
      if (++i >= end) break;
    }
    out.push_back(value[i]);
  }
  return out;
}

Result StoreLine(const std::string& line, char separator, PropertySet& set) {
  const size_t at = line.find(separator);
  if (at == std::string::npos) return rc::kOk;
  return set.SetString(line.substr(0, at), Unquoted(line.substr(at + 1)));
}

}  // namespace

Result ParseSettingsText(const std::string& text, char separator, char line_end,
                         PropertySet& set) {
  Result result = rc::kOk;
  auto keep = [&result](Result stored) {
    if (rc::Failed(stored) && (!rc::Failed(result) || result == rc::kNotFound)) result = stored;
  };
  std::string line;
  bool quoted = false;
  bool escaped = false;  // inside a quoted stretch, after an unpaired backslash
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!quoted && c == line_end) {
      keep(StoreLine(line, separator, set));
      line.clear();
      continue;
    }
    if (quoted) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        quoted = false;
    } else if (c == '"' && (line.empty() || line.back() == separator)) {
      quoted = true;
    }
    line.push_back(c);
  }
  if (!line.empty()) keep(StoreLine(line, separator, set));
  return result;
}
