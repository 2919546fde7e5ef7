// An ini-style text as an ordered list of (section, key, value) triples: parsed, queried,
// changed and written back. Sections and keys match without regard to case.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ConfigStore {
 public:
  // Adds the triples of `text` to those already held; lines are cut at '\n' only.
  void Parse(const std::string& text);
  bool GetString(const std::string& section, const std::string& key, std::string* value) const;
  // Base 16 after "0x", else 10; a present value without digits gives 0 (and true).
  bool GetInt(const std::string& section, const std::string& key, int32_t* value) const;
  // Replaces the first match, else appends.
  void SetString(const std::string& section, const std::string& key, const std::string& value);
  void SetInt(const std::string& section, const std::string& key, int32_t value);
  // A header before each run of one section; entries of the empty section lead without one.
  void Write(std::string* text) const;
  size_t Count() const { return entries_.size(); }

 private:
  struct Entry {
    std::string section;
    std::string key;
    std::string value;
  };
  const Entry* Find(const std::string& section, const std::string& key) const;

  std::vector<Entry> entries_;
};

// Both texts of one length and equal without regard to the case of letters.
bool EqualIgnoringCase(const std::string& a, const std::string& b);
// strtol of `text`, base 16 after a leading "0x"; *consumed tells whether a digit was read.
int32_t ParseConfigNumber(const std::string& text, bool* consumed);
