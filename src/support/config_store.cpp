#include "support/config_store.h"

#include <cstdlib>
#include <cstring>

#include "support/format_string.h"
#include "support/text_convert.h"

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

int32_t ParseConfigNumber(const std::string& text, bool* consumed) {
  const char* start = text.c_str();
  char* end = nullptr;
  const int base = text.compare(0, 2, "0x") == 0 ? 16 : 10;
  const long value = std::strtol(start, &end, base);
  *consumed = end != start;
  return static_cast<int32_t>(value);
}

void ConfigStore::Parse(const std::string& text) {
  std::string section;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    if (ClassifyUtf8Text(section) == 0 && ClassifyUtf8Text(key) == 0) {
      SetString(section, key, line.substr(equals + 1));
    }
  }
}

const ConfigStore::Entry* ConfigStore::Find(const std::string& section,
                                            const std::string& key) const {
  for (const Entry& entry : entries_) {
    if (EqualIgnoringCase(entry.section, section) && EqualIgnoringCase(entry.key, key)) {
      return &entry;
    }
  }
  return nullptr;
}

bool ConfigStore::GetString(const std::string& section, const std::string& key,
                            std::string* value) const {
  const Entry* entry = Find(section, key);
  if (entry == nullptr) return false;
  *value = entry->value;
  return true;
}

bool ConfigStore::GetInt(const std::string& section, const std::string& key,
                         int32_t* value) const {
  const Entry* entry = Find(section, key);
  if (entry == nullptr) return false;
  bool consumed = false;
  *value = ParseConfigNumber(entry->value, &consumed);
  return true;
}

void ConfigStore::SetString(const std::string& section, const std::string& key,
                            const std::string& value) {
  Entry* entry = const_cast<Entry*>(Find(section, key));
  if (entry != nullptr) {
    entry->value = value;
  } else {
    entries_.push_back({section, key, value});
  }
}

void ConfigStore::SetInt(const std::string& section, const std::string& key, int32_t value) {
  SetString(section, key, FormatString("%d", value));
}

void ConfigStore::Write(std::string* text) const {
  std::string out;
  std::string current;
  for (const Entry& entry : entries_) {
    if (entry.section != current) {
      current = entry.section;
      out += "[" + current + "]\n";
    }
    out += entry.key + "=" + entry.value + "\n";
  }
  *text = out;
}
