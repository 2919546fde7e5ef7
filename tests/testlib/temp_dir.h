// A fresh folder under the Windows temporary folder, removed with its files at the end.
#pragma once

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path of a file inside the folder (ANSI code page, backslash separated).
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  // Writes bytes to a file in the folder and returns its path.
  std::string WriteFile(const std::string& name, const std::string& bytes) const;
  static std::string ReadFile(const std::string& path);

 private:
  std::string path_;
};
