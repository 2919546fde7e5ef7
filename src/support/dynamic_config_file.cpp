#include "support/dynamic_config_file.h"

#include "support/config_store.h"
#include "support/format_string.h"

namespace {

class LockHolder {
 public:
  explicit LockHolder(RegisteredLock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockHolder() { lock_.Leave(); }

 private:
  RegisteredLock& lock_;
};

std::string Trim(const std::string& text) {
  static const char kBlanks[] = " \t\r\n";
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

DynamicConfigFile::Line Classify(const std::string& raw) {
  const std::string line = Trim(raw);
  if (line.empty() || line[0] == '#' || line[0] == ';') return {DynamicConfigFile::kOther, line};
  if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
    return {DynamicConfigFile::kSection, line};
  }
  if (line.find('=') != std::string::npos) return {DynamicConfigFile::kEntry, line};
  return {DynamicConfigFile::kOther, "; ??? " + line};
}

std::string SectionName(const DynamicConfigFile::Line& line) {
  return line.text.substr(1, line.text.size() - 2);
}

std::string EntryKey(const DynamicConfigFile::Line& line) {
  return line.text.substr(0, line.text.find('='));
}

}  // namespace

void DynamicConfigFile::Load(const std::string& text) {
  LockHolder hold(lock_);
  lines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines_.push_back(Classify(text.substr(start, end - start)));
    start = end + 1;
  }
}

int DynamicConfigFile::FindEntry(const std::string& section, const std::string& key) const {
  bool in_section = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.kind == kSection) {
      in_section = EqualIgnoringCase(SectionName(line), section);
    } else if (in_section && line.kind == kEntry && EqualIgnoringCase(EntryKey(line), key)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool DynamicConfigFile::GetString(const std::string& section, const std::string& key,
                                  std::string* value) {
  LockHolder hold(lock_);
  const int index = FindEntry(section, key);
  if (index < 0) return false;
  const std::string& text = lines_[index].text;
  *value = text.substr(text.find('=') + 1);
  return true;
}

bool DynamicConfigFile::GetInt(const std::string& section, const std::string& key,
                               int32_t* value) {
  std::string text;
  if (!GetString(section, key, &text)) return false;
  bool consumed = false;
  const int32_t number = ParseConfigNumber(text, &consumed);
  if (!consumed) return false;
  *value = number;
  return true;
}

void DynamicConfigFile::SetInt(const std::string& section, const std::string& key,
                               int32_t value) {
  SetString(section, key, FormatString("%d", value));
}

void DynamicConfigFile::SetString(const std::string& section, const std::string& key,
                                  const std::string& value) {
  LockHolder hold(lock_);
  const Line entry = {kEntry, key + "=" + value};
  const int index = FindEntry(section, key);
  if (index >= 0) {
    lines_[index] = entry;
    return;
  }
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == kSection && EqualIgnoringCase(SectionName(lines_[i]), section)) {
      lines_.insert(lines_.begin() + i + 1, entry);
      return;
    }
  }
  lines_.push_back({kSection, "[" + section + "]"});
  lines_.push_back(entry);
}

std::vector<DynamicConfigFile::Line> DynamicConfigFile::Lines() {
  LockHolder hold(lock_);
  return lines_;
}
