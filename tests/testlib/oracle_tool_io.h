// The command and result files of the oracle tools that Python scripts drive under Wine: one
// command a line, fields separated by tabs; results written in one piece at the end.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The lines of the command file without their line ends; false when it cannot be read.
inline bool ReadCommandLines(const char* path, std::vector<std::string>* lines) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::string text;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
  std::fclose(file);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines->push_back(line);
    start = end + 1;
  }
  return true;
}

inline std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

inline bool WriteResults(const char* path, const std::string& results) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(results.data(), 1, results.size(), file) == results.size();
  return std::fclose(file) == 0 && written;
}
