// An ini-style text kept line by line as it was read (comments and unknown lines too), with
// lookups and in-place edits by section and key under a lock. Sections and keys match without
// regard to case; the first match wins.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/registered_lock.h"

class ConfigFile {
 public:
  virtual ~ConfigFile() = default;
  virtual bool GetString(const std::string& section, const std::string& key,
                         std::string* value) = 0;
  // True only when a number was read; the value is left alone otherwise.
  virtual bool GetInt(const std::string& section, const std::string& key, int32_t* value) = 0;
  virtual void SetInt(const std::string& section, const std::string& key, int32_t value) = 0;
  virtual void SetString(const std::string& section, const std::string& key,
                         const std::string& value) = 0;
  virtual void Reserved() {}
};

class DynamicConfigFile : public ConfigFile {
 public:
  enum LineKind : int32_t { kOther = 0, kSection = 1, kEntry = 2 };
  struct Line {
    LineKind kind;
    std::string text;
  };

  DynamicConfigFile() : lock_("DynamicConfigFile") {}

  // Drops every line, then takes those of `text`, trimmed of blanks and line ends.
  void Load(const std::string& text);
  bool GetString(const std::string& section, const std::string& key,
                 std::string* value) override;
  bool GetInt(const std::string& section, const std::string& key, int32_t* value) override;
  void SetInt(const std::string& section, const std::string& key, int32_t value) override;
  // A new key goes right under its section's first header; a new section at the end.
  void SetString(const std::string& section, const std::string& key,
                 const std::string& value) override;

  std::vector<Line> Lines();

 private:
  // The index of the entry line, or -1.
  int FindEntry(const std::string& section, const std::string& key) const;

  RegisteredLock lock_;
  std::vector<Line> lines_;
};
