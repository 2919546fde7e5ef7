#include "devices/network/property_text.h"

#include "support/value_escape.h"

std::string EncodePropertyText(PropertySet& properties) {
  std::string text;
  for (int32_t index = 0;; ++index) {
    const std::string name = properties.GetColumnName(index);
    if (name.empty()) break;
    if (name.find_first_of(std::string("=\n\0", 3)) != std::string::npos) continue;
    text += name;
    text += '=';
    text += EscapeValueText(properties.GetString(index));
    text += '\n';
  }
  return text;
}

Result DecodePropertyText(const std::string& text, PropertySet& target) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = line.substr(0, equals);
    const std::string value = UnescapeValueText(line.substr(equals + 1));
    if (name.empty() || value.empty()) continue;
    const Result stored = target.SetString(name, value);
    if (rc::Failed(stored)) return stored;
  }
  return rc::kOk;
}
